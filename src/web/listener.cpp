#include "web/listener.hpp"

#include <boost/beast/core.hpp>

#include <algorithm>
#include <chrono>
#include <utility>

#include "platform/event_loop.hpp"
#include "web/http_connection.hpp"

namespace vintrel::web {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

Server::Impl::Impl(platform::EventLoop& loop, ServerOptions opts, ChannelFactory make)
    : io(platform::asio_context(loop)),
      options(std::move(opts)),
      factory(std::move(make)),
      gate(options.token.empty() ? make_token() : options.token, options.allowed_origins),
      acceptor(io),
      manager(options.max_per_origin, options.log),
      sweeper(io) {}

void Server::Impl::listen() {
  const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), options.port);
  acceptor.open(endpoint.protocol());
  acceptor.set_option(asio::socket_base::reuse_address(true));
  acceptor.bind(endpoint);
  acceptor.listen(asio::socket_base::max_listen_connections);
  port = acceptor.local_endpoint().port();
  gate.set_port(port);
}

void Server::Impl::accept() {
  acceptor.async_accept([weak = weak_from_this()](beast::error_code error, tcp::socket socket) {
    const auto self = weak.lock();
    if (!self || self->closing) return;
    if (!error) std::make_shared<HttpConnection>(self, std::move(socket))->read();
    self->accept();
  });
}

void Server::Impl::schedule_sweep() {
  const auto period = std::clamp<std::chrono::milliseconds>(options.detached_grace / 4, std::chrono::milliseconds(20),
                                                            std::chrono::milliseconds(1000));
  sweeper.expires_after(period);
  sweeper.async_wait([weak = weak_from_this()](beast::error_code error) {
    const auto self = weak.lock();
    if (error || !self || self->closing) return;
    self->manager.sweep(std::chrono::steady_clock::now(), self->options.detached_grace);
    self->schedule_sweep();
  });
}

}  // namespace vintrel::web
