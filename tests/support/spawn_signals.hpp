#pragma once
// Children the tests start (nginx, the built program) begin with clean
// signals, whatever the test runner blocks or ignores.

#include <spawn.h>

namespace vintrel::testing {

/// Makes a child spawned with `attributes` start with no signal blocked and
/// the signals a runner may ignore (SIGPIPE often is) at their defaults, so
/// that it sees the tests' SIGINT and SIGTERM. Sets the attributes' flags
/// to exactly that.
void start_with_default_signals(posix_spawnattr_t& attributes);

}  // namespace vintrel::testing
