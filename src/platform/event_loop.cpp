#include "platform/event_loop.hpp"

#include <atomic>
#include <utility>

#include "platform/asio.hpp"

namespace vintrel::platform {

namespace asio = boost::asio;

struct EventLoop::Impl {
  asio::io_context io;
  // Keeps run() going while nothing is pending: the control waits for
  // script calls and ticks, not for a last operation to finish.
  asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(io);
  // stop() may come from another thread (a host shutting the loop down).
  std::atomic<bool> stopped{false};
};

EventLoop::EventLoop() : impl_(std::make_unique<Impl>()) {}

EventLoop::~EventLoop() = default;

void EventLoop::run() {
  if (impl_->stopped) return;
  impl_->io.run();
}

bool EventLoop::run_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  using clock = std::chrono::steady_clock;
  // A timeout too long to add to now means "no timeout".
  const bool bounded =
      timeout < std::chrono::duration_cast<std::chrono::milliseconds>(clock::time_point::max() - clock::now()) / 2;
  const clock::time_point deadline = bounded ? clock::now() + timeout : clock::time_point::max();
  auto& io = impl_->io;
  // run_one, not run: this may be called from inside a handler, and every
  // handler it runs must give `done` a chance to end the wait.
  while (!done()) {
    if (impl_->stopped || io.stopped()) return false;
    if (bounded) {
      const auto now = clock::now();
      if (now >= deadline) return false;
      io.run_one_until(deadline);
    } else {
      io.run_one();
    }
  }
  return true;
}

void EventLoop::stop() {
  impl_->stopped = true;
  impl_->io.stop();
}

bool EventLoop::stopped() const { return impl_->stopped; }

void EventLoop::post(std::function<void()> fn) { asio::post(impl_->io, std::move(fn)); }

asio::io_context& asio_context(EventLoop& loop) { return loop.impl().io; }

}  // namespace vintrel::platform
