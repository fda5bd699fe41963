// Socket element arrays against real listeners on 127.0.0.1: connecting,
// errors with their numbers; and the scripted platform and the system
// resolver that the other tests stand on.

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

// --- connecting ---------------------------------------------------------------

TEST_F(SocketArrayTest, ConnectReturnsAtOnceThenReportsConnected) {
  array->Load(1);
  EXPECT_EQ(array->State(1), sck::closed);

  array->Connect(1, "127.0.0.1", listener.port());
  EXPECT_EQ(array->State(1), sck::resolving);
  EXPECT_TRUE(rec.log.empty());

  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1; }));
  EXPECT_EQ(rec.log[0].index, 1);
  EXPECT_EQ(rec.log[0].value, sck::connected);  // State inside the event
  EXPECT_EQ(array->State(1), sck::connected);
  ASSERT_TRUE(rig.wait([&] { return listener.peers.size() == 1; }));
}

TEST_F(SocketArrayTest, NameGivenToResolverConnectsToItsAddress) {
  rig.resolver.add("files.example.test", "127.0.0.1");
  array->Load(0);
  array->Connect(0, "files.example.test", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1; }));
  EXPECT_EQ(array->State(0), sck::connected);
}

// Answers every name with the same list of addresses, later, on the loop.
class ListResolver final : public Resolver {
 public:
  ListResolver(EventLoop& loop, std::vector<std::string> addresses) : loop_(loop), addresses_(std::move(addresses)) {}
  void resolve(const std::string&, Answer answer) override {
    loop_.post([answer = std::move(answer), addresses = addresses_] { answer(0, addresses); });
  }

 private:
  EventLoop& loop_;
  std::vector<std::string> addresses_;
};

TEST(SocketArray, LaterAddressIsTriedWhenEarlierOneRefuses) {
  EventLoop loop;
  Listener listener(loop);  // on 127.0.0.1 only; 127.0.0.2 refuses
  ListResolver resolver(loop, {"127.0.0.2", "not an address", "127.0.0.1"});
  AsioPlatform platform(loop, &resolver);
  auto array = platform.make_socket_array();
  Recorder rec(*array);
  array->Load(1);
  array->Connect(1, "two.example.test", listener.port());
  ASSERT_TRUE(loop.run_until([&] { return !rec.log.empty(); }, generous));
  EXPECT_EQ(rec.log[0].kind, 'C');
  EXPECT_EQ(array->State(1), sck::connected);
}

// --- errors -------------------------------------------------------------------

TEST_F(SocketArrayTest, RefusedPortRaisesError10061) {
  std::int32_t port = 0;
  {
    Listener closed(rig.loop);
    port = closed.port();
  }
  array->Load(3);
  array->Connect(3, "127.0.0.1", port);
  ASSERT_TRUE(rig.wait([&] { return rec.count('E') == 1; }));
  const SocketError& error = rec.errors[0];
  EXPECT_EQ(error.Number, 10061);
  EXPECT_EQ(error.Scode, 10061);
  EXPECT_EQ(error.Description, "Connection is forcefully rejected");
  EXPECT_EQ(error.Source, "Winsock");
  EXPECT_EQ(rec.log[0].index, 3);
  EXPECT_EQ(array->State(3), sck::error);
  EXPECT_EQ(rec.count('C'), 0);
}

TEST_F(SocketArrayTest, UnknownHostRaisesError11001WithoutQuery) {
  // The rig's fixed resolver: no query can leave.
  array->Load(1);
  array->Connect(1, "nowhere.example.test", 80);
  EXPECT_TRUE(rec.log.empty());  // errors found at once still come later
  ASSERT_TRUE(rig.wait([&] { return rec.count('E') == 1; }));
  EXPECT_EQ(rec.errors[0].Number, 11001);
  EXPECT_EQ(rec.errors[0].Description, "Authoritative answer: Host not found");
  EXPECT_EQ(array->State(1), sck::error);
}

TEST_F(SocketArrayTest, PortOutsideRangeFailsLaterNotInline) {
  array->Load(1);
  array->Connect(1, "127.0.0.1", 70000);
  EXPECT_TRUE(rec.log.empty());
  ASSERT_TRUE(rig.wait([&] { return rec.count('E') == 1; }));
  EXPECT_EQ(array->State(1), sck::error);
}

TEST_F(SocketArrayTest, ResetMidStreamRaisesError10054) {
  array->Load(1);
  array->Connect(1, "127.0.0.1", listener.port());
  ASSERT_TRUE(rig.wait([&] { return rec.count('C') == 1 && listener.peers.size() == 1; }));
  listener.peers[0]->send("partial");
  ASSERT_TRUE(rig.wait([&] { return rec.received == "partial"; }));
  listener.peers[0]->reset();
  ASSERT_TRUE(rig.wait([&] { return rec.count('E') == 1; }));
  EXPECT_EQ(rec.errors[0].Number, 10054);
  EXPECT_EQ(rec.errors[0].Description, "Connection is reset by remote side");
  EXPECT_EQ(array->State(1), sck::error);
  EXPECT_EQ(rec.count('X'), 0);
}

TEST(SocketErrorText, GivesTheClassicDescriptions) {
  EXPECT_EQ(socket_error_text(10061), "Connection is forcefully rejected");
  EXPECT_EQ(socket_error_text(10054), "Connection is reset by remote side");
  EXPECT_EQ(socket_error_text(10053), "Connection is aborted due to timeout or other failure");
  EXPECT_EQ(socket_error_text(10051), "Network is unreachable");
  EXPECT_EQ(socket_error_text(10065), "No route to host");
  EXPECT_EQ(socket_error_text(11001), "Authoritative answer: Host not found");
  EXPECT_EQ(socket_error_text(11002), "Non-Authoritative answer: Host not found");
  EXPECT_FALSE(socket_error_text(10060).empty());
}

TEST(SocketErrorText, OperatingSystemErrorsMapToTheSameCondition) {
  EXPECT_EQ(socket_error_from_errno(ECONNREFUSED), 10061);
  EXPECT_EQ(socket_error_from_errno(ETIMEDOUT), 10060);
  EXPECT_EQ(socket_error_from_errno(ECONNRESET), 10054);
  EXPECT_EQ(socket_error_from_errno(ECONNABORTED), 10053);
  EXPECT_EQ(socket_error_from_errno(ENETUNREACH), 10051);
  EXPECT_EQ(socket_error_from_errno(EHOSTUNREACH), 10065);
  EXPECT_EQ(socket_error_from_errno(EPIPE), 10058);
  EXPECT_EQ(socket_error_from_errno(EADDRNOTAVAIL), 10049);
}

// --- the scripted platform --------------------------------------------------------

TEST(FakeSocketArray, BehavesLikeRealOneForLoadStateAndData) {
  testing::FakePlatform fake;
  auto winsock = fake.make_socket_array();
  auto ping = fake.make_socket_array();
  EXPECT_EQ(&fake.array(0), winsock.get());
  EXPECT_EQ(&fake.array(1), ping.get());
  Recorder rec(*winsock);
  rec.take_data = false;

  EXPECT_THROW(winsock->State(1), automation::AutomationError);
  winsock->Load(1);
  winsock->Connect(1, "files.example.test", 80);
  EXPECT_EQ(winsock->State(1), sck::connecting);
  fake.array(0).accept(1);
  EXPECT_EQ(rec.log.at(0).kind, 'C');
  EXPECT_EQ(winsock->State(1), sck::connected);

  fake.array(0).deliver(1, "ab");
  fake.array(0).deliver(1, "cd");
  EXPECT_EQ(rec.log.back().value, 4);  // the inbox, not only the last piece
  auto bytes = winsock->GetData(1);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abcd");
  EXPECT_EQ(winsock->BytesReceived(1), 0);

  fake.array(0).peer_close(1);
  EXPECT_EQ(rec.log.back().kind, 'X');
  EXPECT_EQ(rec.log.back().value, sck::closing);
  winsock->Load(1);
  EXPECT_EQ(fake.array(0).element(1).closes, 1);
  EXPECT_EQ(fake.array(0).element(1).loads, 2);
}

TEST(FakePlatform, WaitUntilRunsPostedFunctionsUntilDoneOrEmpty) {
  testing::FakePlatform fake;
  int ran = 0;
  for (int i = 0; i < 3; ++i) fake.post([&] { ++ran; });
  EXPECT_TRUE(fake.wait_until([&] { return ran == 2; }));
  EXPECT_EQ(fake.posted_count(), 1u);
  EXPECT_FALSE(fake.wait_until([] { return false; }));
  EXPECT_EQ(ran, 3);
}

// --- the system resolver ---------------------------------------------------

// An address is its own answer, in the text a lookup would give, and still
// comes later, on the loop, like every other answer.
TEST(SystemResolver, AnswersAddressesThemselvesOnTheLoop) {
  EventLoop loop;
  auto resolver = make_system_resolver(loop);
  struct Reply {
    std::int16_t error = -1;
    std::vector<std::string> addresses;
  };
  std::vector<Reply> replies;
  for (const char* host : {"127.0.0.1", "::1", "0:0:0:0:0:0:0:1", "::FFFF:127.0.0.1"}) {
    resolver->resolve(host, [&replies](std::int16_t error, std::vector<std::string> addresses) {
      replies.push_back({error, std::move(addresses)});
    });
  }
  EXPECT_TRUE(replies.empty());
  ASSERT_TRUE(loop.run_until([&] { return replies.size() == 4; }, generous));
  const std::vector<std::vector<std::string>> expected = {{"127.0.0.1"}, {"::1"}, {"::1"}, {"::ffff:127.0.0.1"}};
  for (std::size_t i = 0; i < replies.size(); ++i) {
    EXPECT_EQ(replies[i].error, 0) << i;
    EXPECT_EQ(replies[i].addresses, expected[i]) << i;
  }
}

}  // namespace
}  // namespace vintrel::platform
