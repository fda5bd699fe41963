#pragma once
// Connections opened ahead of need. Over a far link a new connection costs
// a round trip before the first request byte can go (two with a TLS
// handshake); a connection opened while the files before are still coming
// has paid that by the time the next file wants one. The next Connect of
// any element of the platform to the same server, port and scheme takes it
// over instead of opening its own.
//
// A spare has sent nothing, so one that the server closes, or that hears
// anything at all, is dropped; so is one kept longer than `keep_for`, as
// servers close connections that stay silent (Apache after 20 s).

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/asio.hpp"
#include "platform/platform.hpp"
#include "platform/socket_connection.hpp"

namespace vintrel::platform {

/// The spare connections of one platform, shared by its socket arrays.
class SpareConnections final : public std::enable_shared_from_this<SpareConnections>,
                               private ConnectionOwner,
                               private SocketEvents {
 public:
  /// Told how a spare ended.
  using Gone = std::function<void(SpareEnd)>;

  SpareConnections(boost::asio::io_context& io, std::chrono::milliseconds keep_for);
  ~SpareConnections();
  SpareConnections(const SpareConnections&) = delete;
  SpareConnections& operator=(const SpareConnections&) = delete;

  /// Opens a spare to `host`:`port` with `settings` (which must send it
  /// straight to the server); `gone` is called from the loop once it is
  /// taken or dropped, never inside a call of this class. False when too
  /// many are open already.
  bool open(const ConnectionSettings& settings, const std::string& host, std::int32_t port, bool secure, Gone gone);
  /// A spare to `host`:`port` with that scheme, handed over to the caller
  /// (who adopts it), or null.
  std::shared_ptr<SocketConnection> take(const std::string& host, std::int32_t port, bool secure);
  /// Spares open or coming up.
  std::size_t size() const { return spares_.size(); }

 private:
  struct Spare {
    std::string host;
    std::int32_t port = 0;
    bool secure = false;
    std::shared_ptr<SocketConnection> connection;
    std::unique_ptr<boost::asio::steady_timer> expiry;
    Gone gone;
  };

  // At most this many at once, whatever asks: each holds a socket.
  static constexpr std::size_t most = 32;

  SocketEvents* event_sink() const override { return const_cast<SpareConnections*>(this); }
  void on_connect(std::int16_t) override {}
  void on_data_arrival(std::int16_t id, std::int32_t) override { drop(id, SpareEnd::lost); }
  void on_error(std::int16_t id, SocketError&) override { drop(id, SpareEnd::lost); }
  void on_close(std::int16_t id) override { drop(id, SpareEnd::lost); }

  void drop(std::int16_t id, SpareEnd end);
  std::shared_ptr<SocketConnection> release(std::map<std::int16_t, Spare>::iterator it, SpareEnd end);
  std::int16_t free_id() const;

  boost::asio::io_context& io_;
  std::chrono::milliseconds keep_for_;
  std::map<std::int16_t, Spare> spares_;  // by the index their events carry
  std::int16_t last_id_ = 0;
};

}  // namespace vintrel::platform
