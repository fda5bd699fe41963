#pragma once
// A host for engine tests: records every event, offers a page with address
// and cookie, and a folder dialog that answers from a script.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/container.hpp"

namespace vintrel::testing {

/// A page with a fixed address and cookie text.
class ScriptedPage final : public platform::PageObject {
 public:
  std::string address = "http://page.test/index.html";
  std::string cookie_text = "session=1";
  std::string URL() override { return address; }
  std::string cookie() override { return cookie_text; }
};

/// A folder dialog answering from a list; an empty list answers "cancel".
class ScriptedDialog final : public platform::FolderDialog {
 public:
  /// The answers, one per showing; nullopt is a cancel.
  std::deque<std::optional<std::string>> answers;
  /// How the answer is handed back later (on the loop); null answers at once.
  std::function<void(std::function<void()>)> post;
  int shows = 0;
  std::string last_title;
  std::string last_preselect;
  /// What failure() reports: set with a nullopt answer, a failure instead
  /// of a cancel.
  platform::FolderFailure failing;

  void show(const std::string& title, const std::string& preselect, Answer answer) override;
  platform::FolderFailure failure() const override { return failing; }
};

/// Records the control's events as "OnStatusChange:<text>", "OnFileComplete:<text>"
/// and "OnTransferComplete".
class RecordingContainer final : public platform::Container {
 public:
  std::vector<std::string> events;
  ScriptedPage page_object;
  ScriptedDialog dialog;
  bool has_page = true;
  /// Called after a file-complete event is recorded (a page calling back).
  std::function<void(const std::string&)> on_file_complete;
  std::function<void(const std::string&)> on_status_change;

  void OnStatusChange(const std::string& Text) override;
  void OnFileComplete(const std::string& Text) override;
  void OnTransferComplete() override;
  platform::PageObject* page() override { return has_page ? &page_object : nullptr; }
  platform::FolderDialog* folder_dialog() override { return &dialog; }

  /// The status texts only, in order.
  std::vector<std::string> statuses() const;
  /// Forgets what was recorded.
  void clear() { events.clear(); }
};

}  // namespace vintrel::testing
