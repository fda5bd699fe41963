// Secure socket elements whose connection breaks during the handshake stay
// ordinary, retryable socket errors; and how a secure connection ends.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/asio_platform.hpp"
#include "platform/event_loop.hpp"
#include "platform/platform.hpp"
#include "platform/resolver.hpp"
#include "platform/sockets.hpp"
#include "platform/tls_sockets_rig.hpp"
#include "support/hostile_server.hpp"
#include "support/nginx_server.hpp"
#include "support/test_ca.hpp"

namespace vintrel::platform {
namespace {

using namespace tls_sockets_rig;

// --- handshakes that break --------------------------------------------------------

TEST_F(TlsSockets, HandshakeCutByServerIsRetryableSocketError) {
  for (HandshakeBreak where : {HandshakeBreak::before_server_hello, HandshakeBreak::mid_server_hello}) {
    const auto& identity = TestCa::shared().server();
    HostileServer server({Script().break_handshake(where)}, HostileTls{identity.chain, identity.key});
    Rig rig(trusting_test_ca());
    ASSERT_TRUE(rig.exchange("127.0.0.1", server.port()));
    ASSERT_EQ(rig.recorder->log, "E");
    const std::int16_t number = rig.recorder->errors[0].Number;
    EXPECT_TRUE(number == sck_err::aborted || number == sck_err::reset) << number;
    EXPECT_FALSE(is_tls_failure(number));
    EXPECT_EQ(rig.array->State(1), sck::error);
  }
}

TEST_F(TlsSockets, PlainHttpServerIsChannelError) {
  const std::string answer = testing::http_response(400, "Bad Request", {{"Content-Length", "0"}}, "");
  HostileServer server({Script().unprompted().send(answer).close()});
  Rig rig(trusting_test_ca());
  ASSERT_TRUE(rig.exchange("127.0.0.1", server.port()));
  ASSERT_EQ(rig.recorder->log, "E");
  const SocketError& error = rig.recorder->errors[0];
  EXPECT_EQ(error.Number, tls_err::channel_error);
  EXPECT_EQ(error.Description.rfind("TLS handshake failed: ", 0), 0u) << error.Description;
  EXPECT_NE(error.Description.find("(127.0.0.1)"), std::string::npos) << error.Description;
}

// Runs the loop until the element's TCP connection is up and its ClientHello
// on the way to a server that does not answer.
void reach_handshake(Rig& rig, const HostileServer& server) {
  ASSERT_TRUE(rig.loop.run_until([&] { return rig.array->State(1) == sck::connecting; }, generous));
  ASSERT_TRUE(server.wait_for_connections(1));
  // The connect completion and the first handshake write are on the loop.
  rig.loop.run_until([] { return false; }, 200ms);
}

TEST_F(TlsSockets, ConnectTimeLimitCoversASilentHandshake) {
  HostileServer server({Script().unprompted().stall()});  // takes the TCP connection, never answers
  Rig rig(trusting_test_ca(), {.connect = 1s, .idle = 60s});
  rig.array->Connect(1, "127.0.0.1", server.port(), true);
  reach_handshake(rig, server);
  // TCP is up, yet the element is still connecting.
  EXPECT_EQ(rig.array->State(1), sck::connecting);
  EXPECT_EQ(rig.recorder->log, "");
  ASSERT_TRUE(rig.loop.run_until([&] { return rig.recorder->ended(); }, generous));
  ASSERT_EQ(rig.recorder->log, "E");
  EXPECT_EQ(rig.recorder->errors[0].Number, sck_err::timed_out);
}

TEST_F(TlsSockets, CloseDuringHandshakeEndsItQuietlyAndElementConnectsAgain) {
  HostileServer silent({Script().unprompted().stall()});
  auto server = serve(TestCa::shared().server(), "second try");
  Rig rig(trusting_test_ca());
  rig.array->Connect(1, "127.0.0.1", silent.port(), true);
  reach_handshake(rig, silent);
  rig.array->Close(1);
  EXPECT_EQ(rig.array->State(1), sck::closed);
  // The aborted handshake completes on the loop and must find nothing to do.
  ASSERT_TRUE(rig.exchange("127.0.0.1", server->port()));
  EXPECT_EQ(rig.recorder->log.front(), 'C');
  EXPECT_EQ(rig.recorder->log.back(), 'X');
  EXPECT_NE(rig.recorder->received.find("second try"), std::string::npos);
}

// --- how a secure connection ends -----------------------------------------------------

TEST_F(TlsSockets, PeerEndWithOrWithoutCloseNotifyIsOrdinaryClose) {
  const auto& identity = TestCa::shared().server();
  const std::string body(100000, 'b');
  const std::string response = testing::http_response(200, "OK", {}, body);
  for (bool notify : {true, false}) {
    Script script;
    script.send(response);
    if (notify)
      script.close();
    else
      script.close_without_notify();
    HostileServer server({script}, HostileTls{identity.chain, identity.key});
    Rig rig(trusting_test_ca());
    ASSERT_TRUE(rig.exchange("127.0.0.1", server.port())) << notify;
    EXPECT_TRUE(rig.recorder->errors.empty()) << notify;
    EXPECT_EQ(rig.recorder->log.back(), 'X') << notify;
    EXPECT_EQ(rig.recorder->state_at_close, sck::closing);
    EXPECT_EQ(rig.recorder->received, response) << notify;
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0], get_request);
  }
}

TEST_F(TlsSockets, ResetAfterHandshakeIsOrdinaryReset) {
  const auto& identity = TestCa::shared().server();
  HostileServer server({Script().send("HTTP/1.1 200 OK\r\n").delay(50ms).reset()},
                       HostileTls{identity.chain, identity.key});
  Rig rig(trusting_test_ca());
  ASSERT_TRUE(rig.exchange("127.0.0.1", server.port()));
  ASSERT_FALSE(rig.recorder->errors.empty()) << rig.recorder->log;
  EXPECT_EQ(rig.recorder->errors[0].Number, sck_err::reset);
  EXPECT_EQ(rig.recorder->received, "HTTP/1.1 200 OK\r\n");
}

}  // namespace
}  // namespace vintrel::platform
