#pragma once
// How a container creates a control, or any creatable class of a module:
// the class is found by programmatic or class identifier in the registry of
// classes, its module is loaded, and the module's class factory makes the
// object. The container holds the object by reference; releasing the last
// reference destroys it, and the module then counts it gone.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "control/interfaces/guid.hpp"
#include "control/interfaces/interfaces.hpp"
#include "control/interfaces/registry.hpp"

namespace vintrel::control {

/// A loaded module and its entry points. Modules stay loaded while the
/// program runs: code of theirs may be reached through any object they made.
class Module {
 public:
  Module(std::string path, DllGetClassObjectFn get_class_object, DllCanUnloadNowFn can_unload_now,
         DllRegisterServerFn register_server, DllUnregisterServerFn unregister_server);
  const std::string& path() const { return path_; }

  HRESULT DllGetClassObject(const Guid& clsid, const Guid& iid, void** object) const;
  HRESULT DllCanUnloadNow() const;
  HRESULT DllRegisterServer() const;
  HRESULT DllUnregisterServer() const;

  /// The module at `path`, loaded once for the program. Fails with 429
  /// when it does not load or lacks an entry point.
  static const Module& load(const std::string& path);

 private:
  std::string path_;
  DllGetClassObjectFn get_class_object_;
  DllCanUnloadNowFn can_unload_now_;
  DllRegisterServerFn register_server_;
  DllUnregisterServerFn unregister_server_;
};

class Creator {
 public:
  /// Finds classes in the registry file `registry`, read afresh for every
  /// look-up so that classes registered meanwhile are found.
  explicit Creator(std::filesystem::path registry = Registry::default_path());

  /// The class identifier of `name`, a class identifier in its text form
  /// or a programmatic identifier such as "Vintrel.UserControl1"; 429 when
  /// no such class is registered.
  Guid class_id(std::string_view name) const;
  /// The module serving the class, loaded; 429 when there is none.
  const Module& module_of(const Guid& clsid) const;

  /// A new object of the class `name`. A control needs the platform it runs
  /// on, and may be given its host; both must outlive the object. Fails
  /// with 429 when the object cannot be made.
  std::shared_ptr<automation::Object> create(std::string_view name, platform::Platform* platform = nullptr,
                                             platform::Container* host = nullptr) const;
  /// A new control of the class `name`; 429 when the class is no control.
  std::shared_ptr<AutomationControl> create_control(std::string_view name, platform::Platform& platform,
                                                    platform::Container* host = nullptr) const;

 private:
  std::filesystem::path registry_;
};

}  // namespace vintrel::control
