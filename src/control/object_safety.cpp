#include "control/object_safety.hpp"

namespace vintrel::control {

namespace {

SafetyFlags flags_of_module;

bool is_persistence(const Guid& riid) {
  return riid == IID_IPersistStorage || riid == IID_IPersistStream || riid == IID_IPersistPropertyBag;
}

}  // namespace

const SafetyFlags& module_safety_flags() { return flags_of_module; }

void start_module() {
  flags_of_module.safeForScripting = true;
  flags_of_module.safeForInitializing = true;
}

HRESULT get_interface_safety_options(const SafetyFlags& flags, const Guid* riid, std::uint32_t* supported,
                                     std::uint32_t* enabled) {
  if (!supported) return hr::E_POINTER;
  *supported = safety_option::untrusted_caller | safety_option::untrusted_data;
  if (!riid) return hr::S_OK;
  const bool known = *riid == IID_IDispatch || is_persistence(*riid);
  if (known && !enabled) return hr::E_POINTER;
  if (*riid == IID_IDispatch) {
    *enabled = flags.safeForScripting ? safety_option::untrusted_caller : 0;
    return hr::S_OK;
  }
  if (is_persistence(*riid)) {
    *enabled = flags.safeForInitializing ? safety_option::untrusted_data : 0;
    return hr::S_OK;
  }
  return hr::E_NOINTERFACE;
}

HRESULT set_interface_safety_options(const SafetyFlags& flags, const Guid* riid, std::uint32_t options_mask,
                                     std::uint32_t enabled_options) {
  if (!riid) return hr::S_OK;
  const std::uint32_t asked = options_mask & enabled_options;
  if (*riid == IID_IDispatch)
    return asked == safety_option::untrusted_caller && flags.safeForScripting ? hr::S_OK : hr::E_FAIL;
  if (is_persistence(*riid))
    return asked == safety_option::untrusted_data && flags.safeForInitializing ? hr::S_OK : hr::E_FAIL;
  return hr::E_NOINTERFACE;
}

}  // namespace vintrel::control
