#pragma once
// `vintrel get -v`: the heads of every request sent and every answer
// received, as curl -v shows them, without the control knowing. The trace
// sits between the control and the machine's sockets and only looks at
// what passes.

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace vintrel::apps {

/// The lines that show the head at the start of `bytes` ("> GET ...", one
/// per line of the head, its blank end included), each prefixed with
/// `mark` and a space and ending in "\n"; credentials sent to a proxy are
/// masked. Empty when `bytes` holds no whole head.
std::string head_lines(std::string_view bytes, char mark);

/// Passes everything to `inner` and writes to `out`, one block at a time,
/// every request head sent and answer head received, each block opened by
/// a "* " line naming its connection: server and port, the TLS version, the proxy,
/// and whether it is a mirror probe.
class WireTrace final : public platform::Platform {
 public:
  WireTrace(platform::Platform& inner, std::ostream& out) : inner_(inner), out_(out) {}

  platform::Clock& clock() override { return inner_.clock(); }
  std::unique_ptr<platform::SocketArray> make_socket_array() override;
  std::unique_ptr<platform::Timer> make_timer() override { return inner_.make_timer(); }
  bool wait_until(const std::function<bool()>& done) override { return inner_.wait_until(done); }
  void post(std::function<void()> fn) override { inner_.post(std::move(fn)); }
  void shell_open(const std::string& path) override { inner_.shell_open(path); }
  bool offers_tls() const override { return inner_.offers_tls(); }
  const platform::ProxyServer* proxy_for(std::string_view host, std::int32_t port, bool secure) const override {
    return inner_.proxy_for(host, port, secure);
  }
  bool preconnect(const std::string& host, std::int32_t port, bool secure,
                  std::function<void(platform::SpareEnd)> gone) override {
    return inner_.preconnect(host, port, secure, std::move(gone));
  }

 private:
  platform::Platform& inner_;
  std::ostream& out_;
  int arrays_made_ = 0;
};

}  // namespace vintrel::apps
