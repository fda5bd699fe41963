#pragma once
// What a control needs from the machine it runs on, as one bundle: the
// clock, socket arrays, a timer, and a way to keep the loop running while a
// dialog waits. The real bundle runs on Asio; tests give a scripted one.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.hpp"
#include "platform/proxy.hpp"
#include "platform/sockets.hpp"
#include "platform/timer.hpp"

namespace vintrel::platform {

class EventLoop;
class Resolver;
class SpareConnections;
class TlsContext;

/// How a connection opened ahead of need (Platform::preconnect) ended.
enum class SpareEnd : std::uint8_t {
  taken,    // an element took it over
  expired,  // kept unused too long, and closed
  lost,     // the server closed it, or it failed to come up
};

/// The machine's services for one or more controls.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual Clock& clock() = 0;
  /// A new, empty socket element array.
  virtual std::unique_ptr<SocketArray> make_socket_array() = 0;
  /// A new timer, disabled.
  virtual std::unique_ptr<Timer> make_timer() = 0;
  /// Keeps delivering events until `done` is true (false if the loop was
  /// stopped first); called inside a handler.
  virtual bool wait_until(const std::function<bool()>& done) = 0;
  /// Queues `fn` to run on the loop once the current handler has returned;
  /// never runs it on the caller's stack.
  virtual void post(std::function<void()> fn) = 0;
  /// Opens a file with the desktop's default program; the outcome is not
  /// examined. Tests replace it so that nothing is started.
  virtual void shell_open(const std::string& path);
  /// Whether socket elements can connect securely; without it the control
  /// refuses https URLs.
  virtual bool offers_tls() const { return false; }
  /// The proxy the socket elements reach `host`:`port` through, null when
  /// they connect straight to it. A plain request sent to a proxy names
  /// its server in full, so the control asks before composing one.
  virtual const ProxyServer* proxy_for(std::string_view host, std::int32_t port, bool secure) const;
  /// Opens a connection to `host`:`port` ahead of need, straight to the
  /// server: the next Connect of any element made here to the same server,
  /// port and scheme takes it over and is up a round trip sooner. `gone`
  /// runs on the loop once it is no longer spare. False when none is opened
  /// (through a proxy, for one, or where the platform has no such thing).
  virtual bool preconnect(const std::string& host, std::int32_t port, bool secure, std::function<void(SpareEnd)> gone);
};

/// The real machine: sockets, timers and resolution on an Asio event loop.
class AsioPlatform final : public Platform {
 public:
  /// `resolver` may be null for the system's resolver. Throws
  /// std::runtime_error when `tls.ca_file` cannot be read.
  explicit AsioPlatform(EventLoop& loop, Resolver* resolver = nullptr, SocketTimeouts timeouts = {},
                        const TlsOptions& tls = {}, ProxySettings proxies = {});
  ~AsioPlatform() override;

  Clock& clock() override { return clock_; }
  std::unique_ptr<SocketArray> make_socket_array() override;
  std::unique_ptr<Timer> make_timer() override;
  bool wait_until(const std::function<bool()>& done) override;
  void post(std::function<void()> fn) override;
  /// True when the TLS module is there to be loaded.
  bool offers_tls() const override { return offers_tls_; }
  const ProxyServer* proxy_for(std::string_view host, std::int32_t port, bool secure) const override {
    return proxies_->route(host, port, secure);
  }
  bool preconnect(const std::string& host, std::int32_t port, bool secure, std::function<void(SpareEnd)> gone) override;

  EventLoop& loop() { return loop_; }

 private:
  EventLoop& loop_;
  SystemClock clock_;
  std::unique_ptr<Resolver> own_resolver_;
  Resolver* resolver_;
  SocketTimeouts timeouts_;
  // Shared with every array made here, which may outlive the platform.
  std::shared_ptr<TlsContext> tls_;
  std::shared_ptr<const ProxySettings> proxies_;
  bool offers_tls_;
  // Shared with the arrays, whose Connect takes them over.
  std::shared_ptr<SpareConnections> spares_;
};

}  // namespace vintrel::platform
