#pragma once
// Debian's Apache (apache2-bin) on a loopback port, for tests that need a
// server that builds its absolute redirections from the request's Host
// field, as Apache does by default (UseCanonicalName Off). Its
// configuration, logs and pid file live in a temporary folder of its own;
// it runs as one process in the foreground, a child of the test.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_folder.hpp"

namespace vintrel::testing {

class ApacheServer {
 public:
  /// Whether apache2 is there to run; why not, for a skip message.
  static bool available();
  static std::string why_unavailable();

  /// Starts Apache with `directives` added to its configuration as written
  /// (for instance "Redirect 301 /a /b") and returns once it accepts
  /// connections; throws std::runtime_error with its log when it does not.
  explicit ApacheServer(const std::vector<std::string>& directives = {});
  ~ApacheServer();
  ApacheServer(const ApacheServer&) = delete;
  ApacheServer& operator=(const ApacheServer&) = delete;

  std::uint16_t port() const { return port_; }
  /// "http://127.0.0.1:<port><path>".
  std::string url(std::string_view path) const;
  /// The full path of `name` in the served folder.
  std::string file(std::string_view name) const;
  /// One line per request, "<request line>\t<status>\t<Host field>", in
  /// the order they were answered; waits until `count` are logged or
  /// `timeout` passes (a line is written just after its answer).
  std::vector<std::string> access_log(std::size_t count,
                                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

 private:
  TempFolder folder_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace vintrel::testing
