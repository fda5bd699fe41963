// Controls that outlive their page: a page that comes back takes its control
// back, and the server moves a queue on while nobody watches.

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
  EXPECT_EQ(second["error"]["description"], "Gave up after 3 attempts: Internal Server Error");
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
  EXPECT_EQ(state["files"][0]["error"]["description"], "Gave up after 4 attempts: Service Unavailable");
  // The failure reaches the page once: in the summary of what it missed
  // when it came back after it, as an event when it came back before.
  int told = 0;
  for (const auto& event : back.events()) told += event["event"] == "FileOutcome" ? 1 : 0;
  EXPECT_EQ(missed_failures + told, 1) << state;
  EXPECT_EQ(state["status"], "Completed All Transfers");
}

}  // namespace
}  // namespace vintrel::testing
