#include "platform/console.hpp"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <utility>

#include "platform/asio.hpp"
#include "platform/event_loop.hpp"

namespace vintrel::platform {

namespace asio = boost::asio;

bool is_terminal(int fd) { return ::isatty(fd) == 1; }

int terminal_columns(int fd) {
  struct winsize size {};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

struct InterruptHandler::Impl : std::enable_shared_from_this<Impl> {
  Impl(EventLoop& loop, std::function<void(int)> fn)
      : signals(asio_context(loop), SIGINT, SIGTERM), handler(std::move(fn)) {}

  void arm() {
    // A completion may already be queued when the handler object goes away;
    // it must then find nothing to call.
    signals.async_wait([weak = weak_from_this()](const boost::system::error_code& error, int number) {
      const auto self = weak.lock();
      if (error || !self) return;
      // Armed again first: a handler that runs a nested wait must still see
      // a second Ctrl-C.
      self->arm();
      self->handler(number);
    });
  }

  asio::signal_set signals;
  std::function<void(int)> handler;
};

InterruptHandler::InterruptHandler(EventLoop& loop, std::function<void(int signal)> handler)
    : impl_(std::make_shared<Impl>(loop, std::move(handler))) {
  impl_->arm();
}

InterruptHandler::~InterruptHandler() {
  boost::system::error_code ignored;
  impl_->signals.cancel(ignored);
  impl_->signals.clear(ignored);
}

namespace {
std::int64_t steady_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

Stopwatch::Stopwatch() : start_ns_(steady_ns()) {}

double Stopwatch::seconds() const { return static_cast<double>(steady_ns() - start_ns_) / 1e9; }

void Stopwatch::restart() { start_ns_ = steady_ns(); }

}  // namespace vintrel::platform
