#pragma once
// What the secure socket tests share: a recorder of element 1, a loop and
// platform with chosen trust settings, and https nginx servers presenting
// the test authority's certificates.

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

namespace vintrel::platform::tls_sockets_rig {

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
    tls = array_.tls_summary(index);
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
  std::string tls;  // the connection's summary once an answer came
  std::vector<SocketError> errors;
  std::int16_t state_at_connect = -1;
  std::int16_t state_at_close = -1;

 private:
  SocketArray& array_;
};

struct Rig {
  explicit Rig(TlsOptions tls = {}, SocketTimeouts timeouts = {}, ProxySettings proxies = {})
      : platform(loop, &resolver, timeouts, std::move(tls), std::move(proxies)) {
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

inline TlsOptions trusting_test_ca() { return {.ca_file = TestCa::shared().ca_cert(), .verify = true}; }

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

}  // namespace vintrel::platform::tls_sockets_rig
