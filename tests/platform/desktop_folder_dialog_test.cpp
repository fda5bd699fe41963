// The desktop chooser runs a program and reads its answer; the fixed dialog
// and the choice between dialogs. Every answer comes later, on the loop.

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

// ---------------------------------------------------------------------------
// Desktop chooser

class DesktopFolderDialogTest : public ::testing::Test {
 protected:
  DesktopFolderDialogTest() { std::filesystem::create_directory(temp.path() / "chosen"); }

  // A stand-in for zenity that records its arguments, one a line, prints
  // `printed` and exits with `status`.
  std::string fake_program(const std::string& printed, int status) {
    const std::string path = temp.file("fake-zenity");
    vintrel::testing::write_file(path,
                                 "#!/bin/sh\n"
                                 "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                                     arguments_file() +
                                     "'\n"
                                     "printf '%s\\n' '" +
                                     printed +
                                     "'\n"
                                     "exit " +
                                     std::to_string(status) + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
  }

  std::string arguments_file() const { return temp.file("arguments"); }
  std::string chosen() const { return temp.file("chosen"); }

  bool answered() {
    return loop.run_until([&] { return recorded.given; }, generous);
  }

  TempFolder temp;
  EventLoop loop;
  Recorded recorded;
};

TEST_F(DesktopFolderDialogTest, AnswersTheFolderTheProgramPrints) {
  DesktopFolderDialog dialog(loop, fake_program(chosen(), 0));
  dialog.show("Title", "", recorded.callback());
  EXPECT_FALSE(recorded.given);
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, chosen());
}

TEST_F(DesktopFolderDialogTest, AsksForAFolderWithTitleAndPreselection) {
  DesktopFolderDialog dialog(loop, fake_program(chosen(), 0));
  dialog.show("Pick a folder", "/some/where", recorded.callback());
  ASSERT_TRUE(answered());
  EXPECT_EQ(vintrel::testing::read_file(arguments_file()),
            "--file-selection\n--directory\n--title=Pick a folder\n--filename=/some/where/\n");
}

TEST_F(DesktopFolderDialogTest, ArgumentsReachTheProgramUntouchedByAnyShell) {
  DesktopFolderDialog dialog(loop, fake_program(chosen(), 0));
  dialog.show("$(touch x) `y` \"q\" *", "", recorded.callback());
  ASSERT_TRUE(answered());
  EXPECT_EQ(vintrel::testing::read_file(arguments_file()),
            "--file-selection\n--directory\n--title=$(touch x) `y` \"q\" *\n");
}

TEST_F(DesktopFolderDialogTest, ProgramExitingWithFailureCancels) {
  DesktopFolderDialog dialog(loop, fake_program(chosen(), 1));
  dialog.show("", "", recorded.callback());
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, std::nullopt);
}

TEST_F(DesktopFolderDialogTest, PrintedFolderThatDoesNotExistCancels) {
  DesktopFolderDialog dialog(loop, fake_program(temp.file("missing"), 0));
  dialog.show("", "", recorded.callback());
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, std::nullopt);
}

TEST_F(DesktopFolderDialogTest, MissingProgramCancelsLater) {
  DesktopFolderDialog dialog(loop, temp.file("no-such-program"));
  dialog.show("", "", recorded.callback());
  EXPECT_FALSE(recorded.given);
  ASSERT_TRUE(answered());
  EXPECT_EQ(recorded.folder, std::nullopt);
}

TEST_F(DesktopFolderDialogTest, CanBeShownAgainAfterAnAnswer) {
  DesktopFolderDialog dialog(loop, fake_program(chosen(), 0));
  dialog.show("", "", recorded.callback());
  ASSERT_TRUE(answered());
  Recorded second;
  dialog.show("", "", second.callback());
  ASSERT_TRUE(loop.run_until([&] { return second.given; }, generous));
  EXPECT_EQ(second.folder, chosen());
}

TEST_F(DesktopFolderDialogTest, SecondShowWhileOneIsOpenIsCancelled) {
  DesktopFolderDialog dialog(loop, fake_program(chosen(), 0));
  dialog.show("", "", recorded.callback());
  Recorded second;
  dialog.show("", "", second.callback());
  EXPECT_FALSE(second.given);
  ASSERT_TRUE(loop.run_until([&] { return second.given && recorded.given; }, generous));
  EXPECT_EQ(second.folder, std::nullopt);
  EXPECT_EQ(recorded.folder, chosen());
}

// ---------------------------------------------------------------------------
// Fixed folder, choosing a dialog

TEST(FixedFolderDialog, AnswersEveryShowWithItsFolderLaterOnTheLoop) {
  EventLoop loop;
  FixedFolderDialog dialog(loop, "/downloads");
  Recorded first;
  Recorded second;
  dialog.show("title", "/elsewhere", first.callback());
  dialog.show("", "", second.callback());
  EXPECT_FALSE(first.given);
  ASSERT_TRUE(loop.run_until([&] { return first.given && second.given; }, generous));
  EXPECT_EQ(first.folder, "/downloads");
  EXPECT_EQ(second.folder, "/downloads");
}

TEST(InteractiveFolderDialog, ProgramOnPathFindsExecutablesInPathFoldersOnly) {
  TempFolder temp;
  vintrel::testing::write_file(temp.file("runnable"), "#!/bin/sh\n");
  ::chmod(temp.file("runnable").c_str(), 0755);
  vintrel::testing::write_file(temp.file("plain"), "");
  std::filesystem::create_directory(temp.path() / "folder");
  ::chmod(temp.file("folder").c_str(), 0755);
  ScopedEnv path("PATH", "/nonexistent:" + temp.path().string());
  EXPECT_TRUE(program_on_path("runnable"));
  EXPECT_FALSE(program_on_path("plain"));
  EXPECT_FALSE(program_on_path("folder"));
  EXPECT_FALSE(program_on_path("absent"));
  EXPECT_TRUE(program_on_path(temp.file("runnable")));
  EXPECT_FALSE(program_on_path(""));
}

TEST(InteractiveFolderDialog, UsesTheDesktopChooserWhenADisplayAndZenityAreThere) {
  TempFolder temp;
  vintrel::testing::write_file(temp.file("zenity"), "#!/bin/sh\n");
  ::chmod(temp.file("zenity").c_str(), 0755);
  ScopedEnv path("PATH", temp.path().string());
  ScopedEnv display("DISPLAY", "");
  ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-0");
  EventLoop loop;
  auto dialog = make_interactive_folder_dialog(loop);
  EXPECT_NE(dynamic_cast<DesktopFolderDialog*>(dialog.get()), nullptr);
}

TEST(InteractiveFolderDialog, WithoutADisplayFallsBackToTheTerminalOnlyOnATerminal) {
  TempFolder temp;
  vintrel::testing::write_file(temp.file("zenity"), "#!/bin/sh\n");
  ::chmod(temp.file("zenity").c_str(), 0755);
  ScopedEnv path("PATH", temp.path().string());
  ScopedEnv display("DISPLAY", "");
  ScopedEnv wayland("WAYLAND_DISPLAY", "");
  EventLoop loop;
  auto dialog = make_interactive_folder_dialog(loop);
  if (::isatty(0)) {
    EXPECT_NE(dynamic_cast<TerminalFolderDialog*>(dialog.get()), nullptr);
  } else {
    EXPECT_EQ(dialog, nullptr);
  }
}

}  // namespace
}  // namespace vintrel::platform
