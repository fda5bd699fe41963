#pragma once
// A loopback HTTP server that plays a script per connection, for servers
// that misbehave in exactly one chosen way: headers dribbled in pieces, a
// body cut short, a reset in the middle, a connection that goes silent.
//
// Scripts:
// - Unless a script starts with wait_request() or is marked unprompted(),
//   it first waits for a request, as any server would; unprompted() lets a
//   script speak before the client does.
// - Connection k (in accept order) runs scripts[k]; every connection past
//   the end of the list runs the last script again.
// - When a script runs out of steps the connection is closed as by close().
//   Steps after close() or reset() are not run, and a failed send (the
//   client went away) ends the script too.
//
// Over TLS (a HostileTls given to the constructor) every connection first
// completes a server handshake, then the same steps run over the secure
// channel: close() sends close_notify before the FIN, close_without_notify()
// only the FIN (a truncated stream), reset() a reset. A script may instead
// break off the handshake itself (break_handshake()).
//
// The server runs on threads of its own (one accepting, one per connection),
// independent of the test's event loop. The destructor ends every connection
// promptly, including ones in a delay, a stall or waiting for a request.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

struct ssl_ctx_st;

namespace vintrel::testing {

/// One thing a connection does.
struct Step {
  enum class Kind { send, delay, wait_request, close, close_without_notify, reset, stall };

  Kind kind = Kind::close;
  std::string bytes;                     ///< send: what to send.
  std::size_t piece_size = 0;            ///< send: at most this many bytes per write; 0 = one write.
  std::chrono::milliseconds duration{};  ///< delay: how long; send: the pause between pieces.

  /// Sends `bytes`, each piece of at most `piece_size` bytes its own write
  /// (TCP_NODELAY is on, so pieces leave at once), pausing `piece_delay`
  /// between pieces.
  static Step send(std::string bytes, std::size_t piece_size = 0,
                   std::chrono::milliseconds piece_delay = std::chrono::milliseconds(0));
  static Step delay(std::chrono::milliseconds duration);
  /// Reads up to the blank line ending a request's head, plus a body of
  /// Content-Length bytes if the head announces one, and records the text.
  /// Bytes beyond that stay for the next wait_request (pipelined requests).
  /// Ends the script if the client closes first.
  static Step wait_request();
  /// Orderly end: FIN, then read and drop what the client still sends until
  /// it closes (at most a couple of seconds), so unread bytes never turn the
  /// close into a reset.
  static Step close();
  /// Over TLS: the orderly end without close_notify, which a client sees
  /// as a truncated stream. Plain: the same as close().
  static Step close_without_notify();
  /// Abortive end: SO_LINGER 0 then close, so the client sees a reset.
  static Step reset();
  /// Holds the connection open doing nothing (reading and dropping input)
  /// until the client closes or the server stops.
  static Step stall();
};

/// Where a TLS connection's handshake is broken off.
enum class HandshakeBreak {
  none,
  before_server_hello,  ///< The ClientHello is read, then the server ends the connection.
  mid_server_hello,     ///< Half of the server's first flight is sent, then the end.
};

/// What one connection does, built fluently:
///   Script().wait_request().send(head, 20).delay(50ms).send(body).close()
class Script {
 public:
  Script() = default;
  explicit Script(std::vector<Step> steps) : steps_(std::move(steps)) {}

  Script& send(std::string bytes, std::size_t piece_size = 0,
               std::chrono::milliseconds piece_delay = std::chrono::milliseconds(0));
  Script& delay(std::chrono::milliseconds duration);
  Script& wait_request();
  Script& close();
  Script& close_without_notify();
  Script& reset();
  Script& stall();
  Script& then(Step step);
  /// Runs the steps from the moment of accept, without the implied
  /// wait_request().
  Script& unprompted();
  /// Over TLS: ends the connection during the handshake instead of running
  /// the steps. Ignored for a plain server.
  Script& break_handshake(HandshakeBreak where);

  /// The steps as written (without the implied wait_request()).
  const std::vector<Step>& steps() const { return steps_; }
  bool is_unprompted() const { return unprompted_; }
  HandshakeBreak handshake_break() const { return handshake_break_; }

 private:
  std::vector<Step> steps_;
  bool unprompted_ = false;
  HandshakeBreak handshake_break_ = HandshakeBreak::none;
};

/// What a TLS hostile server presents: PEM files, e.g. a TestCa identity's
/// chain and key.
struct HostileTls {
  std::string cert_chain;
  std::string key;
};

class HostileServer {
 public:
  /// Listens on 127.0.0.1, on a port the system picks. `scripts` must not be
  /// empty (std::invalid_argument).
  explicit HostileServer(std::vector<Script> scripts);
  /// The same over TLS; throws std::runtime_error when the certificate or
  /// key cannot be loaded.
  HostileServer(std::vector<Script> scripts, const HostileTls& tls);
  ~HostileServer();
  HostileServer(const HostileServer&) = delete;
  HostileServer& operator=(const HostileServer&) = delete;

  std::uint16_t port() const { return port_; }
  /// "http://127.0.0.1:<port><path>" ("https://" over TLS); `path` starts
  /// with '/'.
  std::string url(std::string_view path) const;

  /// The requests read so far, over all connections, in the order they
  /// were read: head and body as received.
  std::vector<std::string> requests() const;
  /// Connections accepted so far.
  int connections() const;
  /// Waits until at least `count` requests were read or `timeout` passes;
  /// true when they were.
  bool wait_for_requests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  /// The same for accepted connections.
  bool wait_for_connections(int count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

 private:
  void open();
  void accept_loop();
  void serve(int fd, const Script& script);
  void record_request(std::string text);

  std::vector<Script> scripts_;
  ssl_ctx_st* tls_ = nullptr;  // null for a plain server
  int listener_ = -1;
  // Written once to stop: its read end then stays readable, so every poll()
  // in every thread wakes and sees it.
  int stop_pipe_[2] = {-1, -1};
  std::uint16_t port_ = 0;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> requests_;
  int connections_ = 0;
  std::vector<std::thread> connection_threads_;  // touched by the accept thread, then the destructor

  std::thread acceptor_;
};

/// "HTTP/1.1 <status> <reason>\r\n", each header as "Name: value\r\n", a
/// blank line, then `body`. Adds nothing on its own: no Content-Length,
/// no Date, no Connection.
std::string http_response(int status, std::string_view reason, std::vector<std::pair<std::string, std::string>> headers,
                          std::string_view body);
/// `body` in chunked transfer coding, in chunks of at most `chunk_size`
/// bytes (0 = one chunk), ending with the zero-size chunk and no trailers.
std::string chunked(std::string_view body, std::size_t chunk_size);

}  // namespace vintrel::testing
