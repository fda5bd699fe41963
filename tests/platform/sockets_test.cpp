// Socket element arrays against real listeners on 127.0.0.1: states, the
// order of events, byte-exact data both ways, errors with their numbers,
// time limits, and handlers that close or reconnect from inside an event.

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
#include "support/fake_platform.hpp"

namespace vintrel::platform {
namespace {

using namespace std::chrono_literals;
namespace asio = boost::asio;
using tcp = asio::ip::tcp;

constexpr auto generous = 10s;

// --- the far side -------------------------------------------------------------

// One accepted connection: reads everything the element sends, and sends,
// ends or resets on request.
struct Peer : std::enable_shared_from_this<Peer> {
  explicit Peer(tcp::socket s) : socket(std::move(s)) {}

  void start_reading() {
    socket.async_read_some(asio::buffer(chunk),
                           [self = shared_from_this()](boost::system::error_code ec, std::size_t n) {
                             if (ec) {
                               self->ended = true;
                               return;
                             }
                             self->received.append(self->chunk.data(), n);
                             self->start_reading();
                           });
  }

  // Sends `data`; with `then_end`, ends the sending side afterwards (a FIN,
  // not a close, so bytes the element sends meanwhile cause no reset).
  void send(std::string data, bool then_end = false) {
    auto bytes = std::make_shared<std::string>(std::move(data));
    ++writes_in_flight;
    asio::async_write(socket, asio::buffer(*bytes),
                      [self = shared_from_this(), bytes, then_end](boost::system::error_code ec, std::size_t) {
                        --self->writes_in_flight;
                        if (!ec && then_end) self->socket.shutdown(tcp::socket::shutdown_send, ec);
                      });
  }

  // Drops the connection with a reset instead of an orderly end.
  void reset() {
    boost::system::error_code ec;
    socket.set_option(asio::socket_base::linger(true, 0), ec);
    socket.close(ec);
  }

  tcp::socket socket;
  std::array<char, 64 * 1024> chunk{};
  std::string received;
  bool ended = false;
  int writes_in_flight = 0;
};

// A listener on an ephemeral loopback port, served on the test's own loop.
class Listener {
 public:
  explicit Listener(EventLoop& loop)
      : acceptor_(asio_context(loop), tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
    accept_next();
  }
  ~Listener() {
    boost::system::error_code ec;
    acceptor_.close(ec);
    for (auto& peer : peers) peer->socket.close(ec);
  }

  std::int32_t port() const { return acceptor_.local_endpoint().port(); }

  std::vector<std::shared_ptr<Peer>> peers;

 private:
  void accept_next() {
    acceptor_.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
      if (ec) return;
      peers.push_back(std::make_shared<Peer>(std::move(socket)));
      peers.back()->start_reading();
      accept_next();
    });
  }

  tcp::acceptor acceptor_;
};

// --- the control's side -------------------------------------------------------

struct Event {
  char kind;  // C onnect, D ata, E rror, X close
  std::int16_t index;
  std::int32_t value;  // bytes_total for D, Number for E, State at the time otherwise
  std::thread::id thread;
};

// Records every event and lets a test act inside it, as the control does.
class Recorder final : public SocketEvents {
 public:
  explicit Recorder(SocketArray& array) : array_(array) { array.set_events(this); }

  void on_connect(std::int16_t index) override {
    log.push_back({'C', index, array_.State(index), std::this_thread::get_id()});
    if (connect_fn) connect_fn(index);
  }
  void on_data_arrival(std::int16_t index, std::int32_t bytes_total) override {
    log.push_back({'D', index, bytes_total, std::this_thread::get_id()});
    if (take_data) received += array_.GetDataText(index);
    if (data_fn) data_fn(index, bytes_total);
  }
  void on_error(std::int16_t index, SocketError& error) override {
    log.push_back({'E', index, error.Number, std::this_thread::get_id()});
    errors.push_back(error);
    if (error_fn) error_fn(index, error);
  }
  void on_close(std::int16_t index) override {
    log.push_back({'X', index, array_.State(index), std::this_thread::get_id()});
    if (close_fn) close_fn(index);
  }

  int count(char kind) const {
    int n = 0;
    for (const auto& e : log) n += e.kind == kind ? 1 : 0;
    return n;
  }

  std::vector<Event> log;
  std::vector<SocketError> errors;
  std::string received;
  bool take_data = true;
  std::function<void(std::int16_t)> connect_fn;
  std::function<void(std::int16_t, std::int32_t)> data_fn;
  std::function<void(std::int16_t, SocketError&)> error_fn;
  std::function<void(std::int16_t)> close_fn;

 private:
  SocketArray& array_;
};

// A loop, a resolver that never asks the network, and a platform on them.
struct Rig {
  explicit Rig(SocketTimeouts timeouts = {}) : platform(loop, &resolver, timeouts) {}

  bool wait(const std::function<bool()>& done) { return loop.run_until(done, generous); }

  EventLoop loop;
  FixedResolver resolver{[this](std::function<void()> fn) { loop.post(std::move(fn)); }};
  AsioPlatform platform;
};

// What most tests start from: the rig, a listener on its loop, an array
// made there and the recorder of the array's events.
class SocketArrayTest : public ::testing::Test {
 protected:
  Rig rig;
  Listener listener{rig.loop};
  std::unique_ptr<SocketArray> array = rig.platform.make_socket_array();
  Recorder rec{*array};
};

std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

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
