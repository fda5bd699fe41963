// The server's face: it listens at once, and closes everything it opened
// before it is gone. The listener, the lists of connections and kept
// channels, the HTTP connections and the WebSocket connections live in
// listener.cpp, connection_manager.cpp, http_connection.cpp and
// websocket_connection.cpp.

#include "web/server.hpp"

// asio.hpp first: it works around a missing include of Boost 1.74's Asio.
#include "platform/asio.hpp"

#include <boost/beast/core.hpp>

#include <system_error>
#include <utility>

#include "web/listener.hpp"

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
  impl_->sweeper.cancel();
  impl_->manager.close_all();
}

std::uint16_t Server::port() const { return impl_->port; }

std::string Server::origin() const { return "http://127.0.0.1:" + std::to_string(impl_->port); }

const std::string& Server::token() const { return impl_->gate.token(); }

std::size_t Server::connections() const { return impl_->manager.connections(); }

std::size_t Server::sessions() const { return impl_->manager.sessions(); }

}  // namespace vintrel::web
