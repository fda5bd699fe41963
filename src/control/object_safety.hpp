#pragma once
// The scripting-safety answers a browser asks for: the control may be
// driven by untrusted script through IDispatch and initialised from
// untrusted data through its three persistence interfaces; every other
// interface is refused.

#include <cstdint>

#include "control/interfaces/guid.hpp"
#include "control/interfaces/hresult.hpp"

namespace vintrel::control {

/// The option bits of the safety interface.
namespace safety_option {
inline constexpr std::uint32_t untrusted_caller = 1;  // safe for scripting
inline constexpr std::uint32_t untrusted_data = 2;    // safe for initialising
}  // namespace safety_option

/// The module-wide answers.
struct SafetyFlags {
  bool safeForScripting = false;
  bool safeForInitializing = false;
};

/// The flags of this module: false until the module starts, true after.
const SafetyFlags& module_safety_flags();
/// The module's start routine: sets both flags, once, before the first
/// control is made. Later calls change nothing.
void start_module();

/// The answers with the given flags; a null `riid` asks about no interface.
/// An output that would be written but is null gives E_POINTER.
HRESULT get_interface_safety_options(const SafetyFlags& flags, const Guid* riid, std::uint32_t* supported,
                                     std::uint32_t* enabled);
/// Accepts a request only for exactly the option the interface has, when
/// that option is already on; the flags never change.
HRESULT set_interface_safety_options(const SafetyFlags& flags, const Guid* riid, std::uint32_t options_mask,
                                     std::uint32_t enabled_options);

}  // namespace vintrel::control
