#pragma once
// `vintrel serve`'s server: HTTP and WebSocket on 127.0.0.1, on the control's
// own loop. Every request passes the gate first, upgrades included. Plain
// requests get the embedded pages; each WebSocket connection gets a channel
// of its own (one control per connection), which receives every text frame
// and sends text frames back, as long as its origin has room for it.
// A channel outlives its connection: a page that comes back with the
// channel's session identifier (?session=) takes it over as it stands.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vintrel::platform {
class EventLoop;
}

namespace vintrel::web {

/// The far end of one WebSocket connection, as its channel sees it.
struct Peer {
  std::string address;  ///< "127.0.0.1:port" of the browser's socket.
  std::string origin;   ///< The page's origin, normalized.
  /// The channel's session identifier: 128 random bits as hex. A page that
  /// reconnects with it (and passes the gate) gets the same channel back.
  std::string session;
};

/// How a channel talks back: `send` queues a text frame (dropped once the
/// connection is gone), `close` ends the connection after what is queued.
/// `sessions` lists the other controls the server keeps for the page's
/// origin, as a JSON array of their summary() objects, each with
/// "attached" (whether a page has it now); empty where nobody keeps any.
struct Outlet {
  std::function<void(std::string message)> send;
  std::function<void()> close;
  std::function<std::string()> sessions;
};

/// What a connection's messages go to: a control behind a protocol.
class Channel {
 public:
  virtual ~Channel() = default;
  /// One text frame from the page. May run the loop inside (a folder dialog
  /// waits so); later frames are then received inside this call.
  virtual void receive(std::string_view message) = 0;
  /// The channel is dropped for good; it is destroyed soon after (once no
  /// receive() of it is running any more).
  virtual void peer_gone() {}
  /// The page's connection closed; the control goes on, its frames go
  /// nowhere until attach().
  virtual void detach() {}
  /// A page took the channel over; frames go to `outlet` from now on.
  // A sink: the channel keeps the outlet it is given.
  virtual void attach(Outlet outlet) { (void)outlet; }  // NOLINT(performance-unnecessary-value-param)
  /// True once the page ended the control for good ("quit"): not kept.
  virtual bool finished() const { return false; }
  /// True when giving the channel up loses nothing under way (no download
  /// running): the server may then close it to make room for a newer one.
  virtual bool idle() const { return true; }
  /// The queue as it stands, as one JSON object, for the origin's list of
  /// its controls: a page that comes back learns from it which of its
  /// batches the server still holds.
  virtual std::string summary() { return "{}"; }
};

using ChannelFactory = std::function<std::unique_ptr<Channel>(const Peer& peer, Outlet outlet)>;

struct ServerOptions {
  /// 0 picks a free port.
  std::uint16_t port = 0;
  /// Origins besides the server's own whose pages may connect (any form
  /// normalize_origin accepts; others are ignored by the caller's check).
  std::vector<std::string> allowed_origins;
  /// The run's token; a fresh one when empty.
  std::string token;
  /// One line per connection, refusal and end, without newline.
  std::function<void(const std::string& line)> log;
  /// At most this many controls of one origin at once, whether a page is
  /// attached or left. A further one drops the oldest idle control whose
  /// page left, else closes the oldest idle connection of that origin; when
  /// none is idle it is itself closed with close_code::too_many. A page
  /// coming back for its control takes no further room.
  std::size_t max_per_origin = 16;
  /// How long a channel whose page left is kept once nothing is under way
  /// in it, for the page to come back and see how its queue ended.
  std::chrono::milliseconds detached_grace = std::chrono::minutes(10);
};

/// The WebSocket close codes the server ends a connection with, besides
/// 1000 after "quit"; the close frame's reason says the same in words.
namespace close_code {
/// The connection was given up to make room for a newer one of its origin.
inline constexpr std::uint16_t replaced = 4000;
/// Refused: every connection of the origin is busy ("try again later").
inline constexpr std::uint16_t too_many = 1013;
/// Another page of the origin took the connection's control over.
inline constexpr std::uint16_t taken_over = 4001;
}  // namespace close_code

/// The reason sent with close_code::replaced.
inline constexpr std::string_view replaced_reason = "Replaced by a newer connection";
/// The reason sent with close_code::taken_over.
inline constexpr std::string_view taken_over_reason = "Taken over by another page";
/// The reason sent with close_code::too_many, for `cap` connections.
std::string too_many_reason(std::size_t cap);

class Server {
 public:
  /// Listens on 127.0.0.1 at once; throws std::system_error when the port
  /// cannot be had.
  Server(platform::EventLoop& loop, ServerOptions options, ChannelFactory factory);
  /// Closes every connection and destroys their channels (and so their
  /// controls) before returning.
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  std::uint16_t port() const;
  /// "http://127.0.0.1:port".
  std::string origin() const;
  const std::string& token() const;
  /// Open WebSocket connections.
  std::size_t connections() const;
  /// Channels kept, with or without a connection.
  std::size_t sessions() const;

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace vintrel::web
