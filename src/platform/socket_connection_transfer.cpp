// A live connection: what arrives is offered to the DataArrival handler
// straight out of the receive buffer, what it leaves waits in the backlog,
// and the peer's end shows only once every byte before it is taken. Once
// the backlog holds a read's worth (a receive buffer, unless the handler
// asked for less) the socket is not read until it is taken: a handler that
// takes its bytes later (a rate cap) slows the peer through TCP's window
// instead of having them pile up here. Sends queue behind the write in
// flight; the idle limit watches a connection that has sent something.

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/asio_platform.hpp"
#include "platform/socket_connection.hpp"

namespace vintrel::platform {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

std::int32_t clamp_count(std::size_t count) {
  constexpr auto most = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(std::min(count, most));
}

}  // namespace

std::span<const std::uint8_t> SocketConnection::take() {
  std::span<const std::uint8_t> bytes;
  if (backlog_.empty()) {
    // The common case: the DataArrival handler takes what was just read,
    // straight out of the receive buffer.
    bytes = {buffer_.get(), fresh_};
  } else {
    backlog_.insert(backlog_.end(), buffer_.get(), buffer_.get() + fresh_);
    handed_.swap(backlog_);
    backlog_.clear();
    bytes = handed_;
  }
  fresh_ = 0;
  if (read_paused_) {
    // The buffer is free (what it held went to the backlog), and a read
    // never completes inside the call that starts it.
    read_paused_ = false;
    if (sent_) last_activity_ = steady::now();
    start_read(generation_);
  }
  if (peer_ended_ && state_ == sck::connected) {
    // The last bytes before the peer's end are taken: now the end shows.
    state_ = sck::closing;
    const std::uint64_t gen = generation_;
    asio::post(io_, [self = shared_from_this(), gen] {
      if (self->current(gen) && self->state_ == sck::closing) self->notify_close();
    });
  }
  return bytes;
}

std::int32_t SocketConnection::bytes_received() const { return clamp_count(backlog_.size() + fresh_); }

// --- receiving ---------------------------------------------------------------

void SocketConnection::start_read(std::uint64_t gen) {
  if (tls_) {
    // Round the loop first: what the session already holds must not be
    // delivered inside the handler that asked for more.
    asio::post(io_, [self = shared_from_this(), gen] {
      if (self->current(gen)) self->read_secure(gen);
    });
    return;
  }
  socket_.async_read_some(asio::buffer(buffer_.get(), read_size_),
                          [self = shared_from_this(), gen](const error_code& ec, std::size_t count) {
                            if (self->current(gen)) self->read_done(gen, ec, count);
                          });
}

void SocketConnection::read_done(std::uint64_t gen, const error_code& ec, std::size_t count) {
  if (count > 0 && !deliver(gen, count)) return;
  if (ec == asio::error::eof) {
    peer_end();
    return;
  }
  if (ec) {
    fail(socket_error_number(ec));
    return;
  }
  // Only now may the buffer be read into again: the handler has finished
  // with the view take() gave it.
  if (!pause_for_backlog()) start_read(gen);
}

bool SocketConnection::pause_for_backlog() {
  read_paused_ = backlog_.size() >= read_size_;
  return read_paused_;
}

// Decrypts what is on hand into the receive buffer, and goes on while more
// is: a fast transfer fills the buffer in one event, and stopping as soon as
// nothing is waiting never holds back the bytes of a slow one.
void SocketConnection::read_secure(std::uint64_t gen) {
  std::size_t total = 0;
  tls::Outcome step;
  while (total < read_size_) {
    step = tls_->read(buffer_.get() + total, read_size_ - total);
    if (step.kind != tls::Outcome::Kind::done) break;
    total += step.count;
  }
  // Bytes that came with the end (or an error) are delivered first.
  if (total > 0 && !deliver(gen, total)) return;
  switch (step.kind) {
    case tls::Outcome::Kind::done:  // the buffer is full; more may wait
      if (!pause_for_backlog()) start_read(gen);
      return;
    case tls::Outcome::Kind::want_read:
    case tls::Outcome::Kind::want_write:
      if (!pause_for_backlog()) await(gen, step.kind, [gen](SocketConnection& self) { self.read_secure(gen); });
      return;
    case tls::Outcome::Kind::end:
      peer_end();
      return;
    case tls::Outcome::Kind::failed:
      fail_secure(step);
      return;
  }
}

// Offers the `count` bytes just read to the DataArrival handler; what it
// leaves waits in the backlog. False when the handler closed or reconnected
// the element, or destroyed the array: then this read is over.
bool SocketConnection::deliver(std::uint64_t gen, std::size_t count) {
  if (sent_) last_activity_ = steady::now();
  fresh_ = count;
  if (SocketEvents* sink = events()) sink->on_data_arrival(index_, bytes_received());
  if (!current(gen)) return false;
  if (fresh_ > 0) {
    backlog_.insert(backlog_.end(), buffer_.get(), buffer_.get() + fresh_);
    fresh_ = 0;
  }
  return true;
}

void SocketConnection::peer_end() {
  idle_timer_.cancel();
  idle_armed_ = false;
  if (!backlog_.empty()) {
    // Close waits until the bytes before it are taken (see take()).
    peer_ended_ = true;
    return;
  }
  state_ = sck::closing;
  notify_close();
}

// --- sending -----------------------------------------------------------------

void SocketConnection::start_write(std::uint64_t gen) {
  // Everything queued goes out as one write; the handler owns the bytes, so
  // a Close that drops the queue cannot pull them from under Asio.
  auto chunk = std::make_shared<std::string>();
  chunk->swap(pending_writes_);
  writing_ = true;
  if (tls_) {
    write_secure(gen, chunk, 0);
    return;
  }
  asio::async_write(socket_, asio::buffer(*chunk),
                    [self = shared_from_this(), gen, chunk](const error_code& ec, std::size_t) {
                      if (self->current(gen)) self->write_done(gen, ec ? socket_error_number(ec) : std::int16_t{0});
                    });
}

// Writes `chunk` from `offset` on; the end of the write, good or bad, is
// told from the loop, never inside the SendData that started it.
void SocketConnection::write_secure(std::uint64_t gen, const std::shared_ptr<std::string>& chunk, std::size_t offset) {
  tls::Outcome step;
  while (offset < chunk->size()) {
    step = tls_->write(reinterpret_cast<const std::uint8_t*>(chunk->data()) + offset, chunk->size() - offset);
    if (step.kind != tls::Outcome::Kind::done) break;
    offset += step.count;
  }
  if (offset < chunk->size() &&
      (step.kind == tls::Outcome::Kind::want_read || step.kind == tls::Outcome::Kind::want_write)) {
    await(gen, step.kind, [gen, chunk, offset](SocketConnection& self) { self.write_secure(gen, chunk, offset); });
    return;
  }
  std::int16_t number = 0;
  if (offset < chunk->size()) {
    number = step.system_error != 0 ? socket_error_from_errno(step.system_error)
             : step.number != 0     ? step.number
                                    : sck_err::aborted;
  }
  asio::post(io_, [self = shared_from_this(), gen, number] {
    if (self->current(gen)) self->write_done(gen, number);
  });
}

// `failure` is the socket error number that ended the write, 0 if none.
void SocketConnection::write_done(std::uint64_t gen, std::int16_t failure) {
  writing_ = false;
  if (failure != 0) {
    fail(failure);
    return;
  }
  if (!pending_writes_.empty()) start_write(gen);
}

// --- idle limit --------------------------------------------------------------

// Arrivals only stamp the time; the one idle wait checks the stamp when it
// expires and waits again for the rest, so a busy transfer costs no timer
// work per read.
void SocketConnection::note_sent() {
  sent_ = true;
  last_activity_ = steady::now();
  if (idle_armed_ || settings_.timeouts.idle.count() <= 0) return;
  idle_armed_ = true;
  wait_idle(generation_, last_activity_ + settings_.timeouts.idle);
}

void SocketConnection::wait_idle(std::uint64_t gen, steady::time_point when) {
  idle_timer_.expires_at(when);
  idle_timer_.async_wait([self = shared_from_this(), gen](const error_code& ec) {
    if (ec || !self->current(gen) || !self->idle_armed_) return;
    self->idle_check(gen);
  });
}

void SocketConnection::idle_check(std::uint64_t gen) {
  if (state_ != sck::connected || peer_ended_) return;
  // Waiting on our own handler is not the peer being idle.
  if (read_paused_) last_activity_ = steady::now();
  const steady::time_point due = last_activity_ + settings_.timeouts.idle;
  if (steady::now() >= due) {
    fail(sck_err::timed_out);
  } else {
    wait_idle(gen, due);
  }
}

}  // namespace vintrel::platform
