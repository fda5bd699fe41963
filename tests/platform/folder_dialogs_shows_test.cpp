// The terminal folder prompt across shows: what it shows, lines typed ahead,
// a show while one waits, and the owner's input left as it was.

#include "platform/folder_dialogs.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/event_loop.hpp"
#include "platform/folder_dialogs_rig.hpp"
#include "support/temp_folder.hpp"

namespace vintrel::platform {
namespace {

using namespace folder_dialogs_rig;

TEST_F(TerminalFolderDialogTest, ShowsTheTitleAndThePreselectedFolder) {
  dialog.show("Choose where files go", "/pre/selected", recorded.callback());
  const std::string text = shown();
  EXPECT_NE(text.find("Choose where files go\n"), std::string::npos);
  EXPECT_NE(text.find("Download folder [/pre/selected]: "), std::string::npos);
}

TEST_F(TerminalFolderDialogTest, PreselectionThatDoesNotExistIsRefusedToo) {
  dialog.show("", temp.file("gone"), recorded.callback());
  type("\n");
  type(sub() + "\n");
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, sub());
  EXPECT_NE(shown().find("No such folder: " + temp.file("gone")), std::string::npos);
}

TEST_F(TerminalFolderDialogTest, SecondShowWhileOneWaitsIsCancelledLaterAndTheFirstGoesOn) {
  dialog.show("", "", recorded.callback());
  Recorded second;
  dialog.show("", "", second.callback());
  EXPECT_FALSE(second.given);  // not inside show()
  ASSERT_TRUE(loop.run_until([&] { return second.given; }, generous));
  EXPECT_EQ(second.folder, std::nullopt);
  EXPECT_FALSE(recorded.given);
  type(sub() + "\n");
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, sub());
}

TEST_F(TerminalFolderDialogTest, LinesTypedAheadAnswerTheNextShow) {
  dialog.show("", "", recorded.callback());
  type(sub() + "\n" + temp.path().string() + "\n");
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, sub());

  Recorded next;
  dialog.show("", "", next.callback());
  EXPECT_FALSE(next.given);  // not inside show()
  ASSERT_TRUE(loop.run_until([&] { return next.given; }, generous));
  EXPECT_EQ(next.folder, temp.path().string());
}

TEST_F(TerminalFolderDialogTest, InputTypedWhileNoShowWaitsIsSeenByTheNextShow) {
  dialog.show("", "", recorded.callback());
  type(sub() + "\n");
  ASSERT_TRUE(answered());
  // Typed between two shows, with the loop going on: whatever wakeup this
  // caused found nobody waiting. Handlers that post the next one make the
  // loop look at its descriptors in between.
  type(temp.path().string() + "\n");
  int rounds = 0;
  std::function<void()> round = [&] {
    if (++rounds < 5) loop.post(round);
  };
  loop.post(round);
  ASSERT_TRUE(loop.run_until([&] { return rounds == 5; }, generous));
  Recorded next;
  dialog.show("", "", next.callback());
  ASSERT_TRUE(loop.run_until([&] { return next.given; }, generous));
  EXPECT_EQ(next.folder, temp.path().string());
}

TEST_F(TerminalFolderDialogTest, RefusalsBeyondOneReadAreAllWorkedThrough) {
  dialog.show("", "", recorded.callback());
  std::string lines;
  for (int i = 0; i < 300; ++i) lines += temp.file("missing-" + std::to_string(i)) + "\n";
  type(lines + sub() + "\n");
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, sub());
  EXPECT_NE(shown().find("No such folder: " + temp.file("missing-299") + "\n"), std::string::npos);
}

TEST(TerminalFolderDialog, ReadsItsAnswerFromARegularFileToo) {
  TempFolder temp;
  vintrel::testing::write_file(temp.file("answers"), temp.file("missing") + "\n" + temp.path().string() + "\n");
  const int file = ::open(temp.file("answers").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(file, 0);
  EventLoop loop;
  Pipe output;
  Recorded recorded;
  {
    TerminalFolderDialog dialog(loop, file, output.write_end);
    dialog.show("", "", recorded.callback());
    ASSERT_TRUE(loop.run_until([&] { return recorded.given; }, generous));
  }
  ::close(file);
  EXPECT_EQ(recorded.folder, temp.path().string());
}

TEST_F(TerminalFolderDialogTest, AnswerMayShowTheDialogAgain) {
  Recorded again;
  dialog.show("", "", [&](std::optional<std::string> folder) {
    recorded.given = true;
    recorded.folder = std::move(folder);
    dialog.show("", "", again.callback());
  });
  type(sub() + "\n");
  ASSERT_TRUE(answered());
  type(temp.path().string() + "\n");
  ASSERT_TRUE(loop.run_until([&] { return again.given; }, generous));
  EXPECT_EQ(again.folder, temp.path().string());
}

TEST_F(TerminalFolderDialogTest, LeavesTheOwnersInputOpenAndBlocking) {
  dialog.show("", "", recorded.callback());
  type(sub() + "\n");
  ASSERT_TRUE(answered());
  { TerminalFolderDialog another(loop, input.read_end, output.write_end); }
  EXPECT_GE(::fcntl(input.read_end, F_GETFD), 0);
  EXPECT_EQ(::fcntl(input.read_end, F_GETFL) & O_NONBLOCK, 0);
}

TEST(TerminalFolderDialog, DestroyedWhileWaitingNeverAnswers) {
  EventLoop loop;
  Pipe input;
  Pipe output;
  Recorded recorded;
  {
    TerminalFolderDialog dialog(loop, input.read_end, output.write_end);
    dialog.show("", "", recorded.callback());
  }
  input.close_write();  // would cancel, were anyone still reading
  bool drained = false;
  loop.post([&] { drained = true; });
  ASSERT_TRUE(loop.run_until([&] { return drained; }, generous));
  EXPECT_FALSE(recorded.given);
}

}  // namespace
}  // namespace vintrel::platform
