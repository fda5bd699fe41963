#pragma once
// A connection's control: the scripting protocol of `vintrel host`, one
// message per WebSocket text frame, with the rules a web page is held to.

#include <cstdint>
#include <memory>

#include "web/server.hpp"

namespace vintrel::platform {
class Platform;
class FolderDialog;
}  // namespace vintrel::platform

namespace vintrel::web {

struct ControlChannelOptions {
  /// Answers every folder dialog on this machine (the user's chooser or the
  /// folder given with -d); must outlive the channels. Never the page.
  platform::FolderDialog* dialog = nullptr;
  /// Whether ExecFile and OpenIt may start programs.
  bool allow_open = false;
  /// Milliseconds between the control's ticks; 0 keeps its one second.
  std::int32_t tick_interval = 0;
  /// Whether each control runs eager ticks (see host::SessionOptions).
  bool eager_ticks = false;
};

/// A new control on `platform` for one connection. A page may do anything
/// script may, except choosing where files go: it cannot answer the folder
/// dialog, nor write the chosen folder (sBuffer) or a record's local file
/// name (localfilename), which the control would otherwise write to.
std::unique_ptr<Channel> make_control_channel(platform::Platform& platform, Outlet outlet,
                                              const ControlChannelOptions& options);

}  // namespace vintrel::web
