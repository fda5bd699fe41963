#pragma once
// `vintrel get`: a host of the control that drives it the way a page does,
// through its public methods, properties, events and records only.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "apps/url_list.hpp"
#include "platform/proxy.hpp"
#include "platform/sockets.hpp"

namespace vintrel::platform {
class EventLoop;
class FolderDialog;
class Platform;
}  // namespace vintrel::platform

namespace vintrel::apps {

struct GetOptions {
  std::vector<FileRequest> files;
  /// The folder to save into; empty to ask the user.
  std::string directory;
  std::string referer;
  std::string cookie;
  /// Lines added to every request after the control's own, each ending in
  /// CRLF (--user-agent, --header).
  std::string extra_header_lines;
  std::string title = "Choose a folder for the downloads";
  bool quiet = false;
  /// Every request and answer head on standard error (-v).
  bool verbose = false;
  /// A file already under a download's name that the control did not write
  /// is taken for a part of it (as wget -c), checked by its length.
  bool continue_foreign = false;
  /// Files fetched at once, each by a control of its own (-j).
  int jobs = 5;
  /// Bytes per second the whole run takes at most, shared equally by the
  /// files under way; 0 for no cap.
  std::int32_t max_rate = 0;
  /// Connection attempts in a row that gain no byte before a file is given up.
  int tries = 20;
  /// Milliseconds between the control's ticks.
  int tick_interval = 1000;
  /// Steps due at once (connect, request, completion) run at once instead
  /// of on the next tick.
  bool eager = true;
  /// Seconds a connection may take to come up, and may stay silent once
  /// the request is sent (no first byte, or a stalled body).
  int timeout = 60;
  /// How https servers are checked.
  platform::TlsOptions tls;
  /// The proxy, when the command line names one (else the environment's).
  platform::ProxyOptions proxy;
};

/// Downloads the files and returns the exit status: 0 when every file
/// completed, 1 when any failed (or no folder was chosen), 128 + the signal
/// number when interrupted. URLs must have been checked already.
int run_get(const GetOptions& options);

class Report;

/// The session behind run_get: the files of `options` fetched through one
/// control after another on `machine`, told to `report`; the folder comes
/// from `dialog` (`preselect` offered first). Returns the exit status.
int run_get_session(const GetOptions& options, platform::EventLoop& loop, platform::Platform& machine, Report& report,
                    std::unique_ptr<platform::FolderDialog> dialog, std::string preselect);

}  // namespace vintrel::apps
