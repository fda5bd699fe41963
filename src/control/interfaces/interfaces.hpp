#pragma once
// What a container holds of a control it created, shared by the module and
// the hosts that load it: dispatch by identifier, event connection, the
// property bag, object safety and the class factory. Hosts include this
// header without the control itself.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.hpp"
#include "control/interfaces/guid.hpp"
#include "control/interfaces/hresult.hpp"

namespace vintrel::platform {
class Platform;
class Container;
}  // namespace vintrel::platform

namespace vintrel::control {

/// A dispatch identifier: which member of an interface is meant.
using DispId = std::int32_t;

/// How a member is invoked, as bits; script hosts read a value with
/// method | property_get, since they cannot tell a method from a property.
namespace invoke {
inline constexpr std::uint16_t method = 1;
inline constexpr std::uint16_t property_get = 2;
inline constexpr std::uint16_t property_put = 4;
inline constexpr std::uint16_t property_putref = 8;
}  // namespace invoke

/// An automation object whose members are also reached by identifier.
class Dispatch : public automation::Object {
 public:
  /// The identifier of the member `name` (any letter case); an unknown name
  /// fails with 438.
  virtual DispId GetIDsOfNames(std::string_view name) const = 0;
  /// Invokes member `id`. A put hands the new value as the only argument.
  /// Arguments passed by reference are written back into `args`. An unknown
  /// identifier or a kind the member lacks fails with 438, a wrong count with
  /// 450, an argument that does not convert with 13 or 6.
  virtual automation::Variant Invoke(DispId id, std::uint16_t flags, std::vector<automation::Variant>& args) = 0;
};

/// A listener for a control's events.
class EventSink {
 public:
  virtual ~EventSink() = default;
  /// One event, by identifier and by name, with its arguments.
  virtual void Invoke(DispId id, std::string_view name, std::vector<automation::Variant>& args) = 0;
};

/// Where listeners connect to a control's event interface.
class ConnectionPoint {
 public:
  /// Connects `sink`; the cookie is what Unadvise takes. E_POINTER for none.
  virtual HRESULT Advise(std::shared_ptr<EventSink> sink, std::uint32_t& cookie) = 0;
  /// Disconnects; CONNECT_E_NOCONNECTION for a cookie not connected.
  virtual HRESULT Unadvise(std::uint32_t cookie) = 0;

 protected:
  ~ConnectionPoint() = default;
};

/// Named values a container keeps for a control between sessions.
class PropertyBag {
 public:
  virtual ~PropertyBag() = default;
  /// The value stored under `name`, or `default_value` when there is none.
  virtual automation::Variant Read(std::string_view name, const automation::Variant& default_value) = 0;
  /// Stores `value` under `name`; `default_value` is the control's default.
  virtual void Write(std::string_view name, const automation::Variant& value,
                     const automation::Variant& default_value) = 0;
};

/// A property bag in memory. It stores every value written, also one equal
/// to the default: a bag that drops a value would fail the next load.
class MemoryPropertyBag final : public PropertyBag {
 public:
  automation::Variant Read(std::string_view name, const automation::Variant& default_value) override;
  void Write(std::string_view name, const automation::Variant& value,
             const automation::Variant& default_value) override;
  /// True when `name` (any letter case) holds a value.
  bool contains(std::string_view name) const;
  /// Number of values held.
  std::size_t size() const { return values_.size(); }

 private:
  std::vector<std::pair<std::string, automation::Variant>> values_;
};

/// The scripting-safety questions of a browser.
class ObjectSafety {
 public:
  virtual HRESULT GetInterfaceSafetyOptions(const Guid* riid, std::uint32_t* supported, std::uint32_t* enabled) = 0;
  virtual HRESULT SetInterfaceSafetyOptions(const Guid* riid, std::uint32_t options_mask,
                                            std::uint32_t enabled_options) = 0;

 protected:
  ~ObjectSafety() = default;
};

/// Everything a container reaches on a control it created.
class AutomationControl : public Dispatch, public ConnectionPoint, public ObjectSafety {
 public:
  /// Loads the persisted properties; a failed load raises its error.
  virtual void Load(PropertyBag& bag) = 0;
  /// Saves the persisted properties.
  virtual void Save(PropertyBag& bag) = 0;
};

/// Makes the objects of one class of a module.
class ClassFactory {
 public:
  /// A new object. A control needs the platform it runs on and may be given
  /// the host that embeds it (both must outlive the object); other classes
  /// ignore both. The last reference to the object releases it.
  /// E_INVALIDARG for a control without a platform, E_FAIL when the object
  /// could not be made.
  virtual HRESULT CreateInstance(platform::Platform* platform, platform::Container* host,
                                 std::shared_ptr<automation::Object>& object) = 0;
  /// A lock keeps the module in use with no object alive.
  virtual HRESULT LockServer(bool lock) = 0;

 protected:
  ~ClassFactory() = default;
};

/// The entry points of a module, exported by name with C linkage.
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();
/// Hands out the factory of `clsid` as `*object` when `iid` is IClassFactory.
using DllGetClassObjectFn = HRESULT (*)(const Guid& clsid, const Guid& iid, void** object);
/// S_OK when no object or lock of the module is alive, else S_FALSE.
using DllCanUnloadNowFn = HRESULT (*)();

}  // namespace vintrel::control
