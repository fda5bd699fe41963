// Whole files from a real nginx on loopback.

#include <gtest/gtest.h>

#include "support/live_control.hpp"
#include "support/nginx_server.hpp"
#include "support/part_files.hpp"
#include "support/temp_folder.hpp"

namespace vintrel {
namespace {

using testing::LiveControl;
using testing::make_file;
using testing::NginxServer;
using testing::read_file;

struct NginxTransfer : ::testing::Test {
  void SetUp() override {
    if (!NginxServer::available()) GTEST_SKIP() << NginxServer::why_unavailable();
  }
  testing::TempFolder dir;
};

TEST_F(NginxTransfer, NewFilesOfZeroBytesAnd32MiBArriveByteIdentical) {
  NginxServer server;
  server.start();
  make_file(server.file("empty.bin"), 0, 1);
  make_file(server.file("big.bin"), 32 * 1024 * 1024, 2);
  LiveControl live;
  live.start({server.url("/empty.bin"), server.url("/big.bin")}, dir.path().string());
  ASSERT_TRUE(live.run_until_finished());
  EXPECT_TRUE(live.saw("OnFileComplete:" + dir.file("empty.bin")));
  EXPECT_TRUE(platform::file_exists(dir.file("empty.bin")));
  EXPECT_EQ(read_file(dir.file("empty.bin")), "");
  live.host.clear();
  live.control.GotoFile(2);
  ASSERT_TRUE(live.run_until_finished());
  EXPECT_TRUE(live.saw("OnFileComplete:" + dir.file("big.bin")));
  EXPECT_TRUE(read_file(dir.file("big.bin")) == read_file(server.file("big.bin")));
  EXPECT_EQ(live.control.dPercentComplete(), "100");
  live.host.clear();
  live.control.GotoFile(3);
  EXPECT_TRUE(live.saw("OnTransferComplete"));
}

TEST_F(NginxTransfer, PartialFileIsResumed) {
  NginxServer server;
  server.start();
  make_file(server.file("f.bin"), 3 * 1024 * 1024, 3);
  const auto whole = read_file(server.file("f.bin"));
  testing::write_part(dir.file("f.bin"), whole.substr(0, 1000000), server.url("/f.bin"));
  LiveControl live;
  live.start({server.url("/f.bin")}, dir.path().string());
  ASSERT_TRUE(live.run_until_finished());
  EXPECT_TRUE(read_file(dir.file("f.bin")) == whole);
  const auto log = server.access_log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.back().status, 206);
  EXPECT_EQ(log.back().range, "bytes=1000000-3145728");
  EXPECT_EQ(log.back().body_bytes_sent, 3145728 - 1000000);
  EXPECT_EQ(log.back().referer, "http://page.test/index.html");
  EXPECT_EQ(log.back().cookie, "session=1");
}

TEST_F(NginxTransfer, WholeLocalFileIsCompletedUntouched) {
  NginxServer server;
  server.start();
  make_file(server.file("f.bin"), 5000, 4);
  testing::write_part(dir.file("f.bin"), read_file(server.file("f.bin")), server.url("/f.bin"));
  LiveControl live;
  live.start({server.url("/f.bin")}, dir.path().string());
  ASSERT_TRUE(live.run_until_finished());
  EXPECT_TRUE(live.saw("OnStatusChange:File Already Complete"));
  EXPECT_TRUE(live.saw("OnFileComplete:" + dir.file("f.bin")));
  // One request: its answer showed the file on disk is the server's.
  EXPECT_EQ(server.access_log().size(), 1u);
  EXPECT_EQ(read_file(dir.file("f.bin")), read_file(server.file("f.bin")));
}

TEST_F(NginxTransfer, MissingFileIsReportedNotFound) {
  NginxServer server;
  server.start();
  LiveControl live;
  live.start({server.url("/nope.bin")}, dir.path().string());
  ASSERT_TRUE(live.run_until_finished());
  EXPECT_TRUE(live.saw("OnStatusChange:File Not Found"));
  EXPECT_EQ(live.control.dErrorNumber(), "404");
  EXPECT_FALSE(platform::file_exists(dir.file("nope.bin")));
}

TEST_F(NginxTransfer, RedirectionToAnotherPortAndPathWithAQuery) {
  NginxServer target;
  target.start();
  std::filesystem::create_directories(target.root() + "/new");
  make_file(target.file("new/moved.bin"), 100000, 5);
  NginxServer::Options options;
  options.extra_locations.push_back("location /old { return 301 " + target.url("/new/moved.bin?x=1") + "; }");
  NginxServer origin(options);
  origin.start();
  LiveControl live;
  live.start({origin.url("/old/file.bin")}, dir.path().string());
  ASSERT_TRUE(live.run_until_finished());
  EXPECT_TRUE(live.saw("OnStatusChange:Redirecting"));
  EXPECT_TRUE(live.saw("OnFileComplete:" + dir.file("moved.bin")));
  EXPECT_EQ(read_file(dir.file("moved.bin")), read_file(target.file("new/moved.bin")));
  EXPECT_EQ(target.access_log().back().request, "GET /new/moved.bin?x=1 HTTP/1.1");
}

TEST_F(NginxTransfer, RefusedWhileDownThenCompletedOnceUp) {
  NginxServer server;
  server.start();
  make_file(server.file("f.bin"), 200000, 6);
  server.stop();
  LiveControl live;
  live.start({server.url("/f.bin")}, dir.path().string());
  ASSERT_TRUE(live.loop.run_until(
      [&] {
        const auto s = live.host.statuses();
        return std::count(s.begin(), s.end(), "Waiting for a connection") >= 3;
      },
      std::chrono::seconds(10)));
  EXPECT_EQ(live.control.dErrorNumber(), "10061");
  server.restart();
  ASSERT_TRUE(live.run_until_finished());
  EXPECT_EQ(read_file(dir.file("f.bin")), read_file(server.file("f.bin")));
}

TEST_F(NginxTransfer, FastMirrorIsChosen) {
  NginxServer fast;
  fast.start();
  NginxServer::Options slow_options;
  slow_options.limit_rate = 64 * 1024;
  NginxServer slow(slow_options);
  slow.start();
  make_file(slow.file("f.bin"), 8 * 1024 * 1024, 7);
  make_file(fast.file("f.bin"), 8 * 1024 * 1024, 7);
  LiveControl live;
  live.start({slow.url("/f.bin")}, dir.path().string());
  // The second candidate, added through the records as script would.
  auto mirror = std::make_shared<queue::remoteServerLoc>();
  mirror->servName = "127.0.0.1";
  mirror->host = "127.0.0.1";
  mirror->PortNum = fast.port();
  mirror->remoteFilePath = "/f.bin";
  live.control.DownloadFiles->Item(1).remoteServerLocs->Add(mirror);
  live.control.GotoFile(1);
  ASSERT_TRUE(live.run_until_finished(std::chrono::seconds(30)));
  EXPECT_EQ(read_file(dir.file("f.bin")), read_file(fast.file("f.bin")));
  // The slow server saw only its probe; the fast one served the transfer.
  const auto fast_log = fast.access_log();
  ASSERT_FALSE(fast_log.empty());
  EXPECT_EQ(fast_log.back().referer, "http://page.test/index.html");
  for (const auto& entry : slow.wait_for_access_log(1)) EXPECT_EQ(entry.referer, "");
}

}  // namespace
}  // namespace vintrel
