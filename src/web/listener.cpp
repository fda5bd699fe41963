#include "web/listener.hpp"

#include <boost/beast/core.hpp>

#include <algorithm>
#include <utility>
#include <vector>

#include "host/values.hpp"
#include "platform/event_loop.hpp"
#include "web/http_connection.hpp"
#include "web/websocket_connection.hpp"

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

bool Server::Impl::make_room(const std::string& origin) {
  std::size_t counted = 0;
  std::shared_ptr<WebSocketConnection> oldest_idle;
  // The map is ordered by id, so the first idle one found is the oldest.
  for (auto& [id, weak] : connections) {
    const auto connection = weak.lock();
    if (!connection || !connection->counted() || connection->peer().origin != origin) continue;
    ++counted;
    if (!oldest_idle && connection->idle()) oldest_idle = connection;
  }
  // Controls whose page left count too; one with a queue at work is busy,
  // and an idle one goes before any page that is still there.
  const KeptChannel* oldest_left = nullptr;
  std::string oldest_left_id;
  for (auto& [session, kept] : sessions) {
    if (kept.origin != origin || !kept.page.expired()) continue;
    ++counted;
    if (kept.channel->idle() && (!oldest_left || kept.order < oldest_left->order)) {
      oldest_left = &kept;
      oldest_left_id = session;
    }
  }
  if (counted < options.max_per_origin) return true;
  if (oldest_left) {
    drop(oldest_left_id, "given up for a newer connection");
    return true;
  }
  if (!oldest_idle) return false;
  oldest_idle->give_up();
  return true;
}

std::string Server::Impl::list_sessions(const std::string& origin, const std::string& except) {
  std::vector<const KeptChannel*> kept_for_origin;
  for (const auto& [session, kept] : sessions)
    if (kept.origin == origin && session != except && !kept.channel->finished()) kept_for_origin.push_back(&kept);
  std::sort(kept_for_origin.begin(), kept_for_origin.end(),
            [](const KeptChannel* a, const KeptChannel* b) { return a->order < b->order; });
  host::Json list = host::Json::array();
  for (const KeptChannel* kept : kept_for_origin) {
    host::Json entry = host::Json::parse(kept->channel->summary(), nullptr, false);
    if (!entry.is_object()) continue;
    entry["attached"] = !kept->page.expired();
    list.push_back(std::move(entry));
  }
  return list.dump();
}

void Server::Impl::drop(const std::string& session, const std::string& why) {
  const auto kept = sessions.find(session);
  if (kept == sessions.end()) return;
  // Out of the map first: what peer_gone() sets off may look for it.
  const std::shared_ptr<Channel> channel = std::move(kept->second.channel);
  const bool detached = kept->second.page.expired();
  sessions.erase(kept);
  if (detached) log("a control whose page left was dropped: " + why);
  channel->peer_gone();
}

void Server::Impl::sweep() {
  const auto now = std::chrono::steady_clock::now();
  std::vector<std::string> expired;
  for (auto& [session, kept] : sessions) {
    if (!kept.page.expired()) continue;
    if (!kept.channel->idle()) {
      kept.idle_since.reset();
      continue;
    }
    if (!kept.idle_since) kept.idle_since = now;
    if (now - *kept.idle_since >= options.detached_grace) expired.push_back(session);
  }
  for (const auto& session : expired) drop(session, "nobody came back for it");
}

void Server::Impl::schedule_sweep() {
  const auto period = std::clamp<std::chrono::milliseconds>(options.detached_grace / 4, std::chrono::milliseconds(20),
                                                            std::chrono::milliseconds(1000));
  sweeper.expires_after(period);
  sweeper.async_wait([weak = weak_from_this()](beast::error_code error) {
    const auto self = weak.lock();
    if (error || !self || self->closing) return;
    self->sweep();
    self->schedule_sweep();
  });
}

}  // namespace vintrel::web
