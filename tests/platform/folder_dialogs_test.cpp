// The terminal folder prompt: it reads its lines through the loop and only
// accepts existing folders, whatever way they are typed.

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

TEST_F(TerminalFolderDialogTest, AcceptsAnExistingFolderAsAnAbsolutePathWithoutTrailingSlash) {
  dialog.show("", "", recorded.callback());
  type(temp.path().string() + "//sub/\n");
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, sub());
}

TEST_F(TerminalFolderDialogTest, AcceptsTheRootFolderAsASlash) {
  dialog.show("", "", recorded.callback());
  type("/\n");
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, "/");
}

TEST_F(TerminalFolderDialogTest, RefusesAMissingFolderAndAsksAgainUntilAGoodOne) {
  dialog.show("", "", recorded.callback());
  const std::string missing = temp.file("missing");
  type(missing + "\n");
  ASSERT_TRUE(
      loop.run_until([&] { return shown().find("No such folder: " + missing) != std::string::npos; }, generous));
  EXPECT_FALSE(recorded.given);
  type(sub() + "\n");
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, sub());
}

TEST_F(TerminalFolderDialogTest, RefusesAFileThatIsNoFolder) {
  vintrel::testing::write_file(temp.file("plain"), "x");
  dialog.show("", "", recorded.callback());
  type(temp.file("plain") + "\n" + sub() + "\n");
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, sub());
  EXPECT_NE(shown().find("No such folder: " + temp.file("plain")), std::string::npos);
}

TEST_F(TerminalFolderDialogTest, EmptyLineTakesThePreselectedFolder) {
  dialog.show("", sub() + "/", recorded.callback());
  type("\n");
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, sub());
}

TEST_F(TerminalFolderDialogTest, EmptyLineWithoutPreselectionAsksAgain) {
  dialog.show("", "", recorded.callback());
  type("\n");
  ASSERT_TRUE(loop.run_until(
      [&] {
        std::size_t prompts = 0;
        for (std::size_t at = 0; (at = shown().find("Download folder", at)) != std::string::npos; ++at) ++prompts;
        return prompts == 2;
      },
      generous));
  EXPECT_FALSE(recorded.given);
  type(sub() + "\n");
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, sub());
}

TEST_F(TerminalFolderDialogTest, EndOfInputCancels) {
  dialog.show("", sub(), recorded.callback());
  input.close_write();
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, std::nullopt);
}

TEST_F(TerminalFolderDialogTest, EndOfInputAfterARefusedFolderCancels) {
  dialog.show("", "", recorded.callback());
  type(temp.file("missing") + "\n");
  input.close_write();
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, std::nullopt);
}

TEST_F(TerminalFolderDialogTest, LastLineWithoutNewlineBeforeEndOfInputCounts) {
  dialog.show("", "", recorded.callback());
  type(sub());
  input.close_write();
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, sub());
}

TEST_F(TerminalFolderDialogTest, LineArrivingInPiecesIsTakenWhole) {
  dialog.show("", "", recorded.callback());
  const std::string line = sub() + "\n";
  type(line.substr(0, 4));
  bool first_piece_read = false;
  loop.post([&] { first_piece_read = true; });
  ASSERT_TRUE(loop.run_until([&] { return first_piece_read; }, generous));
  EXPECT_FALSE(recorded.given);
  type(line.substr(4));
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, sub());
}

TEST_F(TerminalFolderDialogTest, TildeExpandsToHome) {
  ScopedEnv home("HOME", temp.path().string());
  dialog.show("", "", recorded.callback());
  type("~/sub\n");
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, sub());

  Recorded bare;
  dialog.show("", "", bare.callback());
  type("~\n");
  ASSERT_TRUE(loop.run_until([&] { return bare.given; }, generous));
  EXPECT_EQ(bare.folder, temp.path().string());
}

TEST_F(TerminalFolderDialogTest, RelativeAnswerIsResolvedAgainstTheCurrentFolder) {
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(temp.path());
  const std::string expected = (std::filesystem::current_path() / "sub").string();
  dialog.show("", "", recorded.callback());
  type("./sub/../sub\n");
  const bool done = answered();
  std::filesystem::current_path(before);
  ASSERT_TRUE(done);
  EXPECT_EQ(recorded.folder, expected);
}

TEST_F(TerminalFolderDialogTest, LoopKeepsRunningWhileThePromptWaits) {
  dialog.show("", "", recorded.callback());
  bool other_work_ran = false;
  loop.post([&] { other_work_ran = true; });
  ASSERT_TRUE(loop.run_until([&] { return other_work_ran; }, generous));
  EXPECT_FALSE(recorded.given);
  type(sub() + "\n");
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, sub());
}

}  // namespace
}  // namespace vintrel::platform
