#pragma once
// What the Windows loop shares with its dialogs: who is delivering
// handlers, and dispatching the thread's waiting messages.

#include <functional>

namespace vintrel::platform {
class EventLoop;
}  // namespace vintrel::platform

namespace vintrel::platform::windows {

/// Counts one more deliverer for its lifetime (the loop's window delivers
/// nothing while any is active).
class DeliveryScope {
 public:
  explicit DeliveryScope(int& depth) : depth_(depth) { ++depth_; }
  ~DeliveryScope() { --depth_; }
  DeliveryScope(const DeliveryScope&) = delete;
  DeliveryScope& operator=(const DeliveryScope&) = delete;

 private:
  int& depth_;
};

/// Dispatches every message waiting for this thread. Returns false when one
/// was WM_QUIT, which is posted again for the host's own loop to see.
bool dispatch_waiting_messages();

/// Runs `modal` (a dialog's own message loop, say) with the window of
/// `loop` delivering again, though it runs inside a handler: ticks and
/// socket events go on while the dialog waits, as they do in
/// EventLoop::run_until.
void deliver_during(EventLoop& loop, const std::function<void()>& modal);

}  // namespace vintrel::platform::windows
