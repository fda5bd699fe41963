#pragma once
// A control on the scripted platform with a recording host: engine tests
// drive it with a manual clock, direct ticks and scripted sockets.

#include <string>

#include "control/user_control1.hpp"
#include "support/errors.hpp"
#include "support/fake_platform.hpp"
#include "support/recording_container.hpp"

namespace vintrel::testing {

/// One control with everything it talks to under the test's hand.
struct ControlHarness {
  FakePlatform platform;
  RecordingContainer host;
  control::UserControl1 control{platform, &host};

  ControlHarness() {
    host.dialog.post = [this](std::function<void()> fn) { platform.post(std::move(fn)); };
  }

  /// The transfer sockets (created first by the control).
  FakeSocketArray& winsock() { return platform.array(0); }
  /// The probe sockets (created second).
  FakeSocketArray& pings() { return platform.array(1); }
  /// One tick of the control's timer.
  void tick() { control.Timer1_Timer(); }
  /// Moves the clock on by whole seconds.
  void advance(std::int64_t seconds) { platform.clock_.advance(seconds); }

  /// Adds the URLs and starts the queue with `folder` chosen in the dialog.
  void start(const std::vector<std::string>& urls, const std::string& folder) {
    for (const auto& url : urls) control.AddFile(url);
    host.dialog.answers.push_back(folder);
    control.StartQueue();
  }
  /// Takes file 1's current attempt up to its request: a tick connects, the
  /// far side accepts, the next tick sends. Returns the request, which is
  /// then cleared from what the element has seen.
  std::string send_request() {
    tick();
    winsock().accept(1);
    tick();
    auto sent = winsock().element(1).sent;
    winsock().element(1).sent.clear();
    return sent;
  }
  /// The record of file `n`.
  queue::DownloadFile& file(std::int32_t n) { return control.DownloadFiles->Item(n); }
};

}  // namespace vintrel::testing
