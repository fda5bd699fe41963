#pragma once
// The desktop's folder chooser on Windows, and the answer tests and
// unattended hosts give it instead of a person.

#include <memory>
#include <optional>
#include <string>

#include "platform/container.hpp"

namespace vintrel::platform {

class EventLoop;

namespace windows {

/// The environment variable that answers the folder dialog without showing
/// it (tests, unattended hosts): a folder, or `folder_answer_cancel`.
inline constexpr const char* folder_answer_variable = "VINTREL_FOLDER_ANSWER";
/// The registry value that does the same when the variable is not set:
/// HKEY_CURRENT_USER\Software\Vintrel, value FolderAnswer (a string).
inline constexpr const wchar_t* folder_answer_key = L"Software\\Vintrel";
inline constexpr const wchar_t* folder_answer_value = L"FolderAnswer";
/// The answer that cancels (a colon never begins a Windows path).
inline constexpr const char* folder_answer_cancel = ":cancel";

/// The answer set by the variable or the registry value, if any (the
/// variable wins); the text as given.
std::optional<std::string> configured_folder_answer();

/// `text` as an absolute folder without a trailing separator (a drive's
/// root keeps its own: "C:\"), or nothing when no such folder exists.
std::optional<std::string> existing_folder(const std::string& text);

}  // namespace windows

/// The desktop's folder chooser: IFileOpenDialog picking folders, owned by
/// the active window of the thread, titled with the control's text and
/// opened at the preselected folder when it exists. It shows from the loop
/// (show() returns at once) and, while it is up, ticks and socket events go
/// on. A configured answer (see windows::configured_folder_answer) is given
/// instead of showing: an existing folder answers with that folder,
/// `folder_answer_cancel` cancels, anything else answers nothing with an
/// unusable-answer failure. A dialog that cannot be shown (no interactive
/// desktop, no shell dialog, no COM on the thread) answers nothing with a
/// cannot-ask failure. One show at a time: a show while another waits is
/// cancelled.
class ShellFolderDialog final : public FolderDialog {
 public:
  explicit ShellFolderDialog(EventLoop& loop);
  ~ShellFolderDialog() override;
  ShellFolderDialog(const ShellFolderDialog&) = delete;
  ShellFolderDialog& operator=(const ShellFolderDialog&) = delete;

  void show(const std::string& title, const std::string& preselect, Answer answer) override;
  FolderFailure failure() const override;

 private:
  struct State;
  EventLoop& loop_;
  std::shared_ptr<State> state_;
};

}  // namespace vintrel::platform
