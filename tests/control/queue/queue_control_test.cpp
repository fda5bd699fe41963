#include <gtest/gtest.h>

#include "support/control_bytes.hpp"
#include "support/control_harness.hpp"

namespace vintrel {
namespace {

using Strings = std::vector<std::string>;
using testing::error_of;

struct QueueControl : ::testing::Test {
  testing::ControlHarness h;
  control::UserControl1& c = h.control;
};

TEST_F(QueueControl, StartTakesPageDataAsksForTheFolderAndStartsTheCurrentFile) {
  c.SetDLText("Where to?");
  c.SetDirectory("/home");
  h.start({"http://srv/a.bin", "http://srv/b.bin"}, "/dl");
  EXPECT_EQ(c.cookielist, "session=1");
  EXPECT_EQ(c.containerURL, "http://page.test/index.html");
  EXPECT_EQ(h.host.dialog.last_title, "Where to?");
  EXPECT_EQ(h.host.dialog.last_preselect, "/home");
  EXPECT_EQ(c.sBuffer, "/dl");
  EXPECT_EQ(c.totalFiles, 2);
  EXPECT_EQ(c.qPointer, 2);
  EXPECT_EQ(h.file(1).downloadStatus, "pinged");
  EXPECT_EQ(h.file(2).downloadStatus, "N/A");
}

TEST_F(QueueControl, HostWithoutPageLeavesPageDataEmpty) {
  h.host.has_page = false;
  c.cookielist = "old";
  h.start({"http://srv/a.bin"}, "/dl");
  EXPECT_EQ(c.cookielist, "");
  EXPECT_EQ(c.containerURL, "");
  EXPECT_EQ(c.totalFiles, 1);
}

// The page's cookie and address become header lines: with a control byte
// in either the queue does not start, and nothing of the page is taken.
TEST(QueueStart, APageWhoseCookieOrAddressHoldsAControlByteIsRefused) {
  for (const bool in_cookie : {true, false}) {
    for (const std::string& byte : testing::control_bytes()) {
      testing::ControlHarness h;
      (in_cookie ? h.host.page_object.cookie_text : h.host.page_object.address) += byte + "X-Injected: 1";
      h.control.AddFile("http://srv/a.bin");
      h.host.dialog.answers.push_back("/dl");
      try {
        h.control.StartQueue();
        ADD_FAILURE() << "started with " << testing::control_name(byte);
      } catch (const automation::AutomationError& e) {
        EXPECT_EQ(e.number(), automation::err::invalid_call);
        EXPECT_EQ(e.description(), std::string(in_cookie ? "The page's cookie text" : "The page's address") +
                                       " holds " + testing::control_name(byte));
      }
      EXPECT_EQ(h.host.dialog.shows, 0);
      EXPECT_EQ(h.control.DownloadFiles->Count(), 0);
      EXPECT_EQ(h.control.cookielist, "");
      EXPECT_EQ(h.control.containerURL, "");
    }
  }
}

TEST_F(QueueControl, EmptyListStillShowsTheDialog) {
  h.host.dialog.answers.push_back("/dl");
  c.StartQueue();
  EXPECT_EQ(h.host.dialog.shows, 1);
  EXPECT_EQ(c.DownloadFiles->Count(), 0);
}

TEST_F(QueueControl, FirstDialogCancelledDropsTheListLaterCancelReusesTheFolder) {
  c.AddFile("http://srv/a.bin");
  h.host.dialog.answers.push_back(std::nullopt);
  c.StartQueue();
  EXPECT_EQ(c.numfilesadded, 0);
  EXPECT_EQ(c.DownloadFiles->Count(), 0);

  h.start({"http://srv/b.bin"}, "/dl");
  ASSERT_EQ(c.DownloadFiles->Count(), 1);
  h.host.dialog.answers.push_back(std::nullopt);
  c.StartQueue();  // the same URL again, into the folder chosen before
  ASSERT_EQ(c.DownloadFiles->Count(), 2);
  EXPECT_EQ(h.file(2).localfilename, "/dl/b.bin");
}

// A dialog that fails is no cancel: StartQueue raises its description and
// neither the URL list nor the folder chosen before is touched.
TEST(QueueStart, AFolderDialogThatFailsRaisesAndKeepsTheList) {
  using Kind = platform::FolderFailure::Kind;
  const struct {
    Kind kind;
    std::int32_t number;
    bool chosen_before;
  } cases[] = {
      {Kind::unusable_answer, automation::err::path_not_found, false},
      {Kind::unusable_answer, automation::err::path_not_found, true},
      {Kind::cannot_ask, automation::err::invalid_call, false},
      {Kind::cannot_ask, automation::err::invalid_call, true},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(static_cast<int>(t.kind) * 10 + t.chosen_before);
    testing::ControlHarness h;
    control::UserControl1& c = h.control;
    if (t.chosen_before) h.start({"http://srv/a.bin"}, "/dl");
    const auto records = c.DownloadFiles->Count();
    c.AddFile("http://srv/b.bin");
    const auto added = c.numfilesadded;
    h.host.dialog.answers.push_back(std::nullopt);
    h.host.dialog.failing = {t.kind, "why it failed"};
    try {
      c.StartQueue();
      ADD_FAILURE() << "StartQueue returned";
    } catch (const automation::AutomationError& e) {
      EXPECT_EQ(e.number(), t.number);
      EXPECT_EQ(e.description(), "why it failed");
    }
    EXPECT_EQ(c.numfilesadded, added);
    EXPECT_EQ(c.DownloadFiles->Count(), records);
    EXPECT_EQ(c.sBuffer, t.chosen_before ? "/dl" : "");
    // Once a folder is answered, the same list starts.
    h.host.dialog.failing = {};
    h.host.dialog.answers.push_back("/dl2");
    c.StartQueue();
    ASSERT_EQ(c.DownloadFiles->Count(), records + added);
    EXPECT_EQ(h.file(records + added).localfilename, "/dl2/b.bin");
  }
}

TEST_F(QueueControl, TickAndSocketEventRunWhileTheDialogWaits) {
  h.start({"http://srv/a.bin"}, "/dl");
  h.tick();  // file 1 connecting
  c.AddFile("http://srv/b.bin");
  h.host.dialog.answers.push_back("/dl2");
  std::string seen_status;
  // The dialog answers only after a tick and a socket event went by.
  h.host.dialog.post = [&](std::function<void()> answer) {
    h.platform.post([&] { h.winsock().accept(1); });
    h.platform.post([&] { h.tick(); });
    h.platform.post([&] { EXPECT_EQ(error_of([&] { c.StartQueue(); }), automation::err::invalid_call); });
    h.platform.post(std::move(answer));
  };
  c.StartQueue();
  EXPECT_EQ(h.winsock().element(1).sent.substr(0, 14), "GET /a.bin HTT");
  EXPECT_EQ(c.sBuffer, "/dl2");
  EXPECT_EQ(c.totalFiles, 3);  // a.bin again, and b.bin
}

TEST_F(QueueControl, GotoBeyondTheLastFileEndsTheQueueWithoutMoving) {
  h.start({"http://srv/a.bin", "http://srv/b.bin"}, "/dl");
  h.host.clear();
  c.theerrnumber = 7;
  c.GotoFile(3);
  EXPECT_EQ(h.host.events, (Strings{"OnStatusChange:Completed All Transfers", "OnTransferComplete"}));
  EXPECT_EQ(c.CurFile, 1);
  EXPECT_EQ(c.theerrnumber, 0);
  c.GotoFile(2);
  EXPECT_EQ(c.dCurrentFile(), "2");
  EXPECT_EQ(h.file(2).downloadStatus, "pinged");
}

TEST_F(QueueControl, GotoFileBelowOneFailsAndTheTimerStaysIdle) {
  h.start({"http://srv/a.bin"}, "/dl");
  EXPECT_EQ(error_of([&] { c.GotoFile(0); }), automation::err::subscript);
  EXPECT_EQ(c.CurFile, 0);
  h.host.clear();
  h.tick();
  EXPECT_TRUE(h.host.events.empty());
}

TEST_F(QueueControl, ResumeWithoutPauseChangesNothing) {
  h.start({"http://srv/a.bin"}, "/dl");
  h.host.clear();
  const auto probes = c.psIndex;
  c.ResumeQueue();
  EXPECT_TRUE(h.host.events.empty());
  EXPECT_EQ(c.psIndex, probes);
}

TEST_F(QueueControl, PauseTwiceThenResumeOnceRestartsOnce) {
  h.start({"http://srv/a.bin"}, "/dl");
  h.tick();
  h.winsock().accept(1);
  h.tick();
  c.PauseQueue();
  c.PauseQueue();
  EXPECT_EQ(h.winsock().element(1).state, 0);
  EXPECT_EQ(h.file(1).downloadStatus, "downloading");
  const auto probes = c.psIndex;
  c.ResumeQueue();
  c.ResumeQueue();
  EXPECT_EQ(c.psIndex, probes + 1);
  EXPECT_EQ(c.paused, 0);
  EXPECT_EQ(h.file(1).downloadStatus, "pinged");
}

TEST_F(QueueControl, PauseThenCancelKeepsThePauseSoResumeStillRestarts) {
  h.start({"http://srv/a.bin"}, "/dl");
  h.file(1).IsHeaderReceived = true;
  c.PauseQueue();
  h.file(1).IsHeaderReceived = true;
  c.CancelQueue();
  EXPECT_TRUE(h.file(1).IsHeaderReceived);  // cancelling leaves the header state
  EXPECT_EQ(c.paused, 1);
  const auto probes = c.psIndex;
  c.ResumeQueue();
  EXPECT_EQ(c.psIndex, probes + 1);
  auto statuses = h.host.statuses();
  EXPECT_EQ(Strings(statuses.begin(), statuses.begin() + 2), (Strings{"Paused Queue", "Cancelled Download Queue"}));
}

TEST_F(QueueControl, PauseBeforeAnyStartFailsThenResumeEndsTheQueue) {
  EXPECT_EQ(error_of([&] { c.PauseQueue(); }), automation::err::no_element);
  EXPECT_EQ(c.paused, 1);
  c.ResumeQueue();
  EXPECT_EQ(h.host.events, (Strings{"OnStatusChange:Completed All Transfers", "OnTransferComplete"}));
}

TEST_F(QueueControl, EachStartOfAFileTakesANewProbeIndex) {
  h.start({"http://srv/a.bin"}, "/dl");
  c.GotoFile(1);
  c.downloadQueue();
  EXPECT_EQ(c.psIndex, 3);
  EXPECT_EQ(c.qPointer, 4);
  EXPECT_EQ(h.file(1).remoteServerLocs->Item(1).pingSock, 3);
}

}  // namespace
}  // namespace vintrel
