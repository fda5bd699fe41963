#include "platform/line_reader.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/asio.hpp"
#include "platform/event_loop.hpp"

namespace vintrel::platform {

namespace asio = boost::asio;

struct LineReader::Impl : std::enable_shared_from_this<LineReader::Impl> {
  Impl(EventLoop& event_loop, LineHandler line, EndHandler end)
      : loop(event_loop), input(asio_context(event_loop)), on_line(std::move(line)), on_end(std::move(end)) {}

  EventLoop& loop;
  asio::posix::stream_descriptor input;
  LineHandler on_line;
  EndHandler on_end;
  bool usable = false;
  bool started = false;
  bool stopped = false;
  bool scheduled = false;
  bool waiting = false;
  bool at_end = false;
  std::string buffered;

  void schedule() {
    if (scheduled || stopped) return;
    scheduled = true;
    std::weak_ptr<Impl> weak = weak_from_this();
    loop.post([weak] {
      auto self = weak.lock();
      if (!self) return;
      self->scheduled = false;
      self->step();
    });
  }

  void deliver(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Queued first: this line's handler may wait with the loop running.
    schedule();
    // Held: the handler may destroy the reader.
    auto self = shared_from_this();
    on_line(std::move(line));
  }

  void step() {
    if (stopped) return;
    const std::size_t end = buffered.find('\n');
    if (end != std::string::npos) {
      std::string line = buffered.substr(0, end);
      buffered.erase(0, end + 1);
      deliver(std::move(line));
      return;
    }
    if (at_end) {
      // A last line without its newline still counts.
      if (!buffered.empty()) {
        std::string line = std::move(buffered);
        buffered.clear();
        deliver(std::move(line));
        return;
      }
      stopped = true;
      auto self = shared_from_this();
      if (on_end) on_end();
      return;
    }
    read_more();
  }

  void read_more() {
    std::array<char, 16384> chunk{};
    const int fd = input.native_handle();
    while (true) {
      const int flags = ::fcntl(fd, F_GETFL);
      // Non-blocking only for this read: the open file is shared with the
      // owner's descriptor.
      if (flags >= 0 && !(flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
      const ssize_t n = ::read(fd, chunk.data(), chunk.size());
      const int read_error = errno;
      if (flags >= 0 && !(flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, flags);
      if (n > 0) {
        buffered.append(chunk.data(), static_cast<std::size_t>(n));
        schedule();
        return;
      }
      if (n < 0 && read_error == EINTR) continue;
      if (n < 0 && (read_error == EAGAIN || read_error == EWOULDBLOCK)) {
        wait_for_input();
        return;
      }
      at_end = true;
      schedule();
      return;
    }
  }

  void wait_for_input() {
    if (waiting) return;
    waiting = true;
    std::weak_ptr<Impl> weak = weak_from_this();
    input.async_wait(asio::posix::descriptor_base::wait_read, [weak](const boost::system::error_code& error) {
      auto self = weak.lock();
      if (!self) return;
      self->waiting = false;
      if (self->stopped || error == asio::error::operation_aborted) return;
      // epoll cannot watch a regular file, but reading one never blocks.
      if (error && error != asio::error::operation_not_supported) self->at_end = true;
      self->schedule();
    });
  }
};

LineReader::LineReader(EventLoop& loop, int fd, LineHandler on_line, EndHandler on_end)
    : impl_(std::make_shared<Impl>(loop, std::move(on_line), std::move(on_end))) {
  const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return;
  boost::system::error_code error;
  impl_->input.assign(own, error);
  if (error) {
    ::close(own);
    return;
  }
  // Asio would make the shared open file non-blocking before its first
  // wait, and that would reach the owner's descriptor too: it is told the
  // switch is made, then the switch is undone; reads go non-blocking one at
  // a time instead.
  const int flags = ::fcntl(own, F_GETFL);
  impl_->input.native_non_blocking(true, error);
  if (flags >= 0) ::fcntl(own, F_SETFL, flags);
  impl_->usable = !error;
}

LineReader::~LineReader() { impl_->stopped = true; }

void LineReader::start() {
  Impl& impl = *impl_;
  if (impl.started || impl.stopped) return;
  impl.started = true;
  // A descriptor we cannot read is an input that has ended.
  if (!impl.usable) impl.at_end = true;
  impl.schedule();
}

void LineReader::stop() { impl_->stopped = true; }

}  // namespace vintrel::platform
