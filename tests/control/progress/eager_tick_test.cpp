#include <gtest/gtest.h>

#include <memory>

#include "support/control_harness.hpp"
#include "support/part_files.hpp"
#include "support/temp_folder.hpp"

namespace vintrel {
namespace {

using Strings = std::vector<std::string>;

std::string ok(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// An eager control whose Timer1 the test never ticks unless it says so:
// every step seen without a timer tick came from an early tick.
struct EagerTicks : ::testing::Test {
  testing::TempFolder dir;
  testing::ControlHarness h;
  control::UserControl1& c = h.control;

  void SetUp() override { c.set_eager_ticks(true); }
  void start(const std::vector<std::string>& urls) {
    h.start(urls, dir.path().string());
    h.host.clear();
  }
  // The regular tick, through Timer1 as the loop runs it.
  void timer_tick() { h.platform.timer().tick(); }
  int connects(int n) { return h.winsock().element(n).connects; }
};

TEST_F(EagerTicks, SingleServerFileGoesFromStartToCompletionInThreeTicksAndNoTimerTick) {
  start({"http://srv/f.bin"});
  EXPECT_EQ(h.platform.posted_count(), 1u);
  h.platform.run_posted();
  EXPECT_EQ(h.host.statuses(), Strings{"Locating File"});
  EXPECT_EQ(connects(1), 1);

  h.winsock().accept(1);
  EXPECT_EQ(h.platform.posted_count(), 1u);
  h.platform.run_posted();
  EXPECT_FALSE(h.winsock().element(1).sent.empty());

  h.winsock().deliver(1, ok("0123456789"));
  EXPECT_EQ(h.file(1).downloadStatus, "Completed");
  EXPECT_EQ(h.platform.posted_count(), 1u);
  h.platform.run_posted();
  EXPECT_EQ(
      h.host.events,
      (Strings{"OnStatusChange:Locating File", "OnStatusChange:Downloading", "OnStatusChange:Determining File Size",
               "OnStatusChange:Completed Downloading a File", "OnFileComplete:" + dir.file("f.bin")}));
  EXPECT_EQ(h.file(1).downloadStatus, "N/A");
  EXPECT_EQ(testing::read_file(dir.file("f.bin")), "0123456789");
  // Nothing more is due: no tick is left waiting.
  EXPECT_EQ(h.platform.posted_count(), 0u);
}

// The second request of a resume, and a redirection's, follow the first
// answer at once, with every status in its usual order.
TEST_F(EagerTicks, ResumeAndRedirectionConnectAgainWithoutATimerTick) {
  testing::write_part(dir.file("f.bin"), "01234", "http://srv/f.bin");
  start({"http://srv/f.bin"});
  const auto next_request = [&] {
    h.platform.run_posted();
    h.winsock().accept(1);
    h.platform.run_posted();
    std::string sent = h.winsock().element(1).sent;
    h.winsock().element(1).sent.clear();
    return sent;
  };
  next_request();
  h.winsock().deliver(1, "HTTP/1.1 302 Found\r\nLocation: /g/f.bin\r\n\r\n");
  EXPECT_EQ(connects(1), 1);
  EXPECT_NE(next_request().find("GET /g/f.bin "), std::string::npos);
  EXPECT_EQ(connects(1), 2);
  h.winsock().deliver(1, ok("0123456789"));
  EXPECT_NE(next_request().find("Range: bytes=5-10"), std::string::npos);
  h.winsock().deliver(1, "HTTP/1.1 206 Partial\r\nContent-Range: bytes 5-9/10\r\nContent-Length: 5\r\n\r\n56789");
  h.platform.run_posted();
  EXPECT_EQ(testing::read_file(dir.file("f.bin")), "0123456789");
  EXPECT_EQ(h.host.statuses(),
            (Strings{"Locating File", "Downloading", "Redirecting", "Locating File", "Downloading", "Locating File",
                     "Downloading", "Determining File Size", "Completed Downloading a File"}));
}

TEST_F(EagerTicks, EarlyTickIsPostedAndNeverRunsInsideTheHandlerThatAskedForIt) {
  start({"http://srv/f.bin"});
  // StartQueue has returned, yet nothing was located: the tick waits for the loop.
  EXPECT_TRUE(h.host.events.empty());
  EXPECT_EQ(h.file(1).downloadStatus, "pinged");
  EXPECT_EQ(connects(1), 0);
  h.platform.run_posted();

  h.winsock().accept(1);
  // The Connect handler has returned without the request being sent.
  EXPECT_TRUE(h.winsock().element(1).sent.empty());
  EXPECT_FALSE(h.file(1).isSent);
  h.platform.run_posted();
  EXPECT_TRUE(h.file(1).isSent);
}

TEST_F(EagerTicks, SeveralRequestsBeforeTheTickRunsMakeOneTick) {
  start({"http://srv/a", "http://srv/b"});
  c.GotoFile(1);
  c.GotoFile(1);
  EXPECT_EQ(h.platform.posted_count(), 1u);
  h.platform.run_posted();
  EXPECT_EQ(h.host.statuses(), Strings{"Locating File"});
  EXPECT_EQ(connects(1), 1);
}

TEST_F(EagerTicks, TimerTickDoesTheWorkOfAPendingEarlyTick) {
  start({"http://srv/a"});
  timer_tick();
  h.platform.run_posted();  // the early tick finds nothing left to do
  EXPECT_EQ(h.host.statuses(), Strings{"Locating File"});
  h.winsock().accept(1);
  timer_tick();
  h.platform.run_posted();
  EXPECT_EQ(h.host.statuses(), (Strings{"Locating File", "Downloading"}));
}

TEST_F(EagerTicks, FileAnErrorPutsBackToPingedWaitsForTheRegularTick) {
  start({"http://srv/f"});
  h.platform.run_posted();
  h.winsock().fail(1, platform::sck_err::refused);
  EXPECT_EQ(h.file(1).downloadStatus, "pinged");
  h.platform.run_posted();
  EXPECT_EQ(connects(1), 1);
  timer_tick();
  EXPECT_EQ(connects(1), 2);

  // Connected, then failed before the early tick ran: the retry still waits.
  h.winsock().accept(1);
  h.winsock().fail(1, platform::sck_err::reset);
  h.platform.run_posted();
  EXPECT_EQ(connects(1), 2);
  EXPECT_TRUE(h.winsock().element(1).sent.empty());
  timer_tick();
  EXPECT_EQ(connects(1), 3);
}

// A server that says "not now" is asked again on the regular tick only.
TEST_F(EagerTicks, TransientAnswerIsNotBroughtForward) {
  start({"http://srv/f"});
  h.platform.run_posted();
  h.winsock().accept(1);
  h.platform.run_posted();
  h.winsock().deliver(1, "HTTP/1.1 503 Busy\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(h.file(1).downloadStatus, "pinged");
  h.platform.run_posted();
  EXPECT_EQ(connects(1), 1);
  timer_tick();
  EXPECT_EQ(connects(1), 2);
}

TEST_F(EagerTicks, GotoFileFromFileCompleteStartsTheNextFileWithoutWaiting) {
  start({"http://srv/a", "http://srv/b"});
  h.host.on_file_complete = [&](const std::string&) { c.GotoFile(2); };
  h.platform.run_posted();
  h.winsock().accept(1);
  h.platform.run_posted();
  h.winsock().deliver(1, ok("a"));
  h.platform.run_posted();  // reports file 1; its handler moves on
  EXPECT_EQ(c.CurFile, 2);
  EXPECT_EQ(h.file(2).downloadStatus, "downloading");
  EXPECT_EQ(connects(2), 1);
  h.winsock().accept(2);
  h.platform.run_posted();
  EXPECT_TRUE(h.file(2).isSent);
}

TEST_F(EagerTicks, ResumeQueueConnectsAtOnce) {
  start({"http://srv/f"});
  h.platform.run_posted();
  c.PauseQueue();
  h.platform.run_posted();
  EXPECT_EQ(connects(1), 1);
  c.ResumeQueue();
  h.platform.run_posted();
  EXPECT_EQ(connects(1), 2);
}

TEST_F(EagerTicks, ProbingStillEndsOnTheTimerAndThatTickConnects) {
  start({"http://srv/f"});
  h.platform.run_posted();
  h.host.clear();
  auto mirror = std::make_shared<queue::remoteServerLoc>();
  mirror->servName = mirror->host = "mirror";
  mirror->PortNum = 80;
  mirror->remoteFilePath = "/f";
  h.file(1).remoteServerLocs->Add(mirror);
  c.GotoFile(1);
  EXPECT_EQ(h.file(1).downloadStatus, "pinging");
  EXPECT_EQ(h.platform.posted_count(), 0u);
  h.advance(20);
  timer_tick();
  EXPECT_EQ(h.host.statuses(), (Strings{"Connecting", "Locating File"}));
  EXPECT_EQ(h.file(1).downloadStatus, "downloading");
}

TEST(SteadyTicks, ControlPostsNoTickUnlessEager) {
  testing::ControlHarness h;
  EXPECT_FALSE(h.control.eager_ticks());
  h.start({"http://srv/f"}, "/dl");
  h.tick();
  h.winsock().accept(1);
  EXPECT_EQ(h.platform.posted_count(), 0u);
}

TEST(SteadyTicks, TickPostedByAControlThatIsGoneDoesNothing) {
  testing::FakePlatform platform;
  testing::RecordingContainer host;
  auto control = std::make_unique<control::UserControl1>(platform, &host);
  control->set_eager_ticks(true);
  control->AddFile("http://srv/f");
  host.dialog.answers.push_back("/dl");
  control->StartQueue();
  ASSERT_EQ(platform.posted_count(), 1u);
  control.reset();
  platform.run_posted();
  EXPECT_TRUE(host.events.empty());
}

}  // namespace
}  // namespace vintrel
