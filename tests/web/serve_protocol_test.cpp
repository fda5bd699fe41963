// A control per connection, driven with the scripting protocol over a real
// WebSocket connection: what a page may and may not make it do.

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

}  // namespace
}  // namespace vintrel::testing
