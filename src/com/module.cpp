// The in-process server Vintrel.dll: the four entry points regsvr32 and
// CoCreateInstance find by name, and the class factories of the control and
// of remoteServerLoc.

#include <olectl.h>
#include <windows.h>

#include <memory>

#include "com/control.hpp"
#include "com/object_dispatch.hpp"
#include "com/registration.hpp"
#include "com/type_info.hpp"
#include "com/unknown.hpp"
#include "control/object_safety.hpp"
#include "control/type_library.hpp"
#include "queue/records.hpp"

namespace vintrel::com {

namespace {

// The module's start: the safety answers are fixed before any object exists.
[[maybe_unused]] const bool started = (control::start_module(), true);

class Factory final : public IClassFactory {
 public:
  explicit Factory(bool control) : control_(control) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) return hand_out(this, out);
    return E_NOINTERFACE;
  }
  // The factories are the module's own statics: they live as long as it.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    IUnknown* object = nullptr;
    try {
      object = control_ ? make_control() : dispatch_of(std::make_shared<queue::remoteServerLoc>());
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_FAIL;
    }
    const HRESULT hr = object->QueryInterface(riid, out);
    object->Release();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      module_add_ref();
    else
      module_release();
    return S_OK;
  }

 private:
  bool control_;
};

Factory control_factory{true};
Factory server_factory{false};

}  // namespace

}  // namespace vintrel::com

namespace com = vintrel::com;

extern "C" {

/// Registers the classes, per user, or for the machine when elevated.
STDAPI DllRegisterServer() {
  try {
    const std::wstring path = com::module_path();
    if (path.empty()) return SELFREG_E_CLASS;
    return com::register_server(com::elevated() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, path);
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

/// Removes the registration from where DllRegisterServer would write it.
STDAPI DllUnregisterServer() {
  try {
    const std::wstring path = com::module_path();
    if (path.empty()) return SELFREG_E_CLASS;
    return com::unregister_server(com::elevated() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, path);
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

/// The factory of `clsid`.
STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const auto classes = vintrel::control::typelib::classes();
  IClassFactory* factory = nullptr;
  if (clsid == com::to_guid(classes[0].id)) factory = &com::control_factory;
  if (clsid == com::to_guid(classes[1].id)) factory = &com::server_factory;
  if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
  return factory->QueryInterface(riid, out);
}

/// S_OK when no object or lock of the module is alive.
STDAPI DllCanUnloadNow() { return com::module_refs() == 0 ? S_OK : S_FALSE; }

}  // extern "C"
