#include "control/creator/creator.hpp"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace vintrel::control {

namespace {

constexpr std::int32_t cannot_create = 429;

[[noreturn]] void fail(const std::string& why) {
  automation::raise(cannot_create, "Vintrel", "Can't create object: " + why);
}

std::string code_text(HRESULT code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

template <class Fn>
Fn entry_point(void* handle, const char* name) {
  void* symbol = dlsym(handle, name);
  // dlsym hands functions out as object pointers; POSIX makes the round
  // trip through memcpy well defined.
  Fn fn = nullptr;
  static_assert(sizeof fn == sizeof symbol);
  std::memcpy(&fn, &symbol, sizeof fn);
  return fn;
}

}  // namespace

Module::Module(std::string path, DllGetClassObjectFn get_class_object, DllCanUnloadNowFn can_unload_now,
               DllRegisterServerFn register_server, DllUnregisterServerFn unregister_server)
    : path_(std::move(path)),
      get_class_object_(get_class_object),
      can_unload_now_(can_unload_now),
      register_server_(register_server),
      unregister_server_(unregister_server) {}

HRESULT Module::DllGetClassObject(const Guid& clsid, const Guid& iid, void** object) const {
  return get_class_object_(clsid, iid, object);
}
HRESULT Module::DllCanUnloadNow() const { return can_unload_now_(); }
HRESULT Module::DllRegisterServer() const { return register_server_(); }
HRESULT Module::DllUnregisterServer() const { return unregister_server_(); }

const Module& Module::load(const std::string& path) {
  static std::mutex guard;
  static std::map<std::string, std::unique_ptr<Module>> loaded;
  const std::lock_guard lock(guard);
  if (auto it = loaded.find(path); it != loaded.end()) return *it->second;

  // The module keeps its own symbols to itself: a host that links the
  // control too must not have its copy replaced by the module's.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    fail("cannot load " + path + (why ? std::string(": ") + why : std::string()));
  }
  auto get_class_object = entry_point<DllGetClassObjectFn>(handle, "DllGetClassObject");
  auto can_unload_now = entry_point<DllCanUnloadNowFn>(handle, "DllCanUnloadNow");
  auto register_server = entry_point<DllRegisterServerFn>(handle, "DllRegisterServer");
  auto unregister_server = entry_point<DllUnregisterServerFn>(handle, "DllUnregisterServer");
  if (!get_class_object || !can_unload_now || !register_server || !unregister_server) {
    dlclose(handle);
    fail(path + " is not a module of classes");
  }
  // The handle is never closed: the module stays loaded while the program
  // runs, so only its entry points are kept.
  auto module = std::make_unique<Module>(path, get_class_object, can_unload_now, register_server, unregister_server);
  return *loaded.emplace(path, std::move(module)).first->second;
}

Creator::Creator(std::filesystem::path registry) : registry_(std::move(registry)) {}

Guid Creator::class_id(std::string_view name) const {
  if (auto id = Guid::parse(name)) return *id;
  const auto registry = Registry::load(registry_);
  if (!registry) fail("cannot read the registry " + registry_.string());
  const auto value = registry->get(registry_key::progid(name));
  if (!value) fail(std::string(name) + " is not registered");
  const auto id = Guid::parse(*value);
  if (!id) fail(std::string(name) + " has no valid class identifier");
  return *id;
}

const Module& Creator::module_of(const Guid& clsid) const {
  const auto registry = Registry::load(registry_);
  if (!registry) fail("cannot read the registry " + registry_.string());
  const auto path = registry->get(registry_key::inproc_server(clsid));
  if (!path || path->empty()) fail("class " + clsid.to_string() + " is not registered");
  return Module::load(*path);
}

std::shared_ptr<automation::Object> Creator::create(std::string_view name, platform::Platform* platform,
                                                    platform::Container* host) const {
  const Guid clsid = class_id(name);
  const Module& module = module_of(clsid);
  void* factory_pointer = nullptr;
  const HRESULT got = module.DllGetClassObject(clsid, IID_IClassFactory, &factory_pointer);
  if (!succeeded(got) || !factory_pointer)
    fail(module.path() + " does not serve " + clsid.to_string() + " (" + code_text(got) + ")");
  auto* factory = static_cast<ClassFactory*>(factory_pointer);
  std::shared_ptr<automation::Object> object;
  const HRESULT made = factory->CreateInstance(platform, host, object);
  if (!succeeded(made) || !object) fail(std::string(name) + " refused to make an object (" + code_text(made) + ")");
  return object;
}

std::shared_ptr<AutomationControl> Creator::create_control(std::string_view name, platform::Platform& platform,
                                                           platform::Container* host) const {
  auto control = std::dynamic_pointer_cast<AutomationControl>(create(name, &platform, host));
  if (!control) fail(std::string(name) + " is not a control");
  return control;
}

}  // namespace vintrel::control
