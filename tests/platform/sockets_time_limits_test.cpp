// Socket element arrays against real listeners on 127.0.0.1: connects and
// silences that outlast their time limits, and arrivals that keep a
// connection alive.

#include "platform/sockets.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "automation/automation.hpp"
#include "platform/asio.hpp"
#include "platform/asio_platform.hpp"
#include "platform/event_loop.hpp"
#include "platform/platform.hpp"
#include "platform/resolver.hpp"
#include "platform/sockets_rig.hpp"
#include "support/fake_platform.hpp"

namespace vintrel::platform {
namespace {

using namespace sockets_rig;

// --- time limits --------------------------------------------------------------

// Takes every question and never answers: a connect stuck in resolution.
class SilentResolver final : public Resolver {
 public:
  void resolve(const std::string&, Answer answer) override { pending.push_back(std::move(answer)); }
  std::vector<Answer> pending;
};

TEST(SocketArray, ConnectNotUpInTimeFailsWith10060) {
  EventLoop loop;
  SilentResolver resolver;
  AsioPlatform platform(loop, &resolver, {.connect = 50ms, .idle = 60s});
  auto array = platform.make_socket_array();
  Recorder rec(*array);
  array->Load(1);
  array->Connect(1, "slow.example.test", 80);
  ASSERT_TRUE(loop.run_until([&] { return rec.count('E') == 1; }, generous));
  EXPECT_EQ(rec.errors[0].Number, 10060);
  EXPECT_EQ(array->State(1), sck::error);
  // An answer after the time-out belongs to a connection that is over.
  ASSERT_EQ(resolver.pending.size(), 1u);
  resolver.pending[0](0, {"127.0.0.1"});
  EXPECT_EQ(array->State(1), sck::error);
  EXPECT_EQ(rec.log.size(), 1u);
}

TEST(SocketArray, SilenceAfterSendingFailsWith10060) {
  Rig rig({.connect = 30s, .idle = 50ms});
  Listener listener(rig.loop);  // reads, never answers
  auto array = rig.platform.make_socket_array();
  Recorder rec(*array);
  array->Load(1);
  array->Load(2);
  array->Connect(1, "127.0.0.1", listener.port());
  array->Connect(2, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 2; }));
  // Element 2 never sends: the idle limit does not apply to it.
  array->SendData(1, "GET / HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(rig.wait([&] { return rec.count('E') == 1; }));
  EXPECT_EQ(rec.errors[0].Number, 10060);
  EXPECT_EQ(rec.log.back().index, 1);
  EXPECT_EQ(array->State(1), sck::error);
  EXPECT_EQ(array->State(2), sck::connected);
}

TEST(SocketArray, ArrivalsKeepSendingConnectionAlive) {
  Rig rig({.connect = 30s, .idle = 100ms});
  Listener listener(rig.loop);
  auto array = rig.platform.make_socket_array();
  Recorder rec(*array);
  array->Load(1);
  array->Connect(1, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1 && listener.peers.size() == 1; }));
  array->SendData(1, "request");
  // The peer answers in drips, each within the limit, together far past it.
  auto timer = rig.platform.make_timer();
  int drips = 0;
  timer->on_tick([&] {
    if (drips < 12) {
      listener.peers[0]->send("x");
      ++drips;
    }
  });
  timer->set_interval(25);
  timer->set_enabled(true);
  ASSERT_TRUE(rig.wait([&] { return rec.received.size() == 12 || rec.count('E') > 0; }));
  EXPECT_EQ(rec.count('E'), 0);
  EXPECT_EQ(array->State(1), sck::connected);
}

// A handler that leaves its bytes (a rate cap holding them) stops the
// reading at a read's worth, so the peer's write waits; that is not the
// peer falling silent. Taken, the rest follows whole and in order, in
// reads no larger than the handler asked for.
TEST(SocketArray, UntakenBytesStopTheReadingWithoutCountingAsSilence) {
  // The read size asked for, and the most that may wait untaken.
  for (const auto& [read_size, most] : {std::pair{0, 512 * 1024}, std::pair{16 * 1024, 32 * 1024}}) {
    SCOPED_TRACE(read_size);
    // The idle limit is short, but not so short that a sanitizer build
    // starved of the CPU for a moment misses a read and counts it as silence.
    Rig rig({.connect = 30s, .idle = 300ms});
    Listener listener(rig.loop);
    auto array = rig.platform.make_socket_array();
    Recorder rec(*array);
    rec.take_data = false;
    std::int32_t largest = 0;
    rec.data_fn = [&](std::int16_t, std::int32_t total) { largest = std::max(largest, total); };
    array->Load(1);
    array->set_read_size(1, read_size);
    array->Connect(1, "127.0.0.1", listener.port());
    ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1 && listener.peers.size() == 1; }));
    array->SendData(1, "request");
    // More than the kernel's buffers on both sides can hold (Linux grows a
    // receive buffer to 32 MiB at most by default, a send buffer to 4 MiB).
    const std::string body = pattern(48 * 1024 * 1024);
    listener.peers[0]->send(body, true);
    EXPECT_FALSE(
        rig.loop.run_until([&] { return rec.count('E') > 0 || listener.peers[0]->writes_in_flight == 0; }, 1s));
    EXPECT_LE(array->BytesReceived(1), most);
    EXPECT_EQ(array->State(1), sck::connected);

    // Appended as bytes, not through GetDataText's character by character
    // copy: a sanitizer build under load took over ten seconds for that.
    std::string received;
    ASSERT_TRUE(rig.loop.run_until(
        [&] {
          const auto bytes = array->GetData(1);
          received.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
          return received.size() == body.size() || rec.count('E') > 0;
        },
        30s));
    ASSERT_EQ(rec.count('E'), 0) << rec.errors.front().Description;
    EXPECT_EQ(received.size(), body.size());
    EXPECT_TRUE(received == body);
    EXPECT_LE(largest, most);
  }
}

}  // namespace
}  // namespace vintrel::platform
