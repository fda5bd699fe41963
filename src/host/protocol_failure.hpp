#pragma once
// How the scripting protocol fails a request of its own accord (as opposed
// to errors the control raises, which keep their numbers and source).

#include <cstdint>
#include <string>
#include <utility>

#include "automation/automation.hpp"

namespace vintrel::host {

/// The source of the protocol's own errors.
inline constexpr const char* protocol_source = "Vintrel.Host";

/// Throws the protocol's error `number` (see protocol_error) with
/// `description`.
[[noreturn]] inline void fail(std::int32_t number, std::string description) {
  throw automation::AutomationError(number, protocol_source, std::move(description));
}

}  // namespace vintrel::host
