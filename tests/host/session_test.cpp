// The scripting protocol driven line by line, on the scripted platform: the
// test plays the peer, the far side of every socket and the timer.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "control/dispatch.hpp"
#include "control/type_library.hpp"
#include "fuzz/host_lines.hpp"
#include "host/session.hpp"
#include "host/session_rig.hpp"
#include "host/values.hpp"
#include "support/errors.hpp"
#include "support/fake_platform.hpp"
#include "support/temp_folder.hpp"

namespace vintrel {
namespace {

using namespace session_rig;

TEST_F(HostSession, ScriptedSessionDownloadsTwoFilesWithEventsInOrder) {
  result({{"op", "page"}, {"url", "http://page.test/list.html"}, {"cookie", "s=1"}});
  call("SetDLText", {"Pick a folder"});
  call("SetDirectory", {"/home"});
  call("AddFile", {"http://srv/a.bin"});
  call("AddFile", {"http://srv/b.bin"});
  answer_dialog_with(dir.path().string());
  const std::size_t before_start = lines.size();
  call("StartQueue");

  // The dialog's question, then the folder answer read meanwhile, then the
  // answer to StartQueue once it returned.
  ASSERT_EQ(lines.size(), before_start + 3);
  EXPECT_EQ(lines[before_start], (Json{{"event", "FolderDialog"}, {"title", "Pick a folder"}, {"preselect", "/home"}}));
  EXPECT_EQ(lines[before_start + 1], (Json{{"id", "f"}, {"result", nullptr}}));
  EXPECT_EQ(lines[before_start + 2]["id"], last_id);
  EXPECT_EQ(result({{"op", "get"}, {"name", "dTotalFiles"}}), 2);

  const auto fetch = [&](std::int32_t n, const std::string& body) {
    tick();  // Locating File: connects
    winsock().accept(n);
    tick();  // Downloading: sends the request
    winsock().deliver(n, ok(body));
    tick();  // reports the finished file
  };
  fetch(1, "first");
  EXPECT_NE(winsock().element(1).sent.find("Referer: http://page.test/list.html\r\n"), std::string::npos);
  EXPECT_NE(winsock().element(1).sent.find("Cookie: s=1\r\n"), std::string::npos);
  call("GotoFile", {2});
  fetch(2, "second!");
  call("GotoFile", {3});

  const std::string a = dir.file("a.bin");
  const std::string b = dir.file("b.bin");
  EXPECT_EQ(events(), (Strings{"FolderDialog", "OnStatusChange:Locating File", "OnStatusChange:Downloading",
                               "OnStatusChange:Determining File Size", "OnStatusChange:Completed Downloading a File",
                               "OnFileComplete:" + a, "OnStatusChange:Locating File", "OnStatusChange:Downloading",
                               "OnStatusChange:Determining File Size", "OnStatusChange:Completed Downloading a File",
                               "OnFileComplete:" + b, "OnStatusChange:Completed All Transfers", "OnTransferComplete"}));
  EXPECT_EQ(testing::read_file(a), "first");
  EXPECT_EQ(testing::read_file(b), "second!");
}

// The page's address and cookie become header lines of every request: a
// control byte in either refuses the whole request, keeping what was set.
TEST_F(HostSession, PageTextWithAControlByteIsRefusedWhole) {
  result({{"op", "page"}, {"url", "http://page.test/"}, {"cookie", "s=1"}});
  for (const char* field : {"url", "cookie"}) {
    for (const std::string& byte : testing::control_bytes()) {
      Json request{{"op", "page"}, {"url", "http://page.test/new"}, {"cookie", "s=2"}};
      request[field] = "x" + byte + "X-Injected: 1";
      const Json answer = ask(request);
      EXPECT_EQ(answer["error"]["number"], host::protocol_error::bad_request) << answer.dump();
      EXPECT_EQ(answer["error"]["source"], "Vintrel.Host");
      EXPECT_EQ(answer["error"]["description"],
                std::string("\"") + field + "\" holds " + testing::control_name(byte) + ", which no request may carry");
    }
  }
  start({"http://srv/a.bin"});
  tick();
  winsock().accept(1);
  tick();
  EXPECT_NE(winsock().element(1).sent.find("\r\nReferer: http://page.test/\r\n"), std::string::npos);
  EXPECT_NE(winsock().element(1).sent.find("\r\nCookie: s=1\r\n"), std::string::npos);
}

TEST_F(HostSession, RecordsAreReadAndWrittenByPathAndAMirrorJoinsTheProbing) {
  start({"http://srv:8080/dir/file.bin"});

  EXPECT_EQ(get("DownloadFiles.Count"), 1);
  EXPECT_EQ(get("DownloadFiles(1)"), (Json{{"object", "DownloadFile"}}));
  EXPECT_EQ(get("DownloadFiles.Item(1).localfilename"), dir.file("file.bin"));
  EXPECT_EQ(get("downloadfiles(1).remoteServerLocs(1).PortNum"), 8080);
  EXPECT_EQ(get("DownloadFiles(1).remoteServerLocs(1).remoteFilePath"), "/dir/file.bin");
  EXPECT_EQ(get("DownloadFiles(1).remoteServerLocs"), (Json{{"object", "Collection"}, {"count", 1}}));
  result({{"op", "put"}, {"path", "DownloadFiles(1).remoteServerLocs(1).status"}, {"value", "seen"}});
  EXPECT_EQ(get("DownloadFiles(1).remoteServerLocs(1).status"), "seen");

  const Json mirror{{"servName", "mirror"},
                    {"host", "mirror"},
                    {"PortNum", 81},
                    {"isSecure", true},
                    {"remoteFilePath", "/m/file.bin"}};
  EXPECT_EQ(result({{"op", "add_server"}, {"file", 1}, {"server", mirror}}), 2);
  call("GotoFile", {1});

  // Both servers are probed, each on its own socket.
  const auto probe = [&](int j) {
    return get("DownloadFiles(1).remoteServerLocs(" + std::to_string(j) + ").pingSock").get<std::int32_t>();
  };
  EXPECT_EQ(pings().element(probe(1)).host, "srv");
  EXPECT_EQ(pings().element(probe(1)).connects, 1);
  EXPECT_EQ(pings().element(probe(2)).host, "mirror");
  EXPECT_EQ(pings().element(probe(2)).port, 81);
  EXPECT_FALSE(pings().element(probe(1)).secure);
  EXPECT_TRUE(pings().element(probe(2)).secure);
  EXPECT_EQ(pings().element(probe(2)).connects, 1);
  EXPECT_EQ(get("DownloadFiles(1).downloadStatus"), "pinging");

  // A member the record lacks fails as script would see it; nothing is added.
  EXPECT_EQ(error({{"op", "add_server"}, {"file", 1}, {"server", {{"colour", "red"}}}}), 438);
  EXPECT_EQ(error({{"op", "add_server"}, {"file", 7}, {"server", mirror}}), 9);
  EXPECT_EQ(get("DownloadFiles(1).remoteServerLocs.Count"), 2);
}

TEST_F(HostSession, MalformedAndWrongRequestsAreAnsweredWhileTheSessionGoesOn) {
  session.handle("not json at all");
  EXPECT_EQ(lines.back()["id"], nullptr);
  EXPECT_EQ(lines.back()["error"]["number"], host::protocol_error::malformed);
  session.handle("[1, 2]");
  EXPECT_EQ(lines.back()["error"]["number"], host::protocol_error::malformed);
  const std::size_t seen = lines.size();
  session.handle("   ");
  EXPECT_EQ(lines.size(), seen);

  EXPECT_EQ(error({{"op", "fly"}}), host::protocol_error::unknown_op);
  EXPECT_EQ(error({{"name", "CurFile"}}), host::protocol_error::unknown_op);
  EXPECT_EQ(error({{"op", "get"}}), host::protocol_error::bad_request);
  EXPECT_EQ(error({{"op", "get"}, {"path", "DownloadFiles(1"}}), host::protocol_error::bad_request);
  EXPECT_EQ(error({{"op", "call"}, {"name", "AddFile"}, {"args", "x"}}), host::protocol_error::bad_request);
  EXPECT_EQ(error({{"op", "folder"}, {"folder", "/"}}), host::protocol_error::no_dialog);

  // The control's own errors come back with its numbers and source.
  const Json unknown = ask({{"op", "get"}, {"name", "NoSuchMember"}});
  EXPECT_EQ(unknown["error"]["number"], 438);
  EXPECT_EQ(unknown["error"]["source"], "Vintrel");
  EXPECT_EQ(error({{"op", "put"}, {"name", "CurFile"}, {"value", "abc"}}), 13);
  EXPECT_EQ(error({{"op", "put"}, {"name", "CurFile"}, {"value", {{"a", 1}}}}), 13);
  EXPECT_EQ(error({{"op", "get"}, {"name", "dBytesTotal"}}), 9);  // no record yet

  // Starting programs is refused by name and by identifier alike.
  const auto exec = control::typelib::find("ExecFile")->id;
  EXPECT_EQ(error({{"op", "call"}, {"name", "execfile"}, {"args", {"/bin/true"}}}), host::protocol_error::refused);
  EXPECT_EQ(error({{"op", "call"}, {"dispid", exec}, {"args", {"/bin/true"}}}), host::protocol_error::refused);
  EXPECT_EQ(error({{"op", "call"}, {"path", "OpenIt"}, {"args", {"/bin/true"}}}), host::protocol_error::refused);
  EXPECT_TRUE(platform.opened.empty());

  // Still answering, by name and by identifier.
  result({{"op", "put"}, {"name", "CurFile"}, {"value", 3}});
  EXPECT_EQ(result({{"op", "get"}, {"dispid", control::typelib::find("CurFile")->id}}), 3);
}

TEST_F(HostSession, FolderDialogWaitsForThePeerWhileOtherRequestsAreHandled) {
  // Cancelled before any folder was chosen: StartQueue returns and queues
  // nothing.
  call("AddFile", {"http://srv/g.bin"});
  peer = [&](const Json& line) {
    if (line.value("event", "") == "FolderDialog")
      platform.post([&] { session.handle(R"({"op":"folder","cancel":true})"); });
  };
  call("StartQueue");
  EXPECT_EQ(get("DownloadFiles.Count"), 0);

  call("AddFile", {"http://srv/f.bin"});
  int asked = 0;
  std::vector<Json> during;
  peer = [&](const Json& line) {
    if (line.value("event", "") != "FolderDialog" || asked++ > 0) return;
    platform.post([&] {
      const auto send = [&](Json r) {
        session.handle(r.dump());
        during.push_back(lines.back());
      };
      EXPECT_TRUE(session.busy());
      send({{"id", "a"}, {"op", "call"}, {"name", "StartQueue"}});
      send({{"id", "b"}, {"op", "folder"}, {"folder", dir.file("missing")}});
      send({{"id", "c"}, {"op", "folder"}, {"folder", "relative"}});
      send({{"id", "d"}, {"op", "get"}, {"name", "dTotalFiles"}});
      send({{"id", "e"}, {"op", "folder"}, {"folder", dir.path().string() + "/"}});
    });
  };
  call("StartQueue");
  ASSERT_EQ(during.size(), 5U);
  EXPECT_EQ(during[0]["error"]["number"], 5);  // the control's own refusal
  EXPECT_EQ(during[1]["error"]["number"], host::protocol_error::no_folder);
  EXPECT_EQ(during[2]["error"]["number"], host::protocol_error::no_folder);
  EXPECT_EQ(during[3]["result"], 0);
  EXPECT_EQ(during[4]["result"], nullptr);
  EXPECT_FALSE(session.busy());
  EXPECT_EQ(get("DownloadFiles(1).localfilename"), dir.file("f.bin"));

  // A peer that leaves while asked cancels the dialog; later lines are
  // ignored.
  call("AddFile", {"http://srv/h.bin"});
  peer = [&](const Json& line) {
    if (line.value("event", "") == "FolderDialog") platform.post([&] { session.close(); });
  };
  call("StartQueue");
  EXPECT_TRUE(session.closed());
  const std::size_t seen = lines.size();
  session.handle(R"({"id":1,"op":"get","name":"dTotalFiles"})");
  EXPECT_EQ(lines.size(), seen);
}

TEST_F(HostSession, ValuesPersistenceAndByReferenceArguments) {
  result({{"op", "load"}, {"bag", {{"URL", "http://page.test/list"}}}});
  EXPECT_EQ(result({{"op", "get"}, {"name", "URL"}}), "http://page.test/list");
  EXPECT_EQ(result({{"op", "save"}}), (Json{{"URL", "http://page.test/list"}}));
  EXPECT_EQ(error({{"op", "load"}, {"bag", Json::object()}}), 13);  // a bag without "URL"

  const Json dequery = ask({{"op", "call"}, {"name", "DeQuery"}, {"args", {"a.zip?x=1"}}});
  EXPECT_EQ(dequery["result"], "a.zip");
  EXPECT_EQ(dequery["args"], Json::array({"a.zip?x=1"}));
  EXPECT_EQ(result({{"op", "call"}, {"name", "str2bin"}, {"args", {"AB"}}}), Json::array({65, 66}));
  EXPECT_EQ(result({{"op", "put"}, {"name", "startPinging"}, {"value", true}}), nullptr);
  EXPECT_EQ(result({{"op", "get"}, {"name", "startPinging"}}), true);

  using automation::Variant;
  EXPECT_EQ(host::to_json(Variant(automation::Currency{123450000})), 12345);
  EXPECT_EQ(host::to_json(Variant(automation::Currency{5})), 0.0005);
  EXPECT_EQ(host::to_json(Variant(automation::Date{45000.5})), 45000.5);
  EXPECT_EQ(host::to_json(Variant(std::shared_ptr<automation::Object>())), (Json{{"object", nullptr}}));
  EXPECT_EQ(testing::error_of([] { host::from_json(Json::array({1, 300})); }), 13);
}

}  // namespace
}  // namespace vintrel
