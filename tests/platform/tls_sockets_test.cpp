// Secure socket elements against loopback servers using a test authority:
// a verified connection behaves like a plain one, each way a certificate can
// fail gives its own number and says why, and a connection that breaks
// during the handshake stays an ordinary, retryable socket error.

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
#include "support/hostile_server.hpp"
#include "support/nginx_server.hpp"
#include "support/test_ca.hpp"

namespace vintrel::platform {
namespace {

using namespace std::chrono_literals;
using testing::HandshakeBreak;
using testing::HostileServer;
using testing::HostileTls;
using testing::NginxServer;
using testing::Script;
using testing::ServerCertificate;
using testing::TestCa;

constexpr auto generous = 10s;

const std::string get_request = "GET /file HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";

// Records the events of element 1 and takes every byte as it arrives.
class Recorder final : public SocketEvents {
 public:
  explicit Recorder(SocketArray& array) : array_(array) { array.set_events(this); }

  void on_connect(std::int16_t index) override {
    log += 'C';
    state_at_connect = array_.State(index);
  }
  void on_data_arrival(std::int16_t index, std::int32_t) override {
    log += 'D';
    received += array_.GetDataText(index);
  }
  void on_error(std::int16_t, SocketError& error) override {
    log += 'E';
    errors.push_back(error);
  }
  void on_close(std::int16_t index) override {
    log += 'X';
    state_at_close = array_.State(index);
  }

  bool ended() const { return log.find_first_of("EX") != std::string::npos; }

  std::string log;  // C onnect, D ata, E rror, X close
  std::string received;
  std::vector<SocketError> errors;
  std::int16_t state_at_connect = -1;
  std::int16_t state_at_close = -1;

 private:
  SocketArray& array_;
};

struct Rig {
  explicit Rig(TlsOptions tls = {}, SocketTimeouts timeouts = {})
      : platform(loop, &resolver, timeouts, std::move(tls)) {
    resolver.add("localhost", "127.0.0.1");
    resolver.add("files.example.test", "127.0.0.1");
    array = platform.make_socket_array();
    recorder = std::make_unique<Recorder>(*array);
    array->Load(1);
  }

  // Connects element 1 securely, sends `request` at once (before the
  // connection is up), and runs until the element ends.
  bool exchange(const std::string& host, std::uint16_t port, const std::string& request = get_request) {
    array->Connect(1, host, port, true);
    if (!request.empty()) array->SendData(1, request);
    return loop.run_until([&] { return recorder->ended(); }, generous);
  }

  EventLoop loop;
  FixedResolver resolver{[this](std::function<void()> fn) { loop.post(std::move(fn)); }};
  AsioPlatform platform;
  std::unique_ptr<SocketArray> array;
  std::unique_ptr<Recorder> recorder;
};

TlsOptions trusting_test_ca() { return {.ca_file = TestCa::shared().ca_cert(), .verify = true}; }

class TlsSockets : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!NginxServer::available()) GTEST_SKIP() << NginxServer::why_unavailable();
    if (!TestCa::available()) GTEST_SKIP() << "no openssl command";
  }

  // An https nginx presenting `identity`, serving `body` as /file.
  std::unique_ptr<NginxServer> serve(const ServerCertificate& identity, const std::string& body = "secret body",
                                     bool ipv6 = false) {
    NginxServer::Options options;
    options.tls_cert = identity.chain;
    options.tls_key = identity.key;
    options.listen_ipv6 = ipv6;
    auto server = std::make_unique<NginxServer>(options);
    testing::write_file(server->file("file"), body);
    server->start();
    return server;
  }

  // The one error a secure connect to `identity` as `host` ends with.
  SocketError refused(TlsOptions tls, const ServerCertificate& identity, const std::string& host) {
    auto server = serve(identity);
    Rig rig(std::move(tls));
    EXPECT_TRUE(rig.exchange(host, server->port()));
    EXPECT_EQ(rig.recorder->log, "E");
    EXPECT_EQ(rig.array->State(1), sck::error);
    // The check fails before any request goes out.
    EXPECT_TRUE(server->access_log().empty());
    return rig.recorder->errors.empty() ? SocketError{} : rig.recorder->errors.front();
  }
};

// --- verified connections -----------------------------------------------------

TEST_F(TlsSockets, VerifiedConnectionCarriesRequestAndWholeResponse) {
  const std::string body = testing::random_bytes(3 * 1024 * 1024 + 17, 7);
  auto server = serve(TestCa::shared().server(), body);
  Rig rig(trusting_test_ca());

  rig.array->Connect(1, "localhost", server->port(), true);
  // Data given while the connection is on its way waits for the handshake.
  rig.array->SendData(1, get_request);
  ASSERT_TRUE(rig.loop.run_until([&] { return rig.recorder->ended(); }, generous));

  EXPECT_EQ(rig.recorder->state_at_connect, sck::connected);
  ASSERT_TRUE(rig.recorder->errors.empty()) << rig.recorder->errors.front().Description;
  // Connect, data, and the end only after every byte.
  ASSERT_GE(rig.recorder->log.size(), 3u);
  EXPECT_EQ(rig.recorder->log.front(), 'C');
  EXPECT_EQ(rig.recorder->log.back(), 'X');
  EXPECT_EQ(rig.recorder->state_at_close, sck::closing);
  const auto& received = rig.recorder->received;
  EXPECT_EQ(received.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  ASSERT_GE(received.size(), body.size());
  EXPECT_TRUE(received.compare(received.size() - body.size(), body.size(), body) == 0);
  EXPECT_EQ(rig.array->BytesReceived(1), 0);
  ASSERT_EQ(server->wait_for_access_log(1).size(), 1u);
  EXPECT_EQ(server->access_log()[0].request, "GET /file HTTP/1.1");
}

TEST_F(TlsSockets, Ipv6LiteralIsCheckedAgainstTheCertificatesAddress) {
  if (!NginxServer::has_ipv6_loopback()) GTEST_SKIP() << "this machine has no ::1";
  auto server = serve(TestCa::shared().server(), "over six", true);
  Rig rig(trusting_test_ca());
  ASSERT_TRUE(rig.exchange("::1", server->port()));
  ASSERT_TRUE(rig.recorder->errors.empty()) << rig.recorder->errors.front().Description;
  EXPECT_EQ(rig.recorder->log.back(), 'X');
  EXPECT_NE(rig.recorder->received.find("over six"), std::string::npos);
}

TEST_F(TlsSockets, WithoutVerificationAnyCertificateIsAccepted) {
  auto server = serve(TestCa::shared().self_signed(), "unchecked");
  Rig rig({.ca_file = "", .verify = false});
  ASSERT_TRUE(rig.exchange("127.0.0.1", server->port()));
  ASSERT_TRUE(rig.recorder->errors.empty()) << rig.recorder->errors.front().Description;
  EXPECT_NE(rig.recorder->received.find("unchecked"), std::string::npos);
}

// --- certificates that fail -----------------------------------------------------

TEST_F(TlsSockets, ChainNoStoreVouchesForIsUntrusted) {
  const SocketError error = refused({}, TestCa::shared().server(), "127.0.0.1");
  EXPECT_EQ(error.Number, tls_err::untrusted);
  EXPECT_EQ(error.Description, "Certificate verify failed: self-signed certificate in certificate chain (127.0.0.1)");

  const SocketError alone = refused(trusting_test_ca(), TestCa::shared().self_signed(), "localhost");
  EXPECT_EQ(alone.Number, tls_err::untrusted);
  EXPECT_EQ(alone.Description, "Certificate verify failed: self-signed certificate (localhost)");
}

TEST_F(TlsSockets, CertificateForAnotherNameIsNameInvalid) {
  const SocketError by_address = refused(trusting_test_ca(), TestCa::shared().wrong_name(), "127.0.0.1");
  EXPECT_EQ(by_address.Number, tls_err::name_invalid);
  EXPECT_EQ(by_address.Description, "Certificate name mismatch: the certificate is not valid for 127.0.0.1");

  const SocketError by_name = refused(trusting_test_ca(), TestCa::shared().wrong_name(), "localhost");
  EXPECT_EQ(by_name.Number, tls_err::name_invalid);
  EXPECT_EQ(by_name.Description, "Certificate name mismatch: the certificate is not valid for localhost");

  // The check is against the name asked for, not the address it led to.
  const SocketError other_name = refused(trusting_test_ca(), TestCa::shared().server(), "files.example.test");
  EXPECT_EQ(other_name.Number, tls_err::name_invalid);
  EXPECT_EQ(other_name.Description, "Certificate name mismatch: the certificate is not valid for files.example.test");
}

TEST_F(TlsSockets, ExpiredCertificateIsDateInvalid) {
  const SocketError error = refused(trusting_test_ca(), TestCa::shared().expired(), "localhost");
  EXPECT_EQ(error.Number, tls_err::date_invalid);
  EXPECT_EQ(error.Description, "Certificate verify failed: certificate has expired (localhost)");
}

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

// --- the TLS module ------------------------------------------------------------

bool mapped(const std::string& name) {
  std::ifstream maps("/proc/self/maps");
  const std::string all((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
  return all.find(name) != std::string::npos;
}

// A plain-http run must not pay for OpenSSL; the first secure connection
// brings it in.
TEST_F(TlsSockets, OpenSslIsLoadedOnlyByTheFirstSecureConnection) {
  if (mapped("libvintrel_tls")) GTEST_SKIP() << "an earlier test in this process loaded the module";
  HostileServer plain({Script().send("HTTP/1.1 200 OK\r\n\r\nplain")});
  auto secure = serve(TestCa::shared().self_signed(), "secure");
  Rig rig({.ca_file = "", .verify = false});

  rig.array->Connect(1, "127.0.0.1", plain.port());
  rig.array->SendData(1, get_request);
  ASSERT_TRUE(rig.loop.run_until([&] { return rig.recorder->ended(); }, generous));
  EXPECT_NE(rig.recorder->received.find("plain"), std::string::npos);
  EXPECT_FALSE(mapped("libvintrel_tls"));

  rig.recorder->log.clear();
  ASSERT_TRUE(rig.exchange("127.0.0.1", secure->port()));
  EXPECT_NE(rig.recorder->received.find("secure"), std::string::npos);
  EXPECT_TRUE(mapped("libvintrel_tls"));
}

// --- the platform's trust settings ---------------------------------------------------------

TEST(TlsPlatform, TrustFileThatCannotBeLoadedIsRefusedAtOnce) {
  EventLoop loop;
  const std::string missing = "/nonexistent/vintrel-ca.pem";
  try {
    AsioPlatform platform(loop, nullptr, {}, {.ca_file = missing, .verify = true});
    FAIL() << "a platform was made with a trust file that does not exist";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find(missing), std::string::npos) << error.what();
  }
}

}  // namespace
}  // namespace vintrel::platform
