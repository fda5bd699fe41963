#pragma once
// The scripting protocol: one control driven by JSON requests, one a line,
// answered in JSON lines with the control's events in between. It knows
// nothing of where the lines travel; `vintrel host` carries them over
// standard input and output, a web layer may carry them over WebSocket.
//
// Requests (every one may carry an "id", echoed in its answer):
//   {"op":"get",  "name"|"dispid"|"path": ...}
//   {"op":"put",  "name"|"dispid"|"path": ..., "value": v}
//   {"op":"call", "name"|"dispid"|"path": ..., "args": [...]}
//   {"op":"add_server", "file": n, "server": {"servName": ..., ...}}
//   {"op":"page", "url": ..., "cookie": ...}
//   {"op":"folder", "folder": "/dir"} or {"op":"folder", "cancel": true}
//   {"op":"save"}   {"op":"load", "bag": {"URL": ...}}   {"op":"quit"}
// Answers: {"id":..,"result":..} or {"id":..,"error":{"number":..,
// "source":..,"description":..}}. Events: {"event":"OnStatusChange",
// "args":[..]}, and {"event":"FolderDialog","title":..,"preselect":..} when
// the peer is to answer the folder dialog. The README has the whole story.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vintrel::platform {
class Platform;
class FolderDialog;
}  // namespace vintrel::platform

namespace vintrel::control {
class ControlObject;
}

namespace vintrel::host {

/// Error numbers of the protocol itself (source "Vintrel.Host"); errors of
/// the control keep their own numbers and source.
namespace protocol_error {
inline constexpr std::int32_t malformed = 1000;  // not JSON, nested too deep, or not an object
inline constexpr std::int32_t unknown_op = 1001;
inline constexpr std::int32_t bad_request = 1002;  // a field missing or of the wrong kind, a bad path
inline constexpr std::int32_t no_dialog = 1003;    // "folder" with no dialog waiting for the peer
inline constexpr std::int32_t refused = 70;        // "Permission denied": starts programs
inline constexpr std::int32_t no_folder = 76;      // "Path not found": the folder answer
inline constexpr std::int32_t internal = 51;       // "Internal error"
}  // namespace protocol_error

struct SessionOptions {
  /// Answers the control's folder dialog on this machine (the desktop
  /// chooser, a fixed folder); null lets the peer answer it.
  platform::FolderDialog* dialog = nullptr;
  /// ExecFile and OpenIt start programs on this machine: refused unless
  /// allowed, since the peer may be less trusted than the machine's user.
  bool allow_open = false;
  /// Milliseconds between the control's ticks; 0 keeps its one second.
  std::int32_t tick_interval = 0;
  /// Ticks brought forward when a file has work at once (UserControl1's
  /// eager ticks); off keeps the steady clock.
  bool eager_ticks = false;
  /// Header lines added to every request (UserControl1's extra header
  /// lines); empty adds none.
  std::string extra_header_lines;
  /// The control's maxRate to begin with (bytes per second; 0, no cap).
  std::int32_t max_rate = 0;
};

class Session {
 public:
  /// Every outgoing line (answers and events), without its newline, in order.
  using Output = std::function<void(const std::string& line)>;

  /// A new control on `platform`, which must outlive the session, as must
  /// the options' dialog.
  Session(platform::Platform& platform, Output output, SessionOptions options = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  /// Handles one request and writes its answer; the events it causes come
  /// before the answer. A request that keeps the loop running (StartQueue
  /// waiting for its folder) lets later requests be handled meanwhile, by
  /// calls of this function nested inside it. Blank lines are ignored, and
  /// so is everything after close() or "quit".
  void handle(std::string_view line);

  /// The peer is gone: a folder dialog waiting for it is cancelled and no
  /// further request is handled.
  void close();
  /// True once "quit" was answered or close() called.
  bool closed() const;
  /// True while a request is being handled, also one waiting in the loop.
  bool busy() const;
  /// True while the control's queue is at work: its current file is being
  /// located, downloaded, or waits to connect again. A queue not started,
  /// paused, cancelled or past its last file is not.
  bool transferring() const;

  /// The control, for the host that set the session up.
  control::ControlObject& control();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vintrel::host
