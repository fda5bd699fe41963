#include "platform/input_reader.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/asio.hpp"

namespace vintrel::platform {

namespace asio = boost::asio;

struct InputReader::Impl {
  explicit Impl(asio::io_context& io) : input(io) {}

  asio::posix::stream_descriptor input;
  bool usable = false;
  bool waiting = false;
  Ready ready;
};

InputReader::InputReader(EventLoop& loop, int fd) : impl_(std::make_shared<Impl>(asio_context(loop))) {
  // Our own duplicate, closed with us: the owner's descriptor (standard
  // input, usually) stays open.
  const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return;
  boost::system::error_code error;
  impl_->input.assign(own, error);
  if (error) {
    ::close(own);
    return;
  }
  // Asio switches a descriptor to non-blocking before its first wait, and
  // that flag belongs to the open file, shared with the owner: standard
  // input left non-blocking breaks the host's own reads, and the shell's
  // after we exit. Asio is told the switch is made, then it is undone; our
  // reads go non-blocking one at a time instead.
  const int flags = ::fcntl(own, F_GETFL);
  impl_->input.native_non_blocking(true, error);
  if (flags >= 0) ::fcntl(own, F_SETFL, flags);
  impl_->usable = !error;
}

InputReader::~InputReader() = default;

bool InputReader::usable() const { return impl_->usable; }

InputReader::Read InputReader::read(std::string& into, std::size_t most) {
  const int fd = impl_->input.native_handle();
  const std::size_t had = into.size();
  into.resize(had + most);
  while (true) {
    const int flags = ::fcntl(fd, F_GETFL);
    // Non-blocking only for this read: the open file is shared with the
    // owner's descriptor.
    if (flags >= 0 && !(flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const ssize_t n = ::read(fd, into.data() + had, most);
    const int read_error = errno;
    if (flags >= 0 && !(flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, flags);
    if (n > 0) {
      into.resize(had + static_cast<std::size_t>(n));
      return Read::data;
    }
    if (n < 0 && read_error == EINTR) continue;
    into.resize(had);
    if (n < 0 && (read_error == EAGAIN || read_error == EWOULDBLOCK)) return Read::later;
    return Read::ended;
  }
}

void InputReader::wait(Ready ready) {
  Impl& impl = *impl_;
  impl.ready = std::move(ready);
  if (impl.waiting) return;
  impl.waiting = true;
  std::weak_ptr<Impl> weak = impl_;
  impl.input.async_wait(asio::posix::descriptor_base::wait_read, [weak](const boost::system::error_code& error) {
    // Held while `ready` runs: it may destroy the reader.
    const auto self = weak.lock();
    if (!self) return;
    self->waiting = false;
    if (error == asio::error::operation_aborted) return;
    const Ready run = std::move(self->ready);
    self->ready = nullptr;
    // epoll cannot watch a regular file, but reading one never blocks.
    if (run) run(error && error != asio::error::operation_not_supported);
  });
}

}  // namespace vintrel::platform
