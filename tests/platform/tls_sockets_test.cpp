// Secure socket elements against loopback servers using a test authority:
// a verified connection behaves like a plain one, each way a certificate can
// fail gives its own number and says why; and what loads and refuses TLS.

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
