#include "host/peer_folder_dialog.hpp"

#include <utility>

namespace vintrel::host {

void PeerFolderDialog::show(const std::string& title, const std::string& preselect, Answer answer) {
  if (waiting_ || gone_) {
    // Nobody to ask: the control counts this as cancelled. Answering
    // inside show() is safe here, the control checks before it waits.
    answer(std::nullopt);
    return;
  }
  waiting_ = std::move(answer);
  emit_(Json{{"event", "FolderDialog"}, {"title", title}, {"preselect", preselect}});
}

void PeerFolderDialog::answer(std::optional<std::string> folder) {
  Answer done = std::move(waiting_);
  waiting_ = nullptr;
  if (done) done(std::move(folder));
}

void PeerFolderDialog::peer_gone() {
  gone_ = true;
  answer(std::nullopt);
}

}  // namespace vintrel::host
