// The in-process server module libVintrel.so: the four entry points a host
// finds by name. Everything else of the control is local to the module, so a
// host that links the control itself does not clash with it.

#include <dlfcn.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <system_error>

#include "control/dispatch.hpp"
#include "control/interfaces/interfaces.hpp"
#include "control/interfaces/registry.hpp"
#include "control/object_safety.hpp"
#include "control/registration.hpp"
#include "control/type_library.hpp"
#include "queue/records.hpp"

namespace vintrel::control {
namespace {

std::atomic<long> live_objects{0};
std::atomic<long> locks{0};

// The module's start: the safety answers are fixed before any object exists.
[[maybe_unused]] const bool started = (start_module(), true);

// Hands out `object` so that its release is counted.
template <class T>
std::shared_ptr<automation::Object> counted(std::unique_ptr<T> object) {
  ++live_objects;
  return std::shared_ptr<automation::Object>(object.release(), [](automation::Object* o) {
    delete o;
    --live_objects;
  });
}

class Factory final : public ClassFactory {
 public:
  explicit Factory(bool control) : control_(control) {}

  HRESULT CreateInstance(platform::Platform* platform, platform::Container* host,
                         std::shared_ptr<automation::Object>& object) override {
    try {
      if (!control_) {
        object = counted(std::make_unique<queue::remoteServerLoc>());
        return hr::S_OK;
      }
      if (!platform) return hr::E_INVALIDARG;
      object = counted(std::make_unique<ControlObject>(*platform, host));
      return hr::S_OK;
    } catch (const std::bad_alloc&) {
      return static_cast<HRESULT>(0x8007000Eu);  // E_OUTOFMEMORY
    } catch (...) {
      return hr::E_FAIL;
    }
  }

  HRESULT LockServer(bool lock) override {
    if (lock) {
      ++locks;
      return hr::S_OK;
    }
    // An unlock without its lock must not hide a real one.
    long held = locks.load();
    while (held > 0 && !locks.compare_exchange_weak(held, held - 1)) {
    }
    return held > 0 ? hr::S_OK : hr::E_FAIL;
  }

 private:
  bool control_;
};

Factory control_factory{true};
Factory server_factory{false};

// The module's own file, absolute, as the registry must name it. The name
// the host loaded it by is kept: installed, that is the link libVintrel.so,
// which an upgrade moves to the new libVintrel.so.X.Y.Z, whereas the file
// it points to today is removed then and the registration would be left
// naming nothing.
std::string module_path() {
  static const char anchor = 0;
  Dl_info info{};
  if (!dladdr(&anchor, &info) || !info.dli_fname) return {};
  const std::filesystem::path loaded(info.dli_fname);
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(loaded, ec);
  if (ec) return loaded.string();
  const auto folder = std::filesystem::weakly_canonical(absolute.parent_path(), ec);
  return ec ? absolute.string() : (folder / loaded.filename()).string();
}

}  // namespace
}  // namespace vintrel::control

using vintrel::control::Guid;
using vintrel::control::HRESULT;
namespace hr = vintrel::control::hr;

// The entry points are the module's only visible symbols.
#define VINTREL_EXPORT __attribute__((visibility("default")))

extern "C" {

VINTREL_EXPORT HRESULT DllRegisterServer() {
  try {
    const std::string path = vintrel::control::module_path();
    if (path.empty()) return hr::SELFREG_E_CLASS;
    return vintrel::control::register_module(path, vintrel::control::Registry::default_path());
  } catch (...) {
    return hr::SELFREG_E_CLASS;
  }
}

VINTREL_EXPORT HRESULT DllUnregisterServer() {
  try {
    const std::string path = vintrel::control::module_path();
    if (path.empty()) return hr::SELFREG_E_CLASS;
    return vintrel::control::unregister_module(path, vintrel::control::Registry::default_path());
  } catch (...) {
    return hr::SELFREG_E_CLASS;
  }
}

VINTREL_EXPORT HRESULT DllGetClassObject(const Guid& clsid, const Guid& iid, void** object) {
  if (!object) return hr::E_POINTER;
  *object = nullptr;
  const auto classes = vintrel::control::typelib::classes();
  vintrel::control::ClassFactory* factory = nullptr;
  if (clsid == classes[0].id) factory = &vintrel::control::control_factory;
  if (clsid == classes[1].id) factory = &vintrel::control::server_factory;
  if (!factory) return hr::CLASS_E_CLASSNOTAVAILABLE;
  if (iid != vintrel::control::IID_IClassFactory && iid != vintrel::control::IID_IUnknown) return hr::E_NOINTERFACE;
  *object = factory;
  return hr::S_OK;
}

VINTREL_EXPORT HRESULT DllCanUnloadNow() {
  return vintrel::control::live_objects.load() == 0 && vintrel::control::locks.load() == 0 ? hr::S_OK : hr::S_FALSE;
}

}  // extern "C"
