#include "platform/line_reader.hpp"

#include "platform/event_loop.hpp"
#include "platform/input_reader.hpp"

namespace vintrel::platform {

struct LineReader::Impl : std::enable_shared_from_this<LineReader::Impl> {
  Impl(EventLoop& event_loop, int fd, LineHandler line, EndHandler end)
      : loop(event_loop), input(event_loop, fd), on_line(std::move(line)), on_end(std::move(end)) {}

  EventLoop& loop;
  InputReader input;
  LineHandler on_line;
  EndHandler on_end;
  bool started = false;
  bool stopped = false;
  bool scheduled = false;
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
    switch (input.read(buffered, 16384)) {
      case InputReader::Read::data:
        schedule();
        return;
      case InputReader::Read::later:
        wait_for_input();
        return;
      case InputReader::Read::ended:
        at_end = true;
        schedule();
        return;
    }
  }

  void wait_for_input() {
    std::weak_ptr<Impl> weak = weak_from_this();
    input.wait([weak](bool ended) {
      auto self = weak.lock();
      if (!self || self->stopped) return;
      if (ended) self->at_end = true;
      self->schedule();
    });
  }
};

LineReader::LineReader(EventLoop& loop, int fd, LineHandler on_line, EndHandler on_end)
    : impl_(std::make_shared<Impl>(loop, fd, std::move(on_line), std::move(on_end))) {}

LineReader::~LineReader() { impl_->stopped = true; }

void LineReader::start() {
  Impl& impl = *impl_;
  if (impl.started || impl.stopped) return;
  impl.started = true;
  // A descriptor we cannot read is an input that has ended.
  if (!impl.input.usable()) impl.at_end = true;
  impl.schedule();
}

void LineReader::stop() { impl_->stopped = true; }

}  // namespace vintrel::platform
