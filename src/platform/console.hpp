#pragma once
// What a command-line host needs from its console: whether a stream is a
// terminal and how wide it is, Ctrl-C delivered as an event on the loop
// rather than ending the process, and a monotonic stopwatch for elapsed times.

#include <cstdint>
#include <functional>
#include <memory>

namespace vintrel::platform {

class EventLoop;

/// True when `fd` is open on a terminal.
bool is_terminal(int fd);

/// Columns of the terminal on `fd`; 0 when it is not a terminal or the
/// terminal does not say.
int terminal_columns(int fd);

/// While it lives, SIGINT and SIGTERM no longer end the process: each one
/// runs `handler` with the signal's number on the loop, between other
/// handlers, so it may call into a control safely.
class InterruptHandler {
 public:
  InterruptHandler(EventLoop& loop, std::function<void(int signal)> handler);
  ~InterruptHandler();
  InterruptHandler(const InterruptHandler&) = delete;
  InterruptHandler& operator=(const InterruptHandler&) = delete;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

/// Elapsed time on a clock that never goes back (unlike the local time the
/// control's Clock reports).
class Stopwatch {
 public:
  Stopwatch();
  /// Seconds since construction or the last restart().
  double seconds() const;
  void restart();

 private:
  std::int64_t start_ns_ = 0;
};

}  // namespace vintrel::platform
