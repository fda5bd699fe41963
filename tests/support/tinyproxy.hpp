#pragma once
// Debian's tinyproxy on a loopback port, for tests that go through a real
// HTTP proxy: absolute-form requests forwarded to the server and CONNECT
// tunnels. Its configuration, log and pid file live in a temporary folder
// of its own; it runs in the foreground as a child of the test.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/temp_folder.hpp"

namespace vintrel::testing {

class TinyProxy {
 public:
  /// Whether tinyproxy is there to run; why not, for a skip message.
  static bool available();
  static std::string why_unavailable();

  /// Starts the proxy and returns once it accepts connections; throws
  /// std::runtime_error with its log when it does not come up.
  TinyProxy();
  ~TinyProxy();
  TinyProxy(const TinyProxy&) = delete;
  TinyProxy& operator=(const TinyProxy&) = delete;

  std::uint16_t port() const { return port_; }
  /// "http://127.0.0.1:<port>".
  std::string url() const;
  /// The request lines the proxy has read so far, in order
  /// ("GET http://127.0.0.1:8080/f HTTP/1.1", "CONNECT 127.0.0.1:8443 HTTP/1.1").
  std::vector<std::string> requests() const;

 private:
  TempFolder folder_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace vintrel::testing
