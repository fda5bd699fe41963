#pragma once
// What an automation call raised, for tests that expect numbered errors.

#include <cstdint>

#include "automation/automation.hpp"

namespace vintrel::testing {

/// The error number `f` raises, or 0 when it returns normally.
template <class F>
std::int32_t error_of(F&& f) {
  try {
    f();
  } catch (const automation::AutomationError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace vintrel::testing
