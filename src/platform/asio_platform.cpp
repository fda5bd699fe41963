// The real platform: socket element arrays, timers and the loop wait, all on
// the Asio context of one EventLoop. An array maps element indexes to their
// connections (socket_connection.hpp), which do the work.

#include <limits>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "automation/automation.hpp"
#include "platform/asio.hpp"
#include "platform/asio_platform.hpp"
#include "platform/asio_timer.hpp"
#include "platform/event_loop.hpp"
#include "platform/platform.hpp"
#include "platform/resolver.hpp"
#include "platform/socket_connection.hpp"
#include "platform/spare_connections.hpp"
#include "platform/tls_context.hpp"

namespace vintrel::platform {

namespace {

class AsioSocketArray final : public SocketArray, private ConnectionOwner {
 public:
  AsioSocketArray(boost::asio::io_context& io, ConnectionSettings settings, std::shared_ptr<SpareConnections> spares)
      : io_(io), settings_(std::move(settings)), spares_(std::move(spares)) {}

  // Connections outlive the array while handlers of theirs are queued; once
  // detached, those handlers find no one to tell.
  ~AsioSocketArray() override {
    for (auto& [index, connection] : connections_) connection->detach();
  }

  AsioSocketArray(const AsioSocketArray&) = delete;
  AsioSocketArray& operator=(const AsioSocketArray&) = delete;

  void Load(std::int32_t index) override {
    // Events carry the index as a 16-bit integer.
    if (index < 0 || index > std::numeric_limits<std::int16_t>::max()) automation::raise(automation::err::invalid_call);
    auto it = connections_.find(index);
    if (it != connections_.end()) {
      it->second->close();
      return;
    }
    ConnectionOwner& owner = *this;
    connections_.emplace(index,
                         std::make_shared<SocketConnection>(io_, settings_, owner, static_cast<std::int16_t>(index)));
  }

  bool IsLoaded(std::int32_t index) const override { return connections_.count(index) != 0; }

  std::int16_t State(std::int32_t index) const override { return connection(index).state(); }

  void Close(std::int32_t index) override { connection(index).close(); }

  using SocketArray::Connect;
  void Connect(std::int32_t index, const std::string& host, std::int32_t port, bool secure) override {
    SocketConnection& mine = connection(index);
    std::shared_ptr<SocketConnection> spare = spares_->take(host, port, secure);
    if (!spare) {
      mine.connect(host, port, secure);
      return;
    }
    ConnectionOwner& owner = *this;
    spare->adopt(owner, static_cast<std::int16_t>(index), mine.read_size());
    std::shared_ptr<SocketConnection>& slot = connections_.at(index);
    slot->detach();
    // A view an earlier GetData of this element gave out lives until the
    // loop turns, and so must the connection whose buffer it points into.
    boost::asio::post(io_, [retired = std::move(slot)] {});
    slot = std::move(spare);
  }

  void SendData(std::int32_t index, std::string_view data) override { connection(index).send(data); }

  std::span<const std::uint8_t> GetData(std::int32_t index) override { return connection(index).take(); }

  std::int32_t BytesReceived(std::int32_t index) const override { return connection(index).bytes_received(); }

  std::string tls_summary(std::int32_t index) const override { return connection(index).tls_summary(); }

  void set_read_size(std::int32_t index, std::int32_t bytes) override { connection(index).set_read_size(bytes); }

 private:
  SocketEvents* event_sink() const override { return events(); }

  SocketConnection& connection(std::int32_t index) const {
    auto it = connections_.find(index);
    if (it == connections_.end()) automation::raise(automation::err::no_element);
    return *it->second;
  }

  boost::asio::io_context& io_;
  ConnectionSettings settings_;
  std::shared_ptr<SpareConnections> spares_;
  std::map<std::int32_t, std::shared_ptr<SocketConnection>> connections_;
};

// Servers close a connection that stays silent, some after 20 s.
constexpr std::chrono::milliseconds spare_lifetime{10000};

}  // namespace

AsioPlatform::AsioPlatform(EventLoop& loop, Resolver* resolver, SocketTimeouts timeouts, const TlsOptions& tls,
                           ProxySettings proxies)
    : loop_(loop),
      own_resolver_(resolver != nullptr ? nullptr : make_system_resolver(loop)),
      resolver_(resolver != nullptr ? resolver : own_resolver_.get()),
      timeouts_(timeouts),
      tls_(std::make_shared<TlsContext>(tls)),
      proxies_(std::make_shared<const ProxySettings>(std::move(proxies))),
      offers_tls_(tls::module_available()),
      spares_(std::make_shared<SpareConnections>(asio_context(loop_), spare_lifetime)) {}

AsioPlatform::~AsioPlatform() = default;

std::unique_ptr<SocketArray> AsioPlatform::make_socket_array() {
  return std::make_unique<AsioSocketArray>(asio_context(loop_),
                                           ConnectionSettings{*resolver_, timeouts_, tls_, proxies_}, spares_);
}

bool AsioPlatform::preconnect(const std::string& host, std::int32_t port, bool secure,
                              std::function<void(SpareEnd)> gone) {
  if (proxies_->route(host, port, secure) != nullptr || (secure && !offers_tls_)) return false;
  return spares_->open(ConnectionSettings{*resolver_, timeouts_, tls_, proxies_}, host, port, secure, std::move(gone));
}

std::unique_ptr<Timer> AsioPlatform::make_timer() { return make_asio_timer(asio_context(loop_)); }

bool AsioPlatform::wait_until(const std::function<bool()>& done) { return loop_.run_until(done); }

void AsioPlatform::post(std::function<void()> fn) { loop_.post(std::move(fn)); }

}  // namespace vintrel::platform
