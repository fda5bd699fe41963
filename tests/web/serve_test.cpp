// `vintrel serve` as pages meet it: the gate in front of the WebSocket, the
// pages it hands out, and a control driven with the scripting protocol over
// a real WebSocket connection.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "support/hostile_server.hpp"
#include "web/security.hpp"
#include "web/server.hpp"
#include "web/web_client.hpp"

namespace vintrel::testing {
namespace {

// ---- The gate ---------------------------------------------------------------

TEST(ServeGate, OriginsAreComparedInTheFormBrowsersSend) {
  EXPECT_EQ(web::normalize_origin("HTTP://LocalHost:8080/"), "http://localhost:8080");
  EXPECT_EQ(web::normalize_origin("http://127.0.0.1:80"), "http://127.0.0.1");
  EXPECT_EQ(web::normalize_origin("https://[::1]:443"), "https://[::1]");
  for (const char* bad :
       {"null", "file://", "http://", "http://a.b/path", "ftp://a", "http://u@a", "http://a:99999", "http://a:"})
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

struct ServePolicy : ::testing::Test {
  static constexpr std::size_t cap = 16;
  ServedControls server{{.allowed_origins = {"http://127.0.0.1:1234"}}};
  std::vector<std::unique_ptr<PageClient>> pages;

  PageClient& open_page() {
    pages.push_back(std::make_unique<PageClient>());
    EXPECT_EQ(pages.back()->connect(server), 101);
    return *pages.back();
  }
  static bool answers(PageClient& page) { return page.request({{"op", "get"}, {"name", "CurFile"}})["result"] == 1; }
};

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

TEST(ServeProtocol, DeepNestingIsRefusedAndTheServerGoesOn) {
  ServedControls server;
  PageClient page;
  ASSERT_EQ(page.connect(server), 101);
  PageClient other;
  ASSERT_EQ(other.connect(server), 101);
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  // Sent as raw text: a request whose answer has no id of its own.
  const Json answer = page.request_text(R"({"op":"put","name":"sBuffer","value":)" + deep + "}");
  EXPECT_EQ(answer["error"]["number"], 1000) << answer;
  EXPECT_EQ(answer["error"]["description"], "JSON nested deeper than 64 levels");
  EXPECT_EQ(page.request({{"op", "get"}, {"name", "CurFile"}})["result"], 1);
  EXPECT_EQ(other.request({{"op", "get"}, {"name", "CurFile"}})["result"], 1);
}

TEST(ServeProtocol, QuitEndsTheConnectionAndItsControl) {
  ServedControls server;
  PageClient page;
  ASSERT_EQ(page.connect(server), 101);
  EXPECT_EQ(page.request({{"op", "quit"}})["result"], nullptr);
  EXPECT_TRUE(page.wait_for_close());
  EXPECT_TRUE(server.wait_for_log("ended: closed by the control"));
}

// ---- Controls that outlive their page ---------------------------------------

std::string session_of(PageClient& page) {
  return page.request({{"op", "session"}})["result"]["session"].get<std::string>();
}

int connect_to_session(PageClient& page, ServedControls& server, const std::string& session,
                       const std::string& origin = "") {
  return page.connect(server.port(), "/control?token=" + server.token() + "&session=" + session,
                      origin.empty() ? server.origin() : origin);
}

TEST(ServeSessions, APageThatComesBackTakesItsControlBackAsItStands) {
  ServedControls server({.allowed_origins = {"http://127.0.0.1:1234"}});
  std::string session;
  {
    PageClient page;
    ASSERT_EQ(page.connect(server), 101);
    session = session_of(page);
    EXPECT_EQ(session.size(), 32U);
    const Json state = page.request({{"op", "session"}})["result"];
    EXPECT_FALSE(state["resumed"].get<bool>());
    // What the page may show and offer: the folder given with -d, no OpenIt.
    EXPECT_EQ(state["folder"], server.folder().path().string());
    EXPECT_FALSE(state["can_open"].get<bool>());
    page.request({{"op", "put"}, {"name", "CurFile"}, {"value", 7}});
  }
  EXPECT_TRUE(server.wait_for_log("kept for its page to come back"));

  // Another origin, even with the token, does not get it: a control of its own.
  PageClient stranger;
  ASSERT_EQ(connect_to_session(stranger, server, session, "http://127.0.0.1:1234"), 101);
  EXPECT_NE(session_of(stranger), session);
  EXPECT_EQ(stranger.request({{"op", "get"}, {"name", "CurFile"}})["result"], 1);

  PageClient back;
  ASSERT_EQ(connect_to_session(back, server, session), 101);
  const Json state = back.request({{"op", "session"}})["result"];
  EXPECT_EQ(state["session"], session);
  EXPECT_TRUE(state["resumed"].get<bool>());
  EXPECT_EQ(back.request({{"op", "get"}, {"name", "CurFile"}})["result"], 7);

  // A second page of the origin takes it over; the first is told why.
  PageClient second;
  ASSERT_EQ(connect_to_session(second, server, session), 101);
  ASSERT_TRUE(back.wait_for_close());
  EXPECT_EQ(back.closing().code, web::close_code::taken_over);
  EXPECT_EQ(back.closing().reason, "Taken over by another page");
  EXPECT_EQ(second.request({{"op", "get"}, {"name", "CurFile"}})["result"], 7);

  // An unknown identifier gets a fresh control under a new one.
  PageClient unknown;
  ASSERT_EQ(connect_to_session(unknown, server, std::string(32, 'a')), 101);
  EXPECT_NE(session_of(unknown), std::string(32, 'a'));

  // Quit ends a control for good: nothing to come back to.
  EXPECT_EQ(second.request({{"op", "quit"}})["result"], nullptr);
  ASSERT_TRUE(second.wait_for_close());
  PageClient late;
  ASSERT_EQ(connect_to_session(late, server, session), 101);
  EXPECT_NE(session_of(late), session);
}

TEST(ServeSessions, AnIdleControlNobodyCameBackForIsDropped) {
  ServedControls server({.allowed_origins = {}, .detached_grace = std::chrono::milliseconds(100)});
  std::string session;
  {
    PageClient page;
    ASSERT_EQ(page.connect(server), 101);
    session = session_of(page);
  }
  EXPECT_TRUE(server.wait_for_log("dropped: nobody came back for it"));
  PageClient late;
  ASSERT_EQ(connect_to_session(late, server, session), 101);
  EXPECT_NE(session_of(late), session);
}

TEST_F(ServePolicy, ControlsWhosePageLeftCountTowardTheOriginAndIdleOnesGoFirst) {
  testing::HostileServer silent({testing::Script().stall()});
  // One busy control whose page left, one idle one whose page left.
  for (int k = 0; k < 2; ++k) {
    PageClient page;
    ASSERT_EQ(page.connect(server), 101);
    if (k == 0) {
      page.request({{"op", "call"}, {"name", "AddFile"}, {"args", {silent.url("/busy")}}});
      ASSERT_FALSE(page.request({{"op", "call"}, {"name", "StartQueue"}}).contains("error"));
    } else {
      page.request({{"op", "get"}, {"name", "CurFile"}});
    }
  }
  ASSERT_TRUE(server.wait_for_log("connection 2 from"));
  for (std::size_t k = 0; k + 2 < cap; ++k) open_page();
  // The origin is full: the idle control whose page left makes room, not
  // the busy one, nor any page that is still there.
  PageClient& newest = open_page();
  EXPECT_TRUE(answers(newest));
  EXPECT_TRUE(server.wait_for_log("dropped: given up for a newer connection"));
  for (auto& page : pages) EXPECT_TRUE(answers(*page));
}

// ---- The queue moved on by the server ----------------------------------------

std::string answer_with(int code, const std::string& reason) {
  return "HTTP/1.1 " + std::to_string(code) + " " + reason + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

TEST(ServeDriving, FilesThatFailEndWithTheServersReasonAndTheQueueMovesOn) {
  ServedControls server;
  testing::HostileServer forbidden({testing::Script().wait_request().send(answer_with(403, "Forbidden")).close()});
  testing::HostileServer broken(
      {testing::Script().wait_request().send(answer_with(500, "Internal Server Error")).close()});
  PageClient page;
  ASSERT_EQ(page.connect(server), 101);
  EXPECT_EQ(page.request({{"op", "drive"}, {"tries", 3}})["result"], nullptr);
  page.request({{"op", "call"}, {"name", "AddFile"}, {"args", {forbidden.url("/secret.bin")}}});
  page.request({{"op", "call"}, {"name", "AddFile"}, {"args", {broken.url("/broken.bin")}}});
  ASSERT_FALSE(page.request({{"op", "call"}, {"name", "StartQueue"}}).contains("error"));

  const Json first = page.wait_for_event("FileOutcome")["args"][0];
  EXPECT_EQ(first["file"], 1);
  EXPECT_EQ(first["state"], "failed");
  EXPECT_EQ(first["error"], (Json{{"number", 403}, {"description", "Forbidden"}}));

  // The 500 is retried, counted, then given up, without the page's help.
  const Json retry = page.wait_for_event("FileRetry")["args"][0];
  EXPECT_EQ(retry["file"], 2);
  EXPECT_EQ(retry["limit"], 3);
  EXPECT_EQ(retry["error"]["number"], 500);
  const Json second = page.wait_for_event("FileOutcome", 2)["args"][0];
  EXPECT_EQ(second["file"], 2);
  EXPECT_EQ(second["state"], "failed");
  EXPECT_EQ(second["tries"], 3);
  EXPECT_EQ(second["error"]["number"], 500);
  EXPECT_EQ(second["error"]["description"], "Gave up after 3 tries: Internal Server Error");
  page.wait_for_event("OnTransferComplete");

  const Json state = page.request({{"op", "session"}})["result"];
  EXPECT_TRUE(state["ended"].get<bool>());
  ASSERT_EQ(state["files"].size(), 2U);
  EXPECT_EQ(state["files"][0]["state"], "failed");
  EXPECT_EQ(state["files"][1]["state"], "failed");
  // A file given up is stopped: the control does not go on knocking.
  const int knocks = broken.connections();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // fifteen ticks
  EXPECT_EQ(broken.connections(), knocks);
}

TEST(ServeDriving, AQueueGoesOnWithoutItsPageWhichLearnsWhatItMissed) {
  ServedControls server;
  testing::HostileServer broken(
      {testing::Script().wait_request().send(answer_with(503, "Service Unavailable")).close()});
  std::string session;
  {
    PageClient page;
    ASSERT_EQ(page.connect(server), 101);
    session = session_of(page);
    page.request({{"op", "drive"}, {"tries", 4}});
    page.request({{"op", "call"}, {"name", "AddFile"}, {"args", {broken.url("/later.bin")}}});
    ASSERT_FALSE(page.request({{"op", "call"}, {"name", "StartQueue"}}).contains("error"));
  }
  ASSERT_TRUE(broken.wait_for_connections(4));
  PageClient back;
  ASSERT_EQ(connect_to_session(back, server, session), 101);
  Json state;
  int missed_failures = 0;
  for (int k = 0; k < 100; ++k) {
    state = back.request({{"op", "session"}})["result"];
    missed_failures += state["missed"]["failed"].get<int>();
    if (state["ended"].get<bool>()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(state["ended"].get<bool>()) << state;
  ASSERT_EQ(state["files"].size(), 1U);
  EXPECT_EQ(state["files"][0]["state"], "failed");
  EXPECT_EQ(state["files"][0]["error"]["description"], "Gave up after 4 tries: Service Unavailable");
  // The failure reaches the page once: in the summary of what it missed
  // when it came back after it, as an event when it came back before.
  int told = 0;
  for (const auto& event : back.events()) told += event["event"] == "FileOutcome" ? 1 : 0;
  EXPECT_EQ(missed_failures + told, 1) << state;
  EXPECT_EQ(state["status"], "Completed All Transfers");
}

}  // namespace
}  // namespace vintrel::testing
