#include <gtest/gtest.h>

#include "support/control_harness.hpp"

namespace vintrel {
namespace {

using Strings = std::vector<std::string>;

struct Tick : ::testing::Test {
  testing::ControlHarness h;
  control::UserControl1& c = h.control;
};

TEST_F(Tick, DoesNothingBeforeAnyFileIsQueued) {
  h.tick();
  c.totalFiles = 1;
  c.CurFile = 0;
  h.tick();
  // CurFile names no record: nothing happens and nothing fails.
  c.CurFile = 5;
  h.tick();
  EXPECT_TRUE(h.host.events.empty());
}

TEST_F(Tick, SingleServerFileIsLocatedThenDownloadedWithoutConnecting) {
  h.start({"http://srv:8080/dir/file.zip"}, "/dl");
  EXPECT_EQ(h.file(1).downloadStatus, "pinged");
  h.host.clear();

  h.tick();
  EXPECT_EQ(h.host.statuses(), Strings{"Locating File"});
  EXPECT_EQ(h.file(1).downloadStatus, "downloading");
  EXPECT_EQ(h.winsock().element(1).host, "srv");
  EXPECT_EQ(h.winsock().element(1).port, 8080);
  EXPECT_TRUE(h.winsock().element(1).sent.empty());

  h.tick();  // still connecting: nothing to report
  h.winsock().accept(1);
  h.tick();
  h.tick();
  EXPECT_EQ(h.host.statuses(), (Strings{"Locating File", "Downloading", "Downloading"}));
  // The request goes out once per connection, on the first connected tick.
  EXPECT_EQ(h.winsock().element(1).sent,
            "GET /dir/file.zip HTTP/1.1\r\nReferer: http://page.test/index.html\r\nHost: srv:8080\r\n"
            "Connection: close\r\nAccept: */*\r\nCookie: session=1\r\n\r\n");
  EXPECT_TRUE(h.file(1).isSent);
  EXPECT_TRUE(h.file(1).isCon);
}

TEST_F(Tick, ConnectedTickClearsTheStoredError) {
  h.start({"http://srv/f"}, "/dl");
  h.tick();
  h.winsock().fail(1, platform::sck_err::refused);
  EXPECT_EQ(c.dErrorNumber(), "10061");
  EXPECT_EQ(h.file(1).downloadStatus, "pinged");
  h.tick();  // reconnects and keeps the error readable
  EXPECT_EQ(c.theerrnumber, 10061);
  EXPECT_EQ(h.winsock().element(1).connects, 2);
  h.winsock().accept(1);
  h.tick();
  EXPECT_EQ(c.dErrorDesc(), "No Error");
  EXPECT_EQ(c.dErrorNumber(), "0");
  EXPECT_EQ(h.host.statuses(), (Strings{"Locating File", "Waiting for a connection", "Locating File", "Downloading"}));
}

TEST_F(Tick, CompletedFileIsReportedExactlyOnce) {
  h.start({"http://srv/f"}, "/dl");
  h.file(1).downloadStatus = "Completed";
  h.host.clear();
  h.tick();
  h.tick();
  EXPECT_EQ(h.host.events, (Strings{"OnStatusChange:Completed Downloading a File", "OnFileComplete:/dl/f"}));
  EXPECT_EQ(h.file(1).downloadStatus, "N/A");
}

TEST_F(Tick, GotoFileFromInsideFileCompleteDoesNotRedirectTheTick) {
  h.start({"http://srv/a", "http://srv/b"}, "/dl");
  h.file(1).downloadStatus = "Completed";
  h.host.on_file_complete = [&](const std::string&) { c.GotoFile(2); };
  h.tick();
  EXPECT_EQ(c.CurFile, 2);
  EXPECT_EQ(h.file(1).downloadStatus, "N/A");     // the tick's own file was finished
  EXPECT_EQ(h.file(2).downloadStatus, "pinged");  // the new one waits for the next tick
  h.host.on_file_complete = nullptr;
  h.tick();
  EXPECT_EQ(h.file(2).downloadStatus, "downloading");
}

struct Rate : Tick {
  // A connected transfer whose start time the tick has set.
  void SetUp() override {
    h.start({"http://srv/f"}, "/dl");
    h.tick();
    h.winsock().accept(1);
    h.tick();  // sends the request and sets startDLTime
  }
};

TEST_F(Rate, NoRateOnTheStartingTickWithinTheFirstSecondOrBelow1024Bytes) {
  auto& f = h.file(1);
  EXPECT_EQ(f.startDLTime, h.platform.clock_.Now());
  f.downloadedbytes = 4096;
  h.tick();  // same second: nothing computed, but the snapshot is taken
  EXPECT_EQ(f.therate, 0);
  EXPECT_EQ(f.tempBytesReceived, 4096);
  f.tempBytesReceived = 1023;
  h.platform.clock_.advance(5);
  c.updateRate(f);
  EXPECT_EQ(f.therate, 0);
}

TEST_F(Rate, FiftyKilobytesPerSecondAndTwentySecondsToGo) {
  auto& f = h.file(1);
  f.bytesondisk = 1000;
  f.downloadedbytes = 513000;
  f.tempBytesReceived = 400000;
  f.contentlength = 513000 + 1024000;
  h.advance(10);
  h.tick();
  EXPECT_EQ(f.therate, 50);
  EXPECT_EQ(f.remainingTime, 20);
  EXPECT_EQ(c.dRate(), "50");
  EXPECT_EQ(c.dRemainingTime(), "20");
}

TEST_F(Rate, FiveGibibyteTransferDoesNotOverflow) {
  auto& f = h.file(1);
  const double five_gib = 5.0 * 1024 * 1024 * 1024;
  f.downloadedbytes = five_gib;
  f.tempBytesReceived = five_gib;
  f.contentlength = 2 * five_gib;
  h.advance(100);
  h.tick();
  EXPECT_EQ(f.therate, 52428);  // 5 GiB / 100 s / 1024
  EXPECT_EQ(f.remainingTime, 100);
}

}  // namespace
}  // namespace vintrel
