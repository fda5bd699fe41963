#pragma once
// A connection's control: the scripting protocol of `vintrel host`, one
// message per WebSocket text frame, with the rules a web page is held to.

#include <cstdint>
#include <memory>
#include <string>

#include "web/server.hpp"

namespace vintrel::platform {
class Platform;
class FolderDialog;
class EventLoop;
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
  /// The loop the control runs on: the queue is moved on from it, after the
  /// event that ended a file, never inside it. Null moves on at once.
  platform::EventLoop* loop = nullptr;
  /// The folder given with -d, which the page may show; empty when the
  /// user is asked.
  std::string folder;
};

/// A new control on `platform` for one connection, known to its page as
/// `session`. A page may do anything script may, except choosing where
/// files go: it cannot answer the folder dialog, nor write the chosen
/// folder (sBuffer) or a record's local file name (localfilename), which
/// the control would otherwise write to.
///
/// Besides the host protocol's requests a page may send two of its own:
///   {"op":"drive","tries":n}  the channel moves the queue on by itself
///     (GotoFile of the next file) when a file is saved or stops, also
///     when the control gives it up after n attempts in a row that
///     brought no byte (n sets its maxTries; default 20), so a queue
///     finishes without its page. Each file's end comes as
///     {"event":"FileOutcome","args":[{"file","state":"done"|"failed",
///     "path","size","server","error":{"number","description"},"tries"}]}, each
///     reconnection as {"event":"FileRetry","args":[{"file","tries",
///     "fruitless","limit","error"}]}.
///   {"op":"session"}  answers {"session","resumed","files":[outcomes],
///     "missed":{"statuses","done","failed","retries"},"status","current",
///     "total","ended","folder","can_open"}: the queue as it stands, what
///     happened while no page was attached, the folder given with -d (empty
///     when the user is asked) and whether OpenIt may start programs.
std::unique_ptr<Channel> make_control_channel(platform::Platform& platform, Outlet outlet,
                                              const ControlChannelOptions& options, std::string session = {});

}  // namespace vintrel::web
