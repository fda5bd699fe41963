#pragma once
// The control's thread: one loop that delivers every event of every layer,
// one at a time, never inside another handler.

#include <chrono>
#include <functional>
#include <memory>

namespace vintrel::platform {

/// One event loop run on one thread: the control's thread.
class EventLoop {
 public:
  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  /// Runs until stop() or until nothing is left to do.
  void run();
  /// Runs handlers until `done` is true, the loop is stopped, or `timeout`
  /// passes; may be called from inside a handler (the folder dialog waits
  /// for its answer this way while ticks and socket events go on).
  /// Returns whether `done` became true.
  bool run_until(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds::max());
  /// Makes run() and run_until() return.
  void stop();
  /// True once stop() was called.
  bool stopped() const;
  /// Queues a function to run on the loop.
  void post(std::function<void()> fn);

  struct Impl;
  /// The loop's inner state, for the platform's own services.
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace vintrel::platform
