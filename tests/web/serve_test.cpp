// `vintrel serve` as pages meet it: the gate in front of the WebSocket, the
// pages it hands out, and how many connections an origin may hold.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "support/hostile_server.hpp"
#include "web/security.hpp"
#include "web/serve_rig.hpp"
#include "web/server.hpp"
#include "web/web_client.hpp"

namespace vintrel::testing {
namespace {

using namespace serve_rig;

// ---- The gate ---------------------------------------------------------------

TEST(ServeGate, OriginsAreComparedInTheFormBrowsersSend) {
  EXPECT_EQ(web::normalize_origin("HTTP://LocalHost:8080/"), "http://localhost:8080");
  EXPECT_EQ(web::normalize_origin("http://127.0.0.1:80"), "http://127.0.0.1");
  EXPECT_EQ(web::normalize_origin("https://[::1]:443"), "https://[::1]");
  for (const char* bad : {"null", "file://", "http://", "http://a.b/path", "ftp://a", "http://u@a", "http://a:99999",
                          "http://a:", "http://https://evil.example", "http://::1", "http://[::1"})
    EXPECT_FALSE(web::normalize_origin(bad)) << bad;
  EXPECT_EQ(web::query_parameter("/control?x=1&token=a%2Bb", "token"), "a+b");
  EXPECT_FALSE(web::query_parameter("/control?tokens=1", "token"));
  EXPECT_NE(web::make_token(), web::make_token());
  EXPECT_EQ(web::make_token().size(), 32U);
}

TEST(ServeGate, RefusesConnectionsWithoutTheTokenOrFromOtherOrigins) {
  ServedControls server({.allowed_origins = {"http://127.0.0.1:1234"}});
  const std::string with_token = "/control?token=" + server.token();
  struct Case {
    const char* what;
    std::string target;
    std::string origin;
    const char* logged;
  };
  const std::vector<Case> refused{
      {"no token", "/control", server.origin(), "no token"},
      {"wrong token", "/control?token=" + std::string(32, '0'), server.origin(), "wrong token"},
      {"a prefix of the token", "/control?token=" + server.token().substr(0, 31), server.origin(), "wrong token"},
      {"another origin", with_token, "http://127.0.0.1:9999", "origin http://127.0.0.1:9999 is not allowed"},
      {"a rebound name", with_token, "http://evil.example:" + std::to_string(server.port()), "evil.example"},
      {"no origin", with_token, "", "no Origin header"},
  };
  for (const auto& c : refused) {
    PageClient page;
    EXPECT_EQ(page.connect(server.port(), c.target, c.origin), 403) << c.what;
    EXPECT_TRUE(server.wait_for_log(std::string("refused a WebSocket connection from 127.0.0.1:"))) << c.what;
    EXPECT_TRUE(server.wait_for_log(c.logged)) << c.what;
  }
  PageClient own;
  EXPECT_EQ(own.connect(server), 101);
  PageClient localhost;
  EXPECT_EQ(localhost.connect(server.port(), with_token, "http://localhost:" + std::to_string(server.port())), 101);
  PageClient allowed;
  EXPECT_EQ(allowed.connect(server.port(), with_token, "http://127.0.0.1:1234"), 101);
  EXPECT_TRUE(server.wait_for_log("(origin http://127.0.0.1:1234) opened"));
}

TEST(ServeGate, ServesThePageWithTheTokenOnlyUnderItsOwnName) {
  ServedControls server;
  const HttpAnswer page = http_get(server.port(), "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.content_type, "text/html; charset=utf-8");
  EXPECT_NE(page.body.find("<meta name=\"vintrel-token\" content=\"" + server.token() + "\">"), std::string::npos);
  EXPECT_NE(page.csp.find("frame-ancestors 'none'"), std::string::npos);

  // The client library is loaded by pages of other origins too: no token.
  const HttpAnswer library = http_get(server.port(), "/vintrel.js");
  EXPECT_EQ(library.status, 200);
  EXPECT_NE(library.body.find("Vintrel"), std::string::npos);
  EXPECT_EQ(library.body.find(server.token()), std::string::npos);

  EXPECT_EQ(http_get(server.port(), "/nothing").status, 404);
  // A name that a page rebinds to 127.0.0.1 does not get the page.
  const HttpAnswer rebound = http_get(server.port(), "/", "evil.example:" + std::to_string(server.port()));
  EXPECT_EQ(rebound.status, 403);
  EXPECT_EQ(rebound.body.find(server.token()), std::string::npos);
}

TEST(ServeGate, TheHostIsCheckedForUpgradesAsForPlainRequests) {
  ServedControls server;
  const std::string with_token = "/control?token=" + server.token();
  const std::string rebound = "evil.example:" + std::to_string(server.port());
  // The own origin and the right token, but a name the server does not
  // listen under: a page that rebound its name to 127.0.0.1.
  PageClient page;
  EXPECT_EQ(page.connect(server.port(), with_token, server.origin(), rebound), 403);
  EXPECT_TRUE(server.wait_for_log("refused a WebSocket connection from 127.0.0.1:"));
  EXPECT_TRUE(server.wait_for_log("host " + rebound + " is not this server"));
  EXPECT_EQ(http_get(server.port(), "/", rebound).status, 403);
  EXPECT_EQ(http_get(server.port(), "/vintrel.js", rebound).status, 403);

  PageClient by_name;
  EXPECT_EQ(by_name.connect(server.port(), with_token, server.origin(), "localhost:" + std::to_string(server.port())),
            101);
}

// ---- Connections per origin -------------------------------------------------

TEST_F(ServePolicy, ANewConnectionReplacesTheOldestIdleOneOfItsOrigin) {
  for (std::size_t k = 0; k < cap; ++k) open_page();
  PageClient& newest = open_page();
  EXPECT_TRUE(answers(newest));
  // The oldest goes, told why; the others stay.
  ASSERT_TRUE(pages.front()->wait_for_close());
  EXPECT_EQ(pages.front()->closing().code, web::close_code::replaced);
  EXPECT_EQ(pages.front()->closing().reason, "Replaced by a newer connection");
  EXPECT_TRUE(server.wait_for_log("connection 1 from 127.0.0.1:"));
  EXPECT_TRUE(server.wait_for_log("given up for a newer one"));
  EXPECT_TRUE(answers(*pages[1]));
  // Then the next oldest, and so on.
  open_page();
  ASSERT_TRUE(pages[1]->wait_for_close());
  EXPECT_EQ(pages[1]->closing().code, web::close_code::replaced);
  EXPECT_TRUE(answers(*pages[2]));
}

TEST_F(ServePolicy, BusyControlsAreKeptAndTheNewConnectionIsToldWhy) {
  // A server that takes the requests and never answers: the queues started
  // against it stay at work.
  testing::HostileServer silent({testing::Script().stall()});
  for (std::size_t k = 0; k < cap; ++k) {
    PageClient& page = open_page();
    if (k == cap - 1) break;  // the newest stays idle
    page.request({{"op", "call"}, {"name", "AddFile"}, {"args", {silent.url("/f" + std::to_string(k))}}});
    const Json answer = page.request({{"op", "call"}, {"name", "StartQueue"}});
    ASSERT_FALSE(answer.contains("error")) << answer;
  }
  // The only idle one goes, although the busy ones are older.
  PageClient& replacing = open_page();
  ASSERT_TRUE(pages[cap - 1]->wait_for_close());
  EXPECT_EQ(pages[cap - 1]->closing().code, web::close_code::replaced);
  replacing.request({{"op", "call"}, {"name", "AddFile"}, {"args", {silent.url("/last")}}});
  ASSERT_FALSE(replacing.request({{"op", "call"}, {"name", "StartQueue"}}).contains("error"));

  // Now every control of the origin is busy: the new page is accepted and
  // closed at once with a code and reason it can show.
  PageClient refused;
  ASSERT_EQ(refused.connect(server), 101);
  ASSERT_TRUE(refused.wait_for_close());
  EXPECT_EQ(refused.closing().code, web::close_code::too_many);
  EXPECT_EQ(refused.closing().reason, web::too_many_reason(cap));
  EXPECT_EQ(refused.closing().reason, "Too many Vintrel connections from this origin (16); close other tabs");
  EXPECT_TRUE(server.wait_for_log("too many connections from origin " + server.origin()));
  EXPECT_TRUE(answers(*pages.front()));
  EXPECT_TRUE(answers(replacing));

  // Another origin has room of its own.
  PageClient other;
  ASSERT_EQ(other.connect(server.port(), "/control?token=" + server.token(), "http://127.0.0.1:1234"), 101);
  EXPECT_TRUE(answers(other));
}

}  // namespace
}  // namespace vintrel::testing
