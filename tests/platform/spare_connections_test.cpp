// Connections opened ahead of need: the next Connect to the same server,
// port and scheme takes the spare over instead of opening its own, and the
// spare's end (taken, expired, lost) is told once.

#include "platform/spare_connections.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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

TEST_F(SocketArrayTest, NextConnectToTheSameServerTakesTheSpareOver) {
  Ends ends;
  ASSERT_TRUE(rig.platform.preconnect("127.0.0.1", listener.port(), false, ends.sink()));
  ASSERT_TRUE(rig.wait([&] { return listener.peers.size() == 1; }));

  array->Load(0);
  array->Connect(0, "127.0.0.1", listener.port());
  EXPECT_TRUE(rec.log.empty());  // never inside Connect
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1 && !ends.seen.empty(); }));
  EXPECT_EQ(ends.seen, std::vector<SpareEnd>{SpareEnd::taken});
  EXPECT_EQ(rec.log[0].value, sck::connected);

  array->SendData(0, "ping");
  ASSERT_TRUE(rig.wait([&] { return listener.peers[0]->received == "ping"; }));
  listener.peers[0]->send("pong", true);
  ASSERT_TRUE(rig.wait([&] { return rec.count('X') == 1; }));
  EXPECT_EQ(rec.received, "pong");
  EXPECT_EQ(listener.peers.size(), 1u);
}

// A spare is for its server, port and scheme only; one the server ends is
// dropped and told as lost, and a Connect after it (as after one taken)
// opens its own.
TEST_F(SocketArrayTest, SpareIsOnlyForItsServerAndOneTheServerEndsIsLost) {
  Listener other(rig.loop);
  Ends ends;
  ASSERT_TRUE(rig.platform.preconnect("127.0.0.1", listener.port(), false, ends.sink()));
  ASSERT_TRUE(rig.wait([&] { return listener.peers.size() == 1; }));
  array->Load(0);
  array->Connect(0, "127.0.0.1", other.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1 && other.peers.size() == 1; }));
  EXPECT_TRUE(ends.seen.empty());

  listener.peers[0]->reset();
  ASSERT_TRUE(rig.wait([&] { return !ends.seen.empty(); }));
  EXPECT_EQ(ends.seen, std::vector<SpareEnd>{SpareEnd::lost});
  array->Connect(0, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 2 && listener.peers.size() == 2; }));
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

}  // namespace
}  // namespace vintrel::platform
