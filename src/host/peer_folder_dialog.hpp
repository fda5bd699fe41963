#pragma once
// The folder dialog answered by the peer: its question goes out as a
// "FolderDialog" event, its answer comes back as a "folder" request.

#include <functional>
#include <optional>
#include <string>

#include "host/values.hpp"
#include "platform/container.hpp"

namespace vintrel::host {

/// One question at a time; once the peer is gone every show is cancelled.
class PeerFolderDialog final : public platform::FolderDialog {
 public:
  /// `emit` sends an event line to the peer.
  explicit PeerFolderDialog(std::function<void(const Json&)> emit) : emit_(std::move(emit)) {}

  void show(const std::string& title, const std::string& preselect, Answer answer) override;

  /// True while a question waits for the peer's answer.
  bool waiting() const { return static_cast<bool>(waiting_); }
  /// Answers the question waiting, if any; nullopt cancels it.
  void answer(std::optional<std::string> folder);
  /// The peer is gone: the question waiting and every later one are
  /// cancelled.
  void peer_gone();

 private:
  std::function<void(const Json&)> emit_;
  Answer waiting_;
  bool gone_ = false;
};

}  // namespace vintrel::host
