#pragma once
// One socket element's connection on the real platform: its socket, its
// time limits, its buffers and its state, and the steps a connection goes
// through (resolution, connection, the secure handshake, reads, writes and
// the idle limit). The array holding it only maps indexes to connections.
//
// Every handler holds the connection by shared_ptr and the generation it
// was started for. close(), a new connect() and a failure bump the
// generation, so completions of an older connection find themselves stale
// and do nothing; an array that goes away detaches its connections, so
// handlers still queued on the loop find no one to tell.
//
// A secure connection runs the TLS module's session over the connection's
// own socket, made non-blocking: each step that wants the socket readable or
// writable waits for it on the loop and is called again. Stopping frees the
// session before it closes the socket, and waits still pending find
// themselves stale. A resumed session whose server takes early data
// reports Connect before the handshake, so that the first request goes with
// it (see start_handshake()).
//
// Through a proxy the connection is made to the proxy instead; a secure one
// first asks it for a tunnel (CONNECT) and reads its whole answer, byte for
// byte what the head holds, so that the first byte of the server's TLS is
// left on the socket for the session.
//
// No event is delivered inside the call that started the work: what is
// known at once (a port out of range, a resolver answering inside resolve(),
// a write finished at once, the end found by take()) goes round the loop.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "http/tunnel.hpp"
#include "platform/asio.hpp"
#include "platform/proxy.hpp"
#include "platform/sockets.hpp"
#include "platform/tls_module.hpp"

namespace vintrel::platform {

class Resolver;
class TlsContext;

/// The array a connection tells its events to.
class ConnectionOwner {
 public:
  /// Where the array's events go now; null for nowhere.
  virtual SocketEvents* event_sink() const = 0;

 protected:
  ~ConnectionOwner() = default;
};

/// What every connection of one array shares.
struct ConnectionSettings {
  Resolver& resolver;                            // turns host names into addresses
  SocketTimeouts timeouts;                       // the connect and idle limits
  std::shared_ptr<TlsContext> tls;               // the platform's trust settings
  std::shared_ptr<const ProxySettings> proxies;  // null: every connection goes direct
};

/// The connection of socket element `index`; made by the array on Load and
/// always held by shared_ptr.
class SocketConnection final : public std::enable_shared_from_this<SocketConnection> {
 public:
  /// A closed connection whose events go to `owner` as element `index`'s.
  SocketConnection(boost::asio::io_context& io, ConnectionSettings settings, ConnectionOwner& owner,
                   std::int16_t index);
  SocketConnection(const SocketConnection&) = delete;
  SocketConnection& operator=(const SocketConnection&) = delete;

  /// The element's state (see `sck`).
  std::int16_t state() const { return state_; }
  /// Starts resolving and connecting, ending what the element did before.
  void connect(const std::string& host, std::int32_t port, bool secure);
  /// Queues bytes to send; raises 40006 unless connecting or connected.
  void send(std::string_view data);
  /// Hands over every byte that has arrived (SocketArray::GetData).
  std::span<const std::uint8_t> take();
  /// Bytes that take() would hand over.
  std::int32_t bytes_received() const;
  /// The TLS protocol and handshake of a secure connection once up; else empty.
  std::string tls_summary() const { return tls_ ? tls_->summary() : std::string(); }
  /// The most read at a time, and left untaken before reading stops
  /// (SocketArray::set_read_size); kept across connections.
  void set_read_size(std::int32_t bytes) {
    read_size_ = bytes > 0 ? std::min(static_cast<std::size_t>(bytes), receive_buffer_size) : receive_buffer_size;
  }
  /// The most read at a time (see set_read_size).
  std::size_t read_size() const { return read_size_; }
  /// A secure connection made from now on stops once its TCP connection is
  /// up, until adopt(): the handshake then offers the session the cache
  /// holds by then, and a request can still go as early data with it.
  void hold_handshake() { hold_handshake_ = true; }
  /// Element `index` of `owner` takes over this connection, opened ahead of
  /// need and with nothing sent or received yet, with `read_size` as its
  /// read size. A connection already up reports Connect to it on the next
  /// loop turn; one still coming up reports it when it is.
  void adopt(ConnectionOwner& owner, std::int16_t index, std::size_t read_size);
  /// Ends the connection at once and drops what arrived; raises nothing.
  void close();
  /// The array is going: ends the connection, and no handler of it tells
  /// anyone anything any more.
  void detach();

 private:
  using error_code = boost::system::error_code;
  using steady = std::chrono::steady_clock;

  // One reused receive buffer per element: large enough that a fast
  // transfer needs few reads, small enough to keep a hundred elements cheap.
  static constexpr std::size_t receive_buffer_size = std::size_t{256} * 1024;

  // The socket error number of an Asio failure.
  static std::int16_t socket_error_number(const error_code& ec);

  bool current(std::uint64_t gen) const { return owner_ != nullptr && generation_ == gen; }
  SocketEvents* events() const { return owner_ != nullptr ? owner_->event_sink() : nullptr; }

  // Setting up (socket_connection.cpp).
  void stop_io();
  void clear_received();
  void post_failure(std::uint64_t gen, std::int16_t number);
  void fail(std::int16_t number, std::string description = {});
  void notify_close();
  void resolved(std::uint64_t gen, std::int16_t error, const std::vector<std::string>& addresses);
  void connect_next(std::uint64_t gen);
  void connected(std::uint64_t gen, const error_code& ec);
  void open_tunnel(std::uint64_t gen);
  void take_tunnel_answer(std::uint64_t gen);
  void tunnel_answered(std::uint64_t gen, const http::TunnelAnswer& answer);
  void start_handshake(std::uint64_t gen);
  void watch_held(std::uint64_t gen);
  void handshake_step(std::uint64_t gen);
  void write_early(std::uint64_t gen, std::size_t offset);
  // Calls `then` once the socket is ready as `want` asks (a step of the
  // secure session wants it readable or writable); a wait that fails fails
  // the connection.
  template <class Then>
  void await(std::uint64_t gen, tls::Outcome::Kind want, Then then) {
    const auto wait = want == tls::Outcome::Kind::want_write ? boost::asio::socket_base::wait_write
                                                             : boost::asio::socket_base::wait_read;
    socket_.async_wait(wait, [self = shared_from_this(), gen, then = std::move(then)](const error_code& ec) {
      if (!self->current(gen)) return;
      if (ec) {
        self->fail(socket_error_number(ec));
        return;
      }
      then(*self);
    });
  }
  void fail_secure(const tls::Outcome& step);
  void go_live(std::uint64_t gen);

  // Transferring (socket_connection_transfer.cpp).
  void start_read(std::uint64_t gen);
  void read_done(std::uint64_t gen, const error_code& ec, std::size_t count);
  void read_secure(std::uint64_t gen);
  bool deliver(std::uint64_t gen, std::size_t count);
  // Stops reading while the backlog holds a receive buffer's worth; true
  // when it does.
  bool pause_for_backlog();
  void peer_end();
  void start_write(std::uint64_t gen);
  void write_secure(std::uint64_t gen, const std::shared_ptr<std::string>& chunk, std::size_t offset);
  void write_done(std::uint64_t gen, std::int16_t failure);
  void note_sent();
  void wait_idle(std::uint64_t gen, steady::time_point when);
  void idle_check(std::uint64_t gen);

  boost::asio::io_context& io_;
  ConnectionSettings settings_;
  ConnectionOwner* owner_;
  std::int16_t index_;
  std::int16_t state_ = sck::closed;
  std::uint64_t generation_ = 0;

  boost::asio::ip::tcp::socket socket_;
  boost::asio::steady_timer connect_timer_;
  boost::asio::steady_timer idle_timer_;
  bool initiating_ = false;

  std::uint16_t port_ = 0;  // where the socket connects: the server's, or its proxy's
  std::int32_t server_port_ = 0;
  bool secure_ = false;
  const ProxyServer* proxy_ = nullptr;  // lives in settings_.proxies
  bool proxy_reached_ = false;          // failures from here on are not the proxy's own
  std::string tunnel_answer_;           // the proxy's answer to CONNECT so far
  bool hold_handshake_ = false;         // see hold_handshake()
  bool held_ = false;                   // connected, the handshake not begun
  std::string host_;                    // the name a secure peer's certificate must be for
  std::unique_ptr<tls::Session> tls_;   // the secure layer over `socket_`'s connection
  std::vector<boost::asio::ip::tcp::endpoint> endpoints_;
  std::size_t next_endpoint_ = 0;

  std::string pending_writes_;  // queued behind the write in flight
  // Connected to the handler's eyes while the handshake still runs, and
  // the bytes that went as early data (kept until the server takes them).
  bool early_ = false;
  std::string early_writes_;
  bool writing_ = false;

  bool sent_ = false;  // the idle limit applies only once data went out
  bool idle_armed_ = false;
  steady::time_point last_activity_;

  // What arrives is read into `buffer_`; `fresh_` bytes of it are on offer
  // while DataArrival runs. Bytes the handler leaves go to `backlog_`;
  // `handed_` keeps a take() answer alive that came from the backlog.
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t fresh_ = 0;
  std::vector<std::uint8_t> backlog_;
  std::vector<std::uint8_t> handed_;
  bool peer_ended_ = false;   // the end is seen but bytes before it untaken
  bool read_paused_ = false;  // no read runs until the backlog is taken
  std::size_t read_size_ = receive_buffer_size;
};

}  // namespace vintrel::platform
