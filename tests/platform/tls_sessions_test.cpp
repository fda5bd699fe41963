// Resumed TLS sessions against nginx, read from its $ssl_session_reused: a
// platform offers a server the session that server handed out, to that name
// and port only, copes with a server that has forgotten it, and keeps no
// more than a hundred.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/proxy.hpp"
#include "platform/tls_sockets_rig.hpp"
#include "support/tinyproxy.hpp"

namespace vintrel::platform {
namespace {

using namespace tls_sockets_rig;
using testing::NginxOptions;
using testing::TinyProxy;

// How a connection began, as its client saw it: 'e' resumed with the
// request as early data the server took, 'r' resumed, '.' full.
char mark(const std::string& tls_summary) {
  if (tls_summary.ends_with(", resumed, early data")) return 'e';
  return tls_summary.find(", resumed") != std::string::npos ? 'r' : '.';
}

// Fetches /file over a new connection of element 1; true when the whole
// answer came and the element ended without an error. Adds the
// connection's mark to `marks`.
::testing::AssertionResult fetch(Rig& rig, const std::string& host, std::uint16_t port, std::string* marks = nullptr) {
  rig.recorder = std::make_unique<Recorder>(*rig.array);
  const bool ended = rig.exchange(host, port);
  // nginx writes the line of a request that came as early data only once
  // the client has closed too.
  rig.array->Close(1);
  const auto& got = *rig.recorder;
  if (marks) *marks += mark(got.tls);
  if (ended && got.errors.empty() && got.received.starts_with("HTTP/1.1 200 OK") &&
      got.received.ends_with("session body")) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << host << ": " << got.log << " " << got.received
                                       << (got.errors.empty() ? "" : got.errors.front().Description);
}

// One mark per connection nginx logged, in order: 'r' resumed, '.' full.
// (nginx tells early data only when it reads the request before the
// client's last handshake message, which is up to timing.)
std::string handshakes(const NginxServer& server, std::size_t count) {
  std::string marks;
  for (const auto& entry : server.wait_for_access_log(count)) marks += entry.session_reused ? 'r' : '.';
  return marks;
}

class TlsSessions : public TlsSockets {
 protected:
  std::unique_ptr<NginxServer> serve_with(const testing::ServerCertificate& identity, std::string protocols,
                                          std::vector<std::string> directives = {}) {
    NginxOptions options;
    options.tls_cert = identity.chain;
    options.tls_key = identity.key;
    options.tls_protocols = std::move(protocols);
    options.extra_directives = std::move(directives);
    auto server = std::make_unique<NginxServer>(options);
    testing::write_file(server->file("file"), "session body");
    server->start();
    return server;
  }
};

struct Kind {
  std::string name;
  std::string protocols;
  std::vector<std::string> directives;
  std::string marks;  // two connections, nginx restarted, two more
};

// A restarted nginx has new ticket keys and an empty session cache, so it
// refuses what it handed out before: that connection makes a full handshake
// and works, and its new session is resumed next. A server taking early
// data gets the request with the resumed handshake's first flight; the one
// restarted refuses it, and it is sent again after the full handshake.
TEST_F(TlsSessions, NextConnectionResumesAndAServerThatForgotGetsAFullHandshake) {
  const std::vector<std::string> ids = {"ssl_session_tickets off;", "ssl_session_cache builtin:100;"};
  const std::vector<Kind> kinds = {
      {"TLS 1.3 tickets", "TLSv1.3", {}, ".r.r"},
      {"TLS 1.3 early data", "TLSv1.3", {"ssl_early_data on;"}, ".e.e"},
      {"TLS 1.3 stateful tickets", "TLSv1.3", ids, ".r.r"},
      {"TLS 1.2 tickets", "TLSv1.2", {}, ".r.r"},
      {"TLS 1.2 session ids", "TLSv1.2", ids, ".r.r"},
      {"no sessions", "TLSv1.2 TLSv1.3", {"ssl_session_tickets off;", "ssl_session_cache off;"}, "...."},
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    auto server = serve_with(TestCa::shared().server(), kind.protocols, kind.directives);
    Rig rig(trusting_test_ca());
    std::string marks;
    for (int n = 0; n < 4; ++n) {
      if (n == 2) server->restart();
      EXPECT_TRUE(fetch(rig, "localhost", server->port(), &marks));
    }
    EXPECT_EQ(marks, kind.marks);
    std::string resumed = kind.marks;
    std::replace(resumed.begin(), resumed.end(), 'e', 'r');
    EXPECT_EQ(handshakes(*server, 4), resumed);
  }
}

// Two names of one server and one name on two servers each have a session
// of their own; through a proxy the server, not the proxy, is what counts.
TEST_F(TlsSessions, SessionIsOfferedOnlyToTheNameAndPortItCameFrom) {
  const bool proxy_available = TinyProxy::available();
  for (const bool proxied : {false, true}) {
    if (proxied && !proxy_available) GTEST_SKIP() << TinyProxy::why_unavailable();
    SCOPED_TRACE(proxied ? "through a proxy" : "direct");
    std::unique_ptr<TinyProxy> proxy;
    ProxySettings proxies;
    if (proxied) {
      proxy = std::make_unique<TinyProxy>();
      std::string error;
      proxies.https = parse_proxy_url(proxy->url(), error);
    }
    auto first = serve_with(TestCa::shared().server(), "TLSv1.2 TLSv1.3");
    auto second = serve_with(TestCa::shared().server(), "TLSv1.2 TLSv1.3");
    Rig rig(trusting_test_ca(), {}, std::move(proxies));
    for (int round = 0; round < 2; ++round) {
      EXPECT_TRUE(fetch(rig, "localhost", first->port()));
      EXPECT_TRUE(fetch(rig, "127.0.0.1", first->port()));
      EXPECT_TRUE(fetch(rig, "localhost", second->port()));
    }
    EXPECT_EQ(handshakes(*first, 4), "..rr");
    EXPECT_EQ(handshakes(*second, 2), ".r");
    if (proxy) {
      EXPECT_EQ(proxy->requests().size(), 6u);
    }
  }
}

// A hundred sessions are kept; the hundred-and-first drops the server used
// longest ago, which is not always the one that came first. A TLS 1.2
// server keeps its one session (a resumed connection brings no new one); a
// TLS 1.3 connection brings two tickets, each used once.
TEST_F(TlsSessions, AtMostAHundredSessionsTheOldestDropped) {
  static const testing::ServerCertificate wildcard =
      TestCa::shared().issue("sessions-wildcard", {"DNS:*.example.test"});
  auto name = [](int n) { return "s" + std::to_string(n) + ".example.test"; };
  for (const auto& [protocol, per_server] : {std::pair{"TLSv1.2", 1}, std::pair{"TLSv1.3", 2}}) {
    SCOPED_TRACE(protocol);
    const int servers = 100 / per_server + 1;
    auto server = serve_with(wildcard, protocol);
    Rig rig(trusting_test_ca());
    for (int n = 0; n < servers; ++n) {
      rig.resolver.add(name(n), "127.0.0.1");
      ASSERT_TRUE(fetch(rig, name(n), server->port()));
    }
    // s0 went for the last; s1, used again, outlives s2 when s0 comes back.
    for (const int n : {1, 0, 2}) ASSERT_TRUE(fetch(rig, name(n), server->port()));
    EXPECT_EQ(handshakes(*server, static_cast<std::size_t>(servers) + 3), std::string(servers, '.') + "r..");
  }
}

// A TLS 1.3 ticket that allows early data is used once. The first
// handshake hands out two; of three connections opened at once, two resume
// with their request as early data and the third makes a full handshake.
TEST_F(TlsSessions, TicketsAreUsedOnceEach) {
  auto server = serve_with(TestCa::shared().server(), "TLSv1.3", {"ssl_early_data on;"});
  Rig rig(trusting_test_ca());
  ASSERT_TRUE(fetch(rig, "localhost", server->port()));
  std::vector<std::unique_ptr<SocketArray>> arrays;
  std::vector<std::unique_ptr<Recorder>> recorders;
  for (int n = 0; n < 3; ++n) {
    arrays.push_back(rig.platform.make_socket_array());
    recorders.push_back(std::make_unique<Recorder>(*arrays.back()));
    arrays.back()->Load(1);
    arrays.back()->Connect(1, "localhost", server->port(), true);
    arrays.back()->SendData(1, get_request);
  }
  ASSERT_TRUE(rig.loop.run_until(
      [&] { return std::all_of(recorders.begin(), recorders.end(), [](const auto& r) { return r->ended(); }); },
      generous));
  std::string marks;
  for (const auto& recorder : recorders) {
    EXPECT_TRUE(recorder->received.ends_with("session body")) << recorder->log;
    marks += mark(recorder->tls);
  }
  for (const auto& array : arrays) array->Close(1);
  EXPECT_EQ(std::count(marks.begin(), marks.end(), 'e'), 2) << marks;
  const std::string logged = handshakes(*server, 4);
  EXPECT_EQ(std::count(logged.begin(), logged.end(), 'r'), 2) << logged;
}

// A connection opened ahead of need shakes hands once it is taken over:
// fully when no session is known yet, else resumed, with the request as
// early data where the server takes it.
TEST_F(TlsSessions, SpareShakesHandsWhenTakenOverResumingAndSendingEarlyData) {
  const std::vector<Kind> kinds = {
      {"TLS 1.3 tickets", "TLSv1.3", {}, ".rr"},
      {"TLS 1.3 early data", "TLSv1.3", {"ssl_early_data on;"}, ".ee"},
      {"TLS 1.2 tickets", "TLSv1.2", {}, ".rr"},
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    auto server = serve_with(TestCa::shared().server(), kind.protocols, kind.directives);
    Rig rig(trusting_test_ca());
    std::vector<SpareEnd> ends;
    const auto told = [&ends](SpareEnd end) { ends.push_back(end); };
    ASSERT_TRUE(rig.platform.preconnect("localhost", server->port(), true, told));
    std::string marks;
    EXPECT_TRUE(fetch(rig, "localhost", server->port(), &marks));  // an own connection: full
    ASSERT_TRUE(rig.platform.preconnect("localhost", server->port(), true, told));
    EXPECT_TRUE(fetch(rig, "localhost", server->port(), &marks));
    EXPECT_TRUE(fetch(rig, "localhost", server->port(), &marks));
    EXPECT_EQ(marks, kind.marks);
    EXPECT_EQ(ends, (std::vector<SpareEnd>{SpareEnd::taken, SpareEnd::taken}));
  }
}

}  // namespace
}  // namespace vintrel::platform
