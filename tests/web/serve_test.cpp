// `vintrel serve` as pages meet it: the gate in front of the WebSocket, the
// pages it hands out, and a control driven with the scripting protocol over
// a real WebSocket connection.

#include <gtest/gtest.h>

#include "web/security.hpp"
#include "web/web_client.hpp"

namespace vintrel::testing {
namespace {

// ---- The gate ---------------------------------------------------------------

TEST(ServeGate, OriginsAreComparedInTheFormBrowsersSend) {
  EXPECT_EQ(web::normalize_origin("HTTP://LocalHost:8080/"), "http://localhost:8080");
  EXPECT_EQ(web::normalize_origin("http://127.0.0.1:80"), "http://127.0.0.1");
  EXPECT_EQ(web::normalize_origin("https://[::1]:443"), "https://[::1]");
  for (const char* bad : {"null", "file://", "http://", "http://a.b/path", "ftp://a", "http://u@a", "http://a:99999",
                          "http://a:"})
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
    EXPECT_TRUE(server.wait_for_log(std::string("refused a WebSocket connection from 127.0.0.1:")))
        << c.what;
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

// ---- A control per connection -----------------------------------------------

TEST(ServeProtocol, CallsGetsPutsEventsAndErrors) {
  ServedControls server;
  PageClient page;
  ASSERT_EQ(page.connect(server), 101);

  // A call, and an event it raises before its answer.
  Json answer = page.request({{"op", "call"}, {"name", "StatusChange"}, {"args", {"hello"}}});
  EXPECT_EQ(answer["result"], nullptr) << answer;
  ASSERT_EQ(page.events().size(), 1U);
  EXPECT_EQ(page.events()[0], (Json{{"event", "OnStatusChange"}, {"args", {"hello"}}}));

  // A put read back, by name and by path.
  answer = page.request({{"op", "put"}, {"name", "CurFile"}, {"value", 2}});
  EXPECT_FALSE(answer.contains("error")) << answer;
  EXPECT_EQ(page.request({{"op", "get"}, {"path", "CurFile"}})["result"], 2);
  EXPECT_EQ(page.request({{"op", "get"}, {"name", "dErrorDesc"}})["result"], "No Error");

  // Errors come back with number, source and description.
  answer = page.request({{"op", "get"}, {"name", "dBytesTotal"}});  // no record yet
  ASSERT_TRUE(answer.contains("error")) << answer;
  EXPECT_EQ(answer["error"]["number"], 9);
  EXPECT_TRUE(answer["error"]["source"].is_string());
  EXPECT_TRUE(answer["error"]["description"].is_string());
  EXPECT_EQ(page.request({{"op", "call"}, {"name", "NoSuchMethod"}})["error"]["number"], 438);
  EXPECT_EQ(page.request({{"op", "put"}, {"name", "CurFile"}, {"value", "x"}})["error"]["number"], 13);

  // A second page has a control of its own.
  PageClient other;
  ASSERT_EQ(other.connect(server), 101);
  EXPECT_EQ(other.request({{"op", "get"}, {"name", "CurFile"}})["result"], 1);
}

TEST(ServeProtocol, ThePageCannotChooseWhereFilesGo) {
  ServedControls server;
  PageClient page;
  ASSERT_EQ(page.connect(server), 101);
  const auto refused = [&](Json request) {
    const Json answer = page.request(std::move(request));
    return answer.contains("error") && answer["error"]["number"] == 70;
  };
  EXPECT_TRUE(refused({{"op", "put"}, {"name", "sbuffer"}, {"value", "/etc"}}));
  EXPECT_TRUE(refused({{"op", "put"}, {"dispid", 0x40030028}, {"value", "/etc"}}));  // sBuffer
  EXPECT_TRUE(refused({{"op", "folder"}, {"folder", "/tmp"}}));

  // The folder comes from the server's side; the page only starts.
  page.request({{"op", "call"}, {"name", "AddFile"}, {"args", {"http://127.0.0.1:9/a.bin"}}});
  page.request({{"op", "page"}, {"url", "http://127.0.0.1/page.html"}, {"cookie", "a=b"}});
  Json answer = page.request({{"op", "call"}, {"name", "StartQueue"}});
  ASSERT_FALSE(answer.contains("error")) << answer;
  EXPECT_EQ(page.request({{"op", "get"}, {"name", "dChosenPath"}})["result"], server.folder().path().string());
  EXPECT_EQ(page.request({{"op", "get"}, {"name", "cookielist"}})["result"], "a=b");
  EXPECT_TRUE(refused({{"op", "put"}, {"path", "DownloadFiles(1).LocalFileName"}, {"value", "/etc/passwd"}}));
  EXPECT_EQ(page.request({{"op", "get"}, {"path", "DownloadFiles(1).localfilename"}})["result"],
            server.folder().file("a.bin"));
  for (const auto& event : page.events()) EXPECT_NE(event["event"], "FolderDialog") << event;
}

TEST(ServeProtocol, ProgramsAreStartedOnlyWithAllowOpen) {
  ServedControls server;
  PageClient page;
  ASSERT_EQ(page.connect(server), 101);
  for (const Json& request : {Json{{"op", "call"}, {"name", "ExecFile"}, {"args", {"/bin/true"}}},
                              Json{{"op", "call"}, {"name", "openit"}, {"args", {"/bin/true"}}},
                              Json{{"op", "call"}, {"dispid", 0x6003002A}, {"args", {"/bin/true"}}}}) {
    const Json answer = page.request(request);
    ASSERT_TRUE(answer.contains("error")) << request;
    EXPECT_EQ(answer["error"]["number"], 70) << request;
  }
}

TEST(ServeProtocol, QuitEndsTheConnectionAndItsControl) {
  ServedControls server;
  PageClient page;
  ASSERT_EQ(page.connect(server), 101);
  EXPECT_EQ(page.request({{"op", "quit"}})["result"], nullptr);
  EXPECT_TRUE(page.wait_for_close());
  EXPECT_TRUE(server.wait_for_log("ended: closed by the control"));
}

}  // namespace
}  // namespace vintrel::testing
