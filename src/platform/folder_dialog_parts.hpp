#pragma once
// What the folder dialogs of this folder share: how a show nobody can
// answer is cancelled, and how a typed or printed answer becomes a folder.

#include <string>

#include "platform/container.hpp"

namespace vintrel::platform {

class EventLoop;

/// Answers "cancelled" on the loop, never inside the show that gave up.
void cancel_later(EventLoop& loop, FolderDialog::Answer answer);

/// `text` as an absolute folder without a trailing slash, made lexically,
/// as a shell's cd does: "link/.." goes back to where the user was, not to
/// the parent of the link's target.
std::string absolute_folder(const std::string& text);

}  // namespace vintrel::platform
