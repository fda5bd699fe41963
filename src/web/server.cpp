// The server's face: it listens at once, and closes everything it opened
// before it is gone. The listener, the HTTP connections and the WebSocket
// connections live in listener.cpp, http_connection.cpp and
// websocket_connection.cpp.

#include "web/server.hpp"

// asio.hpp first: it works around a missing include of Boost 1.74's Asio.
#include "platform/asio.hpp"

#include <boost/beast/core.hpp>

#include <system_error>
#include <utility>
#include <vector>

#include "web/listener.hpp"
#include "web/websocket_connection.hpp"

namespace vintrel::web {

namespace beast = boost::beast;

std::string too_many_reason(std::size_t cap) {
  return "Too many Vintrel connections from this origin (" + std::to_string(cap) + "); close other tabs";
}

Server::Server(platform::EventLoop& loop, ServerOptions options, ChannelFactory factory)
    : impl_(std::make_shared<Impl>(loop, std::move(options), std::move(factory))) {
  try {
    impl_->listen();
  } catch (const boost::system::system_error& error) {
    throw std::system_error(error.code().value(), std::generic_category(),
                            "cannot listen on 127.0.0.1:" + std::to_string(impl_->options.port));
  }
  impl_->accept();
  impl_->schedule_sweep();
}

Server::~Server() {
  impl_->closing = true;
  beast::error_code ignored;
  impl_->acceptor.close(ignored);
  // Copies: shutting a connection may erase it from the map.
  std::vector<std::shared_ptr<WebSocketConnection>> open;
  for (auto& [id, weak] : impl_->connections)
    if (auto connection = weak.lock()) open.push_back(connection);
  impl_->connections.clear();
  for (auto& connection : open) connection->shut();
  impl_->sweeper.cancel();
  std::vector<std::string> kept;
  for (const auto& [session, channel] : impl_->sessions) kept.push_back(session);
  for (const auto& session : kept) impl_->drop(session, "the server stops");
}

std::uint16_t Server::port() const { return impl_->port; }

std::string Server::origin() const { return "http://127.0.0.1:" + std::to_string(impl_->port); }

const std::string& Server::token() const { return impl_->gate.token(); }

std::size_t Server::connections() const { return impl_->connections.size(); }

std::size_t Server::sessions() const { return impl_->sessions.size(); }

}  // namespace vintrel::web
