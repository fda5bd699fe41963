#pragma once
// The server's listener: the acceptor on 127.0.0.1, the gate, and the
// manager of the open WebSocket connections and of the channels kept for
// pages that may come back. The HTTP and WebSocket connections reach it
// through this header.

// asio.hpp first: it works around a missing include of Boost 1.74's Asio.
#include "platform/asio.hpp"

#include <cstdint>
#include <memory>
#include <string>

#include "web/connection_manager.hpp"
#include "web/security.hpp"
#include "web/server.hpp"

namespace vintrel::platform {
class EventLoop;
}

namespace vintrel::web {

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
  ConnectionManager manager;
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
  /// Sweeps again a fraction of the grace period from now.
  void schedule_sweep();
};

}  // namespace vintrel::web
