#pragma once
// The control as its container sees it: _UserControl1 by name or by
// dispatch identifier, __UserControl1 through its connection point, the
// persisted "URL", and the safety answers. Wraps one UserControl1 and is the
// container that control raises its events on.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "control/events.hpp"
#include "control/interfaces/interfaces.hpp"
#include "control/type_library.hpp"
#include "platform/platform.hpp"

namespace vintrel::control {

class UserControl1;

class ControlObject final : public AutomationControl {
 public:
  /// A new control on `platform`, embedded in `host` (may be null); both
  /// must outlive the object.
  explicit ControlObject(platform::Platform& platform, platform::Container* host = nullptr);
  ~ControlObject() override;

  /// The engine, for hosts in the same program.
  UserControl1& control() { return *control_; }
  EventHub& events() { return hub_; }

  // By name, as script reaches members: a read or a call may reach a method
  // or a property alike; a write replaces a property.
  std::string_view class_name() const override { return "UserControl1"; }
  automation::Variant get(std::string_view name) const override;
  void put(std::string_view name, const automation::Variant& value) override;
  automation::Variant call(std::string_view name, std::vector<automation::Variant>& args) override;
  std::vector<std::string> member_names() const override;

  DispId GetIDsOfNames(std::string_view name) const override;
  automation::Variant Invoke(DispId id, std::uint16_t flags, std::vector<automation::Variant>& args) override;

  HRESULT Advise(std::shared_ptr<EventSink> sink, std::uint32_t& cookie) override;
  HRESULT Unadvise(std::uint32_t cookie) override;

  HRESULT GetInterfaceSafetyOptions(const Guid* riid, std::uint32_t* supported, std::uint32_t* enabled) override;
  HRESULT SetInterfaceSafetyOptions(const Guid* riid, std::uint32_t options_mask,
                                    std::uint32_t enabled_options) override;

  void Load(PropertyBag& bag) override;
  void Save(PropertyBag& bag) override;

 private:
  automation::Variant invoke(const typelib::Member& member, std::uint16_t flags,
                             std::vector<automation::Variant>& args) const;

  EventHub hub_;
  std::unique_ptr<UserControl1> control_;
};

}  // namespace vintrel::control
