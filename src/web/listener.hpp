#pragma once
// The server's listener: the acceptor on 127.0.0.1, the gate, the open
// WebSocket connections and the channels kept for pages that may come back.
// The HTTP and WebSocket connections reach it through this header.

// asio.hpp first: it works around a missing include of Boost 1.74's Asio.
#include "platform/asio.hpp"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "web/security.hpp"
#include "web/server.hpp"

namespace vintrel::platform {
class EventLoop;
}

namespace vintrel::web {

class WebSocketConnection;

/// A channel kept by the server, with the connection of the page attached
/// to it, if any.
struct KeptChannel {
  std::shared_ptr<Channel> channel;
  std::string origin;
  std::weak_ptr<WebSocketConnection> page;
  std::uint64_t order = 0;  // which was opened first, for making room
  std::optional<std::chrono::steady_clock::time_point> idle_since;
};

/// What a server is while it runs; connections hold it by shared_ptr.
struct Server::Impl : std::enable_shared_from_this<Server::Impl> {
  /// A server on `loop` that does not listen yet (see listen()).
  Impl(platform::EventLoop& loop, ServerOptions opts, ChannelFactory make);

  boost::asio::io_context& io;
  ServerOptions options;
  ChannelFactory factory;
  Gate gate;
  boost::asio::ip::tcp::acceptor acceptor;
  std::uint16_t port = 0;
  std::uint64_t next_id = 1;  // of the next WebSocket connection, in order of arrival
  // The open WebSocket connections by id, oldest first.
  std::map<std::uint64_t, std::weak_ptr<WebSocketConnection>> connections;
  // The channels by session identifier, with a page or waiting for one.
  std::map<std::string, KeptChannel> sessions;
  boost::asio::steady_timer sweeper;
  bool closing = false;  // the server is going: nothing new is taken

  /// One line of the server's log, when it keeps one.
  void log(const std::string& line) const {
    if (options.log) options.log(line);
  }
  /// Binds 127.0.0.1 at the options' port; throws boost::system::system_error.
  void listen();
  /// Takes the next connection, and so on until the server closes.
  void accept();
  /// Makes room for a new connection from `origin`: true when it may have a
  /// control, after closing the oldest idle connection of that origin if
  /// the origin is at its cap.
  bool make_room(const std::string& origin);
  /// The summaries of the channels kept for `origin` but `except`'s, oldest
  /// first, as a JSON array (see Outlet::sessions).
  std::string list_sessions(const std::string& origin, const std::string& except);
  /// Ends a kept channel for good.
  void drop(const std::string& session, const std::string& why);
  /// Drops the channels no page came back to within the grace period.
  void sweep();
  /// Sweeps again a fraction of the grace period from now.
  void schedule_sweep();
};

}  // namespace vintrel::web
