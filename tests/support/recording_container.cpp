#include "support/recording_container.hpp"

namespace vintrel::testing {

void ScriptedDialog::show(const std::string& title, const std::string& preselect, Answer answer) {
  ++shows;
  last_title = title;
  last_preselect = preselect;
  std::optional<std::string> folder;
  if (!answers.empty()) {
    folder = answers.front();
    answers.pop_front();
  }
  if (post)
    post([answer, folder] { answer(folder); });
  else
    answer(folder);
}

void RecordingContainer::OnStatusChange(const std::string& Text) {
  events.push_back("OnStatusChange:" + Text);
  if (on_status_change) on_status_change(Text);
}

void RecordingContainer::OnFileComplete(const std::string& Text) {
  events.push_back("OnFileComplete:" + Text);
  if (on_file_complete) on_file_complete(Text);
}

void RecordingContainer::OnTransferComplete() { events.push_back("OnTransferComplete"); }

std::vector<std::string> RecordingContainer::statuses() const {
  static const std::string prefix = "OnStatusChange:";
  std::vector<std::string> texts;
  for (const auto& e : events)
    if (e.rfind(prefix, 0) == 0) texts.push_back(e.substr(prefix.size()));
  return texts;
}

}  // namespace vintrel::testing
