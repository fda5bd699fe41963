#pragma once
// Folder dialogs for real hosts: a prompt on the terminal, the desktop's
// folder chooser (zenity), and a fixed answer for programs given their folder
// on the command line. None of them blocks the thread: the control waits for
// the answer with the loop running, and ticks and socket events go on.

#include <memory>
#include <string>

#include "platform/container.hpp"

namespace vintrel::platform {

class EventLoop;

/// Asks for the folder on a terminal: reads lines from `input_fd` through the
/// loop and writes its prompts to `output_fd`. An empty line takes the
/// preselected folder; only an existing folder is accepted; end of input
/// cancels. Answers are absolute paths without a trailing slash. The dialog
/// works on its own duplicate of `input_fd`, which stays open and usable by
/// its owner. One show at a time: a show while another waits is cancelled.
class TerminalFolderDialog final : public FolderDialog {
 public:
  explicit TerminalFolderDialog(EventLoop& loop, int input_fd = 0, int output_fd = 1);
  ~TerminalFolderDialog() override;
  TerminalFolderDialog(const TerminalFolderDialog&) = delete;
  TerminalFolderDialog& operator=(const TerminalFolderDialog&) = delete;

  void show(const std::string& title, const std::string& preselect, Answer answer) override;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

/// Asks for the folder with the desktop's chooser: runs `program` (zenity or
/// a program that takes its arguments) without a shell and reads the chosen
/// folder from its output. A program that fails, cannot be started, or names
/// no existing folder cancels. One show at a time, as above.
class DesktopFolderDialog final : public FolderDialog {
 public:
  explicit DesktopFolderDialog(EventLoop& loop, std::string program = "zenity");
  ~DesktopFolderDialog() override;
  DesktopFolderDialog(const DesktopFolderDialog&) = delete;
  DesktopFolderDialog& operator=(const DesktopFolderDialog&) = delete;

  void show(const std::string& title, const std::string& preselect, Answer answer) override;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

/// Answers every show with the same folder, later on the loop.
class FixedFolderDialog final : public FolderDialog {
 public:
  FixedFolderDialog(EventLoop& loop, std::string folder);

  void show(const std::string& title, const std::string& preselect, Answer answer) override;

 private:
  EventLoop& loop_;
  std::string folder_;
};

/// The desktop's chooser when a display is there and zenity is installed,
/// else none (null).
std::unique_ptr<FolderDialog> make_desktop_folder_dialog(EventLoop& loop);

/// The dialog that suits where the program runs: the desktop chooser when a
/// display is there and zenity is installed, else the terminal prompt when
/// standard input is a terminal, else none (null).
std::unique_ptr<FolderDialog> make_interactive_folder_dialog(EventLoop& loop);

/// True when `name` is an executable file in a folder of $PATH (or, when it
/// holds a slash, at that path).
bool program_on_path(const std::string& name);

}  // namespace vintrel::platform
