#pragma once
// Lines from a descriptor (standard input, usually) delivered on the loop,
// for hosts that take one request a line.

#include <functional>
#include <memory>
#include <string>

namespace vintrel::platform {

class EventLoop;

/// Reads lines from its own duplicate of a descriptor and hands each to a
/// handler on the loop. The owner's descriptor stays open and blocking, so
/// others (a terminal prompt, the shell after we exit) still use it normally.
///
/// Every line runs in a handler of its own, and the next one is queued
/// before it runs: a handler that keeps the loop going while it waits (the
/// control's folder dialog) gets the following lines delivered inside that
/// wait, which is how an answer to that dialog can arrive at all.
class LineReader {
 public:
  /// A line without its "\n" (and without a "\r" before it).
  using LineHandler = std::function<void(std::string line)>;
  /// End of input (or a read error): no line follows.
  using EndHandler = std::function<void()>;

  LineReader(EventLoop& loop, int fd, LineHandler on_line, EndHandler on_end);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  /// Starts reading; nothing is delivered before.
  void start();
  /// Delivers nothing more, not even the end; may be called from a handler.
  void stop();

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace vintrel::platform
