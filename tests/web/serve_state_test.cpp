// What a page learns when it comes back: every control the server keeps for
// its origin, each with the state of its queue, and a queue the page paused
// or cancelled stays so until the page starts it again.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/hostile_server.hpp"
#include "web/serve_rig.hpp"
#include "web/web_client.hpp"

namespace vintrel::testing {
namespace {

Json call(PageClient& page, const std::string& name, Json args = Json::array()) {
  return page.request({{"op", "call"}, {"name", name}, {"args", std::move(args)}});
}

std::string session_of(PageClient& page) {
  return page.request({{"op", "session"}})["result"]["session"].get<std::string>();
}

struct QueueCase {
  const char* what;
  std::vector<const char*> calls;  // after AddFile and StartQueue; none: never started
  bool forbidden;                  // the file is answered 403, so the queue ends
  const char* state;
};

TEST(ServeState, TheOriginsControlsAreListedWithTheStateOfTheirQueue) {
  ServedControls server({.allowed_origins = {"http://127.0.0.1:1234"}});
  testing::HostileServer silent({testing::Script().stall()});
  testing::HostileServer refusing(
      {testing::Script().wait_request().send("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n").close()});
  const std::vector<QueueCase> cases = {
      {"never started", {}, false, "new"},
      {"downloading", {"StartQueue"}, false, "running"},
      {"paused", {"StartQueue", "PauseQueue"}, false, "paused"},
      {"cancelled", {"StartQueue", "CancelQueue"}, false, "cancelled"},
      {"paused, then cancelled", {"StartQueue", "PauseQueue", "CancelQueue"}, false, "cancelled"},
      {"paused, then resumed", {"StartQueue", "PauseQueue", "ResumeQueue"}, false, "running"},
      {"cancelled, then started again", {"StartQueue", "CancelQueue", "GotoFile"}, false, "running"},
      {"past its last file", {"StartQueue"}, true, "ended"},
  };
  std::vector<std::unique_ptr<PageClient>> pages;
  std::vector<std::string> sessions;
  for (const QueueCase& c : cases) {
    auto& page = *pages.emplace_back(std::make_unique<PageClient>());
    ASSERT_EQ(page.connect(server), 101);
    sessions.push_back(session_of(page));
    page.request({{"op", "drive"}});
    if (!c.calls.empty()) call(page, "AddFile", {c.forbidden ? refusing.url("/no.bin") : silent.url("/a.bin")});
    for (const char* name : c.calls)
      ASSERT_FALSE(call(page, name, std::string(name) == "GotoFile" ? Json{1} : Json::array()).contains("error"))
          << c.what << ": " << name;
    if (c.forbidden) page.wait_for_event("OnTransferComplete");
  }
  pages.front().reset();  // a page that left: its control stays listed
  ASSERT_TRUE(server.wait_for_log("kept for its page to come back"));

  PageClient stranger;
  ASSERT_EQ(stranger.connect(server.port(), "/control?token=" + server.token(), "http://127.0.0.1:1234"), 101);
  EXPECT_EQ(stranger.request({{"op", "sessions"}})["result"]["sessions"], Json::array());

  PageClient asking;
  ASSERT_EQ(asking.connect(server), 101);
  const Json list = asking.request({{"op", "sessions"}})["result"]["sessions"];
  ASSERT_EQ(list.size(), cases.size()) << list;  // not the asking page's own
  for (std::size_t k = 0; k < cases.size(); ++k) {
    EXPECT_EQ(list[k]["session"], sessions[k]) << cases[k].what;
    EXPECT_EQ(list[k]["state"], cases[k].state) << cases[k].what;
    EXPECT_EQ(list[k]["attached"], k != 0) << cases[k].what;
  }
  EXPECT_EQ(list.back()["files"][0]["error"]["number"], 403);
}

TEST(ServeState, AQueueHeldWhileItsFileIsLocatedNeverAsksForIt) {
  for (const char* hold : {"PauseQueue", "CancelQueue"}) {
    ServedControls server;
    testing::HostileServer silent({testing::Script().stall()});
    PageClient page;
    ASSERT_EQ(page.connect(server), 101);
    call(page, "AddFile", {silent.url("/a.bin")});
    ASSERT_FALSE(call(page, "StartQueue").contains("error"));
    // At once: the control's timer is still to locate and connect the file.
    ASSERT_FALSE(call(page, hold).contains("error")) << hold;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // fifteen ticks
    EXPECT_EQ(page.request({{"op", "session"}})["result"]["state"],
              std::string(hold) == "PauseQueue" ? "paused" : "cancelled");
    const auto asked = std::count_if(page.events().begin(), page.events().end(),
                                     [](const Json& event) { return event["args"][0] == "Downloading"; });
    EXPECT_EQ(asked, 0) << hold << " held, yet the file was asked for";
  }
}

TEST(ServeState, TheChosenServerIsToldAsSoonAsItIsChosen) {
  ServedControls server;
  testing::HostileServer silent({testing::Script().stall()});
  PageClient page;
  ASSERT_EQ(page.connect(server), 101);
  call(page, "AddFile", {silent.url("/a.bin")});
  ASSERT_FALSE(call(page, "StartQueue").contains("error"));
  const Json told = page.wait_for_event("FileServer")["args"][0];
  EXPECT_EQ(told, (Json{{"file", 1}, {"server", "127.0.0.1:" + std::to_string(silent.port())}}));
  EXPECT_EQ(page.request({{"op", "session"}})["result"]["server"], told["server"]);
}

// The session answer tells the control's cap as it stands, after a reload
// too, beside the one vintrel serve starts each control with; a refused
// write leaves it as it was.
TEST(ServeState, TheSessionAnswerTellsTheControlsRateCap) {
  const std::vector<std::pair<Json, std::int32_t>> puts = {{2048, 2048}, {-1, 2048}, {0, 0}, {1572864, 1572864}};
  for (const std::int32_t limit : {0, 512000}) {
    ServedControls::Options options;
    options.max_rate = limit;
    ServedControls server(options);
    auto page = std::make_unique<PageClient>();
    ASSERT_EQ(page->connect(server), 101);
    const Json fresh = page->request({{"op", "session"}})["result"];
    EXPECT_EQ(fresh["max_rate"], limit);
    for (const auto& [value, after] : puts) {
      const Json answer = page->request({{"op", "put"}, {"name", "maxRate"}, {"value", value}});
      EXPECT_EQ(answer.value("/error/number"_json_pointer, 0), value == -1 ? 5 : 0) << answer;
      EXPECT_EQ(page->request({{"op", "session"}})["result"]["max_rate"], after) << value;
      EXPECT_EQ(page->request({{"op", "get"}, {"name", "maxRate"}})["result"], after) << value;
    }
    page.reset();
    ASSERT_TRUE(server.wait_for_log("kept for its page to come back"));
    PageClient back;
    ASSERT_EQ(back.connect(server.port(),
                           "/control?token=" + server.token() + "&session=" + fresh["session"].get<std::string>(),
                           server.origin()),
              101);
    const Json again = back.request({{"op", "session"}})["result"];
    EXPECT_EQ(again["session"], fresh["session"]);
    EXPECT_EQ(again["max_rate"], 1572864);
    EXPECT_EQ(again["limit_rate"], limit);
  }
}

}  // namespace
}  // namespace vintrel::testing
