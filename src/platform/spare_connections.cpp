#include "platform/spare_connections.hpp"

#include <limits>
#include <utility>

namespace vintrel::platform {

SpareConnections::SpareConnections(boost::asio::io_context& io, std::chrono::milliseconds keep_for)
    : io_(io), keep_for_(keep_for) {}

SpareConnections::~SpareConnections() {
  for (auto& [id, spare] : spares_) spare.connection->detach();
}

bool SpareConnections::open(const ConnectionSettings& settings, const std::string& host, std::int32_t port, bool secure,
                            Gone gone) {
  if (spares_.size() >= most) return false;
  const std::int16_t id = free_id();
  last_id_ = id;
  ConnectionOwner& owner = *this;
  Spare spare{host,
              port,
              secure,
              std::make_shared<SocketConnection>(io_, settings, owner, id),
              std::make_unique<boost::asio::steady_timer>(io_, keep_for_),
              std::move(gone)};
  spare.expiry->async_wait(
      [weak = weak_from_this(), id, connection = std::weak_ptr(spare.connection)](const boost::system::error_code& ec) {
        const auto self = weak.lock();
        if (ec || !self) return;
        const auto it = self->spares_.find(id);
        if (it != self->spares_.end() && it->second.connection == connection.lock()) self->drop(id, SpareEnd::expired);
      });
  const std::shared_ptr<SocketConnection> connection = spare.connection;
  spares_.emplace(id, std::move(spare));
  // Over TLS the connection stops short of the handshake: by the time it is
  // taken the server may have handed out a newer session, and the request
  // can then go as early data where the server allows it.
  connection->hold_handshake();
  connection->connect(host, port, secure);
  return true;
}

std::shared_ptr<SocketConnection> SpareConnections::take(const std::string& host, std::int32_t port, bool secure) {
  for (auto it = spares_.begin(); it != spares_.end(); ++it) {
    const Spare& spare = it->second;
    if (spare.host == host && spare.port == port && spare.secure == secure) return release(it, SpareEnd::taken);
  }
  return nullptr;
}

void SpareConnections::drop(std::int16_t id, SpareEnd end) {
  const auto it = spares_.find(id);
  if (it == spares_.end()) return;
  // Its own handlers may still be on the stack: the connection goes once
  // they have returned.
  const std::shared_ptr<SocketConnection> connection = release(it, end);
  connection->detach();
  boost::asio::post(io_, [connection] {});
}

std::shared_ptr<SocketConnection> SpareConnections::release(std::map<std::int16_t, Spare>::iterator it, SpareEnd end) {
  Spare spare = std::move(it->second);
  spares_.erase(it);
  spare.expiry->cancel();
  if (spare.gone) boost::asio::post(io_, [gone = std::move(spare.gone), end] { gone(end); });
  return std::move(spare.connection);
}

std::int16_t SpareConnections::free_id() const {
  // Ids count up and wrap; at most `most` are in use, so a free one is near.
  std::int16_t id = last_id_;
  do {
    id = static_cast<std::int16_t>(id == std::numeric_limits<std::int16_t>::max() ? 0 : id + 1);
  } while (spares_.contains(id));
  return id;
}

}  // namespace vintrel::platform
