#pragma once
// A control on the real platform (Asio loop, real sockets, loopback only)
// with a recording host, its timer ticking fast so tests do not wait a
// second per step.

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>

#include "control/user_control1.hpp"
#include "platform/event_loop.hpp"
#include "platform/platform.hpp"
#include "platform/resolver.hpp"
#include "support/recording_container.hpp"

namespace vintrel::testing {

/// A live control; everything runs on the test's thread inside run_until.
struct LiveControl {
  platform::EventLoop loop;
  // Only addresses given literally resolve: no test sends a DNS query.
  platform::FixedResolver resolver{[this](std::function<void()> fn) { loop.post(std::move(fn)); }};
  platform::AsioPlatform platform;
  RecordingContainer host;
  control::UserControl1 control{platform, &host};

  explicit LiveControl(platform::SocketTimeouts timeouts = {}, std::int32_t tick_ms = 10)
      : platform(loop, &resolver, timeouts) {
    control.Timer1->set_interval(tick_ms);
  }
  /// The same with secure connections checked as `tls` says.
  LiveControl(platform::SocketTimeouts timeouts, platform::TlsOptions tls, std::int32_t tick_ms = 10)
      : platform(loop, &resolver, timeouts, std::move(tls)) {
    control.Timer1->set_interval(tick_ms);
  }

  /// Adds the URLs and starts the queue into `folder`.
  void start(const std::vector<std::string>& urls, const std::string& folder) {
    for (const auto& url : urls) control.AddFile(url);
    host.dialog.answers.push_back(folder);
    control.StartQueue();
  }
  /// True once the host saw `event` (e.g. "OnStatusChange:File Not Found").
  bool saw(const std::string& event) const {
    return std::find(host.events.begin(), host.events.end(), event) != host.events.end();
  }
  /// True once a file completed or was stopped.
  bool finished() const {
    return std::any_of(host.events.begin(), host.events.end(), [](const std::string& e) {
      return e.rfind("OnFileComplete:", 0) == 0 || e == "OnStatusChange:File Not Found";
    });
  }
  /// Runs the loop until the current file finished; false on time-out.
  bool run_until_finished(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return loop.run_until([this] { return finished(); }, timeout);
  }
};

}  // namespace vintrel::testing
