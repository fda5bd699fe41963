// The folder dialogs: the terminal prompt reads its lines through the loop
// and only accepts existing folders; the desktop chooser runs a program and
// reads its answer; every answer comes later, on the loop.

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
#include "support/temp_folder.hpp"

namespace vintrel::platform {
namespace {

using namespace std::chrono_literals;
using vintrel::testing::TempFolder;

constexpr auto generous = 10s;

struct Pipe {
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    read_end = fds[0];
    write_end = fds[1];
  }
  ~Pipe() {
    close_read();
    close_write();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  void close_read() {
    if (read_end >= 0) ::close(read_end);
    read_end = -1;
  }
  void close_write() {
    if (write_end >= 0) ::close(write_end);
    write_end = -1;
  }

  int read_end = -1;
  int write_end = -1;
};

struct Recorded {
  bool given = false;
  std::optional<std::string> folder;

  FolderDialog::Answer callback() {
    return [this](std::optional<std::string> answer) {
      given = true;
      folder = std::move(answer);
    };
  }
};

// Sets an environment variable for the length of a test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// ---------------------------------------------------------------------------
// Terminal prompt

class TerminalFolderDialogTest : public ::testing::Test {
 protected:
  TerminalFolderDialogTest() {
    ::fcntl(output.read_end, F_SETFL, ::fcntl(output.read_end, F_GETFL) | O_NONBLOCK);
    std::filesystem::create_directory(temp.path() / "sub");
  }

  void type(const std::string& text) {
    ASSERT_EQ(::write(input.write_end, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // Everything the dialog wrote so far.
  const std::string& shown() {
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(output.read_end, chunk, sizeof chunk)) > 0) written.append(chunk, static_cast<std::size_t>(n));
    return written;
  }

  bool answered() {
    return loop.run_until([&] { return recorded.given; }, generous);
  }

  std::string sub() const { return temp.file("sub"); }

  TempFolder temp;
  EventLoop loop;
  Pipe input;
  Pipe output;
  TerminalFolderDialog dialog{loop, input.read_end, output.write_end};
  Recorded recorded;
  std::string written;
};

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
