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
  /// Header lines each control adds to its requests (see host::SessionOptions).
  std::string extra_header_lines;
  /// Each control's maxRate to begin with (see host::SessionOptions).
  std::int32_t max_rate = 0;
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
/// Besides the host protocol's requests a page may send three of its own:
///   {"op":"drive","tries":n}  the channel moves the queue on by itself
///     (GotoFile of the next file) when a file is saved or stops, also
///     when the control gives it up after n attempts in a row that
///     brought no byte (n sets its maxTries; default 20), so a queue
///     finishes without its page. Each file's end comes as
///     {"event":"FileOutcome","args":[{"file","state":"done"|"failed",
///     "path","size","server","error":{"number","description"},"tries"}]}, each
///     reconnection as {"event":"FileRetry","args":[{"file","tries",
///     "fruitless","limit","error"}]}, and the server chosen for a file,
///     as soon as it is chosen, as {"event":"FileServer","args":[{"file",
///     "server"}]}.
///   {"op":"session"}  answers {"session","state","files":[outcomes],
///     "status","current","total","server","size_known","ended","resumed",
///     "missed":{"statuses","done","failed","retries"},"folder","can_open",
///     "max_rate","limit_rate"}:
///     the queue as it stands ("state" is "new", "running", "paused",
///     "cancelled" or "ended"; "server" the one chosen for the current
///     file, "size_known" whether its answer gave its length), what happened while no page was attached,
///     the folder given with -d (empty when the user is asked), whether
///     OpenIt may start programs, the control's maxRate (bytes per second,
///     0 for no cap) and the maxRate every new control starts with
///     (ControlChannelOptions::max_rate, vintrel serve --limit-rate).
///   {"op":"sessions"}  answers {"sessions":[...]}: every other control the
///     server keeps for the page's origin, oldest first, each as "session"
///     describes it up to "ended", with "attached" (a page has it now).
/// A paused or cancelled queue stays so until the page starts a file
/// again (ResumeQueue, GotoFile), also when the control's timer was still
/// locating the file the page held.
std::unique_ptr<Channel> make_control_channel(platform::Platform& platform, Outlet outlet,
                                              const ControlChannelOptions& options, std::string session = {});

}  // namespace vintrel::web
