// Connections opened ahead of need: the next Connect to the same server,
// port and scheme takes the spare over instead of opening its own, and the
// spare's end (taken, expired, lost) is told once.

#include "platform/spare_connections.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/proxy.hpp"
#include "platform/sockets_rig.hpp"
#include "platform/tls_context.hpp"

namespace vintrel::platform {
namespace {

using namespace sockets_rig;

struct Ends {
  std::vector<SpareEnd> seen;
  std::function<void(SpareEnd)> sink() {
    return [this](SpareEnd end) { seen.push_back(end); };
  }
};

// The next Connect to the spare's server, port and scheme takes it over
// (another port does not); a spare the server ends is told as lost, and
// the next Connect then opens its own.
TEST_F(SocketArrayTest, NextConnectToTheSameServerTakesTheSpareOverAndALostOneIsNot) {
  Listener other(rig.loop);
  Ends ends;
  ASSERT_TRUE(rig.platform.preconnect("127.0.0.1", listener.port(), false, ends.sink()));
  ASSERT_TRUE(rig.wait([&] { return listener.peers.size() == 1; }));
  array->Load(0);
  array->Connect(0, "127.0.0.1", other.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1 && other.peers.size() == 1; }));
  EXPECT_TRUE(ends.seen.empty());

  array->Load(1);
  array->Connect(1, "127.0.0.1", listener.port());
  EXPECT_EQ(rec.count('C'), 1);  // never inside Connect
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 2 && !ends.seen.empty(); }));
  EXPECT_EQ(ends.seen, std::vector<SpareEnd>{SpareEnd::taken});
  array->SendData(1, "ping");
  ASSERT_TRUE(rig.wait([&] { return listener.peers[0]->received == "ping"; }));
  listener.peers[0]->send("pong", true);
  ASSERT_TRUE(rig.wait([&] { return rec.count('X') == 1; }));
  EXPECT_EQ(rec.received, "pong");
  EXPECT_EQ(listener.peers.size(), 1u);

  ASSERT_TRUE(rig.platform.preconnect("127.0.0.1", listener.port(), false, ends.sink()));
  ASSERT_TRUE(rig.wait([&] { return listener.peers.size() == 2; }));
  listener.peers[1]->reset();
  ASSERT_TRUE(rig.wait([&] { return ends.seen.size() == 2; }));
  EXPECT_EQ(ends.seen.back(), SpareEnd::lost);
  array->Connect(1, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 3 && listener.peers.size() == 3; }));
  EXPECT_TRUE(rec.errors.empty());
}

TEST_F(SocketArrayTest, SpareKeptUnusedTooLongIsClosedAndToldAsExpired) {
  auto pool = std::make_shared<SpareConnections>(asio_context(rig.loop), std::chrono::milliseconds(20));
  Ends ends;
  const ConnectionSettings settings{rig.resolver, {}, std::make_shared<TlsContext>(TlsOptions{}), nullptr};
  ASSERT_TRUE(pool->open(settings, "127.0.0.1", listener.port(), false, ends.sink()));
  ASSERT_TRUE(rig.wait([&] { return !ends.seen.empty(); }));
  EXPECT_EQ(ends.seen, std::vector<SpareEnd>{SpareEnd::expired});
  EXPECT_EQ(pool->size(), 0u);
  EXPECT_EQ(pool->take("127.0.0.1", listener.port(), false), nullptr);
  ASSERT_TRUE(rig.wait([&] { return listener.peers.size() == 1 && listener.peers[0]->ended; }));
}

// What goes through a proxy is never opened ahead: the proxy, not the
// server, would hold it.
TEST(SpareConnections, NoneIsOpenedForAServerReachedThroughAProxy) {
  std::string error;
  ProxySettings proxies;
  proxies.http = parse_proxy_url("http://127.0.0.1:3128", error);
  EventLoop loop;
  FixedResolver resolver{[&loop](std::function<void()> fn) { loop.post(std::move(fn)); }};
  AsioPlatform platform(loop, &resolver, {}, {}, std::move(proxies));
  EXPECT_FALSE(platform.preconnect("127.0.0.1", 8080, false, [](SpareEnd) {}));
}

}  // namespace
}  // namespace vintrel::platform
