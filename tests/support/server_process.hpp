#pragma once
// What the tests' server processes (nginx, tinyproxy) share: a free
// loopback port, starting the server as a child with clean signals and its
// output in a file, knowing when it accepts connections, and ending it.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vintrel::testing {

/// `preferred` when it is an executable file, else the first `name` on PATH;
/// "" when neither is there.
std::string find_program(const std::string& preferred, std::string_view name);

/// A port on 127.0.0.1 nobody uses right now. The server binds it a moment
/// later, so another process may take it in between: callers retry.
std::uint16_t free_loopback_port();

/// True when something accepts connections on 127.0.0.1:`port`.
bool accepts_connections(std::uint16_t port);

/// Starts `args` (the program's full path first) with standard input from
/// /dev/null, standard output and error appended to `output_path`, default
/// signals and none of the test's descriptors. The child's pid, or -1 with
/// the reason in `failure`.
pid_t spawn_server(const std::vector<std::string>& args, const std::string& output_path, std::string& failure);

/// True once `pid` has exited (and is reaped); false while it runs.
bool has_exited(pid_t pid);

/// SIGTERM, then SIGKILL if `pid` has not exited within `limit`; reaps it.
void stop_server(pid_t pid, std::chrono::milliseconds limit);

}  // namespace vintrel::testing
