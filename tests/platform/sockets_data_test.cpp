// Socket element arrays against real listeners on 127.0.0.1: byte-exact data
// both ways, the order of events, and handlers that close or reconnect from
// inside an event.

#include "platform/sockets.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
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

// --- data ---------------------------------------------------------------------

TEST_F(SocketArrayTest, SentTextReachesPeerByteExact) {
  array->Load(1);
  std::string all_bytes;
  for (int c = 0; c < 256; ++c) all_bytes.push_back(static_cast<char>(c));
  // Given before the connection is up, and in several pieces.
  array->Connect(1, "127.0.0.1", listener.port());
  array->SendData(1, "first|");
  rec.connect_fn = [&](std::int16_t index) {
    array->SendData(index, all_bytes);
    array->SendData(index, "|last");
  };
  const std::string expected = "first|" + all_bytes + "|last";
  ASSERT_TRUE(
      rig.wait([&] { return !listener.peers.empty() && listener.peers[0]->received.size() >= expected.size(); }));
  EXPECT_EQ(listener.peers[0]->received, expected);
}

TEST_F(SocketArrayTest, SendDataOnClosedElementFailsWithWrongState) {
  array->Load(1);
  try {
    array->SendData(1, "x");
    FAIL() << "SendData on a closed element succeeded";
  } catch (const automation::AutomationError& e) {
    EXPECT_EQ(e.number(), 40006);
  }
}

TEST_F(SocketArrayTest, DataArrivalCountsBytesAndGetDataEmptiesElement) {
  rec.take_data = false;
  std::vector<std::int32_t> totals;
  std::vector<std::size_t> taken;
  std::vector<std::int32_t> left_after;
  rec.data_fn = [&](std::int16_t index, std::int32_t total) {
    totals.push_back(total);
    EXPECT_EQ(array->BytesReceived(index), total);
    taken.push_back(array->GetData(index).size());
    left_after.push_back(array->BytesReceived(index));
    EXPECT_TRUE(array->GetData(index).empty());
  };
  array->Load(1);
  array->Connect(1, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1 && listener.peers.size() == 1; }));
  listener.peers[0]->send(std::string(1000, 'a'));
  std::size_t sum = 0;
  ASSERT_TRUE(rig.wait([&] {
    sum = 0;
    for (auto n : taken) sum += n;
    return sum == 1000;
  }));
  for (std::size_t i = 0; i < totals.size(); ++i) {
    EXPECT_EQ(static_cast<std::size_t>(totals[i]), taken[i]);
    EXPECT_EQ(left_after[i], 0);
  }
  EXPECT_EQ(array->BytesReceived(1), 0);
  EXPECT_EQ(array->State(1), sck::connected);
}

TEST_F(SocketArrayTest, UntakenBytesComeBackWithLaterOnesInOrder) {
  rec.take_data = false;
  array->Load(1);
  array->Connect(1, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1 && listener.peers.size() == 1; }));
  listener.peers[0]->send("abc");
  ASSERT_TRUE(rig.wait([&] { return rec.count('D') == 1; }));
  EXPECT_EQ(array->BytesReceived(1), 3);
  listener.peers[0]->send("defg");
  ASSERT_TRUE(rig.wait([&] { return array->BytesReceived(1) == 7; }));
  EXPECT_EQ(rec.log.back().kind, 'D');
  EXPECT_EQ(rec.log.back().value, 7);  // the count covers what was left
  EXPECT_EQ(array->GetDataText(1), "abcdefg");
  EXPECT_EQ(array->BytesReceived(1), 0);
  EXPECT_EQ(array->GetDataText(1), "");
}

TEST_F(SocketArrayTest, CloseNotificationComesAfterLastData) {
  array->Load(1);
  array->Connect(1, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1 && listener.peers.size() == 1; }));
  const std::string body = pattern(700 * 1024);
  listener.peers[0]->send(body, true);
  ASSERT_TRUE(rig.wait([&] { return rec.count('X') == 1; }));
  EXPECT_EQ(rec.received, body);
  EXPECT_EQ(rec.log.back().kind, 'X');
  EXPECT_EQ(rec.log.back().value, sck::closing);  // State inside the event
  EXPECT_EQ(array->State(1), sck::closing);
  EXPECT_EQ(rec.count('E'), 0);
}

TEST_F(SocketArrayTest, PeerEndWaitsUntilUntakenBytesAreTaken) {
  rec.take_data = false;
  array->Load(1);
  array->Connect(1, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1 && listener.peers.size() == 1; }));
  listener.peers[0]->send("tail", true);
  ASSERT_TRUE(rig.wait([&] { return rec.count('D') >= 1; }));
  // The end has come or is coming; while "tail" waits, nothing shows it.
  EXPECT_FALSE(rig.loop.run_until([&] { return rec.count('X') > 0; }, 100ms));
  EXPECT_EQ(array->State(1), sck::connected);
  EXPECT_EQ(array->BytesReceived(1), 4);

  EXPECT_EQ(array->GetDataText(1), "tail");
  EXPECT_EQ(array->State(1), sck::closing);
  EXPECT_EQ(rec.count('X'), 0);  // not inside GetData
  ASSERT_TRUE(rig.wait([&] { return rec.count('X') == 1; }));
  EXPECT_EQ(array->State(1), sck::closing);
}

TEST_F(SocketArrayTest, LargeTransferArrivesCompleteAndInOrder) {
  array->Load(7);
  array->Connect(7, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1 && listener.peers.size() == 1; }));
  const std::string body = pattern(8 * 1024 * 1024);
  rec.received.reserve(body.size());
  listener.peers[0]->send(body, true);
  ASSERT_TRUE(rig.wait([&] { return rec.count('X') == 1 || rec.count('E') > 0; }));
  EXPECT_EQ(rec.count('E'), 0);
  ASSERT_EQ(rec.received.size(), body.size());
  EXPECT_TRUE(rec.received == body);
}

// --- life cycle -----------------------------------------------------------------

TEST_F(SocketArrayTest, ElementNeverLoadedFailsWith340) {
  array->Load(1);
  EXPECT_FALSE(array->IsLoaded(2));
  EXPECT_TRUE(array->IsLoaded(1));
  const std::vector<std::function<void()>> calls = {
      [&] { array->State(2); },         [&] { array->Close(2); },   [&] { array->Connect(2, "127.0.0.1", 80); },
      [&] { array->SendData(2, "x"); }, [&] { array->GetData(2); }, [&] { array->BytesReceived(2); },
  };
  for (std::size_t i = 0; i < calls.size(); ++i) {
    try {
      calls[i]();
      ADD_FAILURE() << "call " << i << " on an element never loaded succeeded";
    } catch (const automation::AutomationError& e) {
      EXPECT_EQ(e.number(), 340) << "call " << i;
    }
  }
}

TEST_F(SocketArrayTest, CloseIsHarmlessOnClosedElement) {
  array->Load(1);
  array->Close(1);
  array->Close(1);
  EXPECT_EQ(array->State(1), sck::closed);
  // And after a real connection, twice over.
  array->Connect(1, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1 && listener.peers.size() == 1; }));
  array->Close(1);
  array->Close(1);
  EXPECT_EQ(array->State(1), sck::closed);
  ASSERT_TRUE(rig.wait([&] { return listener.peers[0]->ended; }));
  EXPECT_EQ(rec.log.size(), 1u);  // a Close of our own raises nothing
}

TEST_F(SocketArrayTest, LoadOfLoadedElementClosesAndReusesIt) {
  array->Load(1);
  array->Connect(1, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1 && listener.peers.size() == 1; }));
  array->Load(1);
  EXPECT_EQ(array->State(1), sck::closed);
  ASSERT_TRUE(rig.wait([&] { return listener.peers[0]->ended; }));
  array->Connect(1, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 2; }));
  EXPECT_EQ(array->State(1), sck::connected);
}

TEST_F(SocketArrayTest, CloseInsideDataArrivalEndsEventsOfThatConnection) {
  array->Load(1);
  array->Load(2);
  rec.data_fn = [&](std::int16_t index, std::int32_t) {
    if (index == 1) array->Close(1);
  };
  array->Connect(1, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1 && listener.peers.size() == 1; }));
  array->Connect(2, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 2 && listener.peers.size() == 2; }));
  // Plenty more bytes and an end for element 1 after its Close.
  listener.peers[0]->send(pattern(2 * 1024 * 1024), true);
  ASSERT_TRUE(rig.wait([&] { return rec.count('D') >= 1; }));
  // Element 2 is the witness that the loop went on for a while.
  listener.peers[1]->send("w", true);
  ASSERT_TRUE(rig.wait([&] { return rec.count('X') == 1; }));
  EXPECT_EQ(rec.log.back().index, 2);
  int element1_data = 0;
  for (const auto& e : rec.log) element1_data += (e.kind == 'D' && e.index == 1) ? 1 : 0;
  EXPECT_EQ(element1_data, 1);
  EXPECT_EQ(array->State(1), sck::closed);
}

TEST_F(SocketArrayTest, ReconnectFromInsideErrorHandlerWorks) {
  std::int32_t refused_port = 0;
  {
    Listener gone(rig.loop);
    refused_port = gone.port();
  }
  rec.error_fn = [&](std::int16_t index, SocketError&) {
    array->Close(index);
    array->Connect(index, "127.0.0.1", listener.port());
  };
  array->Load(1);
  array->Connect(1, "127.0.0.1", refused_port);
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1; }));
  EXPECT_EQ(rec.count('E'), 1);
  EXPECT_EQ(array->State(1), sck::connected);
}

TEST_F(SocketArrayTest, ArrayDestroyedInsideItsOwnEventIsSafe) {
  array->Load(1);
  array->Load(2);
  rec.data_fn = [&](std::int16_t, std::int32_t) { array.reset(); };
  array->Connect(1, "127.0.0.1", listener.port());
  array->Connect(2, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 2 && listener.peers.size() == 2; }));
  listener.peers[0]->send(pattern(1024 * 1024), true);
  listener.peers[1]->send(pattern(1024 * 1024), true);
  ASSERT_TRUE(rig.wait([&] { return array == nullptr; }));
  // Give the queued completions of both connections a chance to run.
  ASSERT_TRUE(rig.wait([&] { return listener.peers[0]->ended && listener.peers[1]->ended; }));
  EXPECT_EQ(rec.count('D'), 1);
  EXPECT_EQ(rec.count('X'), 0);
}

TEST_F(SocketArrayTest, EventsComeOnTheLoopThread) {
  std::thread::id loop_thread;
  bool finished = false;
  rec.close_fn = [&](std::int16_t) { rig.loop.stop(); };
  rig.loop.post([&] {
    array->Load(1);
    array->Connect(1, "127.0.0.1", listener.port());
  });
  rec.connect_fn = [&](std::int16_t) {
    array->SendData(1, "hello");
    // The far side answers and ends once it has the request.
    rig.loop.post([&] { listener.peers.at(0)->send("answer", true); });
  };
  std::thread runner([&] {
    loop_thread = std::this_thread::get_id();
    rig.loop.run();
    finished = true;
  });
  runner.join();
  ASSERT_TRUE(finished);
  ASSERT_EQ(rec.count('X'), 1);
  EXPECT_EQ(rec.received, "answer");
  for (const auto& e : rec.log) EXPECT_EQ(e.thread, loop_thread) << e.kind;
  EXPECT_NE(loop_thread, std::this_thread::get_id());
}

}  // namespace
}  // namespace vintrel::platform
