#pragma once
// Standard input (or any descriptor a host owns) read through the loop
// without ever blocking it and without changing the descriptor its owner
// uses: the terminal prompt and the line reader both read this way.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace vintrel::platform {

class EventLoop;

/// Reads its own duplicate of a descriptor. The open file stays blocking
/// for everyone else (the host's own reads, the shell after we exit): each
/// read is made non-blocking for its length only.
class InputReader {
 public:
  /// What one read came to.
  enum class Read {
    data,   // bytes were appended
    later,  // nothing there now: wait() for more
    ended,  // end of input, or a read error
  };
  /// Called once the input can be read; `ended` when waiting failed, which
  /// ends the input as a read error would.
  using Ready = std::function<void(bool ended)>;

  /// Duplicates `fd`, which stays open and usable by its owner.
  InputReader(EventLoop& loop, int fd);
  ~InputReader();
  InputReader(const InputReader&) = delete;
  InputReader& operator=(const InputReader&) = delete;

  /// False when the descriptor could not be taken: nothing can be read.
  bool usable() const;
  /// Appends what one read brings, at most `most` bytes, to `into`;
  /// interrupted reads are made again.
  Read read(std::string& into, std::size_t most);
  /// Runs `ready` on the loop, never inside this call, once the input can
  /// be read. A wait already pending is not doubled: it runs this `ready`
  /// instead. Nothing runs once the reader is destroyed.
  void wait(Ready ready);

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace vintrel::platform
