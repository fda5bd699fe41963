// The real platform: socket element arrays, timers and the loop wait, all on
// the Asio context of one EventLoop.
//
// Every handler holds the element (or timer core) it works on by shared_ptr
// and the generation it was started for. Close, Load and a new Connect bump
// the generation, so completions of an older connection find themselves
// stale and do nothing; an array that goes away clears the owner pointer, so
// handlers still queued on the loop find no one to tell.
//
// A secure connection runs the TLS module's session over the element's own
// socket, made non-blocking: each step that wants the socket readable or
// writable waits for it on the loop and is called again. Close frees the
// session before it closes the socket, and waits still pending find
// themselves stale.

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>


#include "platform/asio.hpp"
#include "platform/asio_platform.hpp"
#include "automation/automation.hpp"
#include "platform/event_loop.hpp"
#include "platform/platform.hpp"
#include "platform/resolver.hpp"
#include "platform/tls_module.hpp"

namespace vintrel::platform {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;
using steady = std::chrono::steady_clock;

namespace {

// One reused receive buffer per element: large enough that a fast transfer
// needs few reads, small enough to keep a hundred elements cheap.
constexpr std::size_t receive_buffer_size = 256 * 1024;

}  // namespace

/// The trust settings of one platform: one module context holds the trust
/// store for every connection of every array. It is made on the first
/// secure connection, so a run that fetches only plain http never loads the
/// TLS module nor reads the store; a CA file given by the user is read at
/// once, so a bad one is told before anything is fetched.
class TlsContext {
 public:
  explicit TlsContext(TlsOptions options) : options_(std::move(options)) {
    if (!options_.ca_file.empty() && context() == nullptr) throw std::runtime_error(error_);
  }

  /// The context, or null when it cannot be made (see `error`).
  tls::Context* context() {
    if (!context_ && error_.empty()) context_ = tls::load_context(options_, error_);
    return context_.get();
  }
  const std::string& error() const { return error_; }

 private:
  TlsOptions options_;
  std::unique_ptr<tls::Context> context_;
  std::string error_;
};

namespace {

constexpr std::int32_t wrong_state = 40006;

std::int16_t socket_error_number(const error_code& ec) {
  if (ec.category() == boost::system::system_category() || ec.category() == boost::system::generic_category()) {
    return socket_error_from_errno(ec.value());
  }
  return sck_err::aborted;
}

std::int32_t clamp_count(std::size_t count) {
  constexpr auto most = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(std::min(count, most));
}

// ---------------------------------------------------------------------------

class AsioTimer final : public Timer {
 public:
  explicit AsioTimer(asio::io_context& io) : core_(std::make_shared<Core>(io)) { core_->owner = this; }

  ~AsioTimer() override {
    core_->owner = nullptr;
    ++core_->generation;
    core_->timer.cancel();
  }

  AsioTimer(const AsioTimer&) = delete;
  AsioTimer& operator=(const AsioTimer&) = delete;

  void set_interval(std::int32_t milliseconds) override {
    interval_ = milliseconds;
    restart();
  }
  std::int32_t interval() const override { return interval_; }

  void set_enabled(bool enabled) override {
    enabled_ = enabled;
    restart();
  }
  bool enabled() const override { return enabled_; }

 private:
  struct Core {
    explicit Core(asio::io_context& io) : timer(io) {}
    asio::steady_timer timer;
    AsioTimer* owner = nullptr;
    // A tick already queued when the timer was stopped or changed must not
    // run: cancel() cannot recall a completion that is already queued.
    std::uint64_t generation = 0;
  };

  std::chrono::milliseconds period() const { return std::chrono::milliseconds(interval_); }

  void restart() {
    ++core_->generation;
    core_->timer.cancel();
    // An interval of zero means no ticks, enabled or not.
    if (!enabled_ || interval_ <= 0) return;
    arm(steady::now() + period());
  }

  void arm(steady::time_point when) {
    core_->timer.expires_at(when);
    core_->timer.async_wait([core = core_, generation = core_->generation](const error_code& ec) {
      if (ec || core->owner == nullptr || core->generation != generation) return;
      core->owner->tick(core);
    });
  }

  void tick(std::shared_ptr<Core> core) {
    const std::uint64_t generation = core->generation;
    const steady::time_point due = core->timer.expiry();
    fire();
    // The handler may have stopped, changed or destroyed this timer.
    if (core->owner == nullptr || core->generation != generation) return;
    // Keep the rhythm of the interval; ticks missed by a slow handler are
    // dropped, not caught up in a burst.
    steady::time_point next = due + period();
    const steady::time_point now = steady::now();
    if (next <= now) next = now + period();
    arm(next);
  }

  std::shared_ptr<Core> core_;
  std::int32_t interval_ = 0;
  bool enabled_ = false;
};

// ---------------------------------------------------------------------------

class AsioSocketArray final : public SocketArray {
 public:
  AsioSocketArray(asio::io_context& io, Resolver& resolver, SocketTimeouts timeouts, std::shared_ptr<TlsContext> tls)
      : io_(io), resolver_(resolver), timeouts_(timeouts), tls_(std::move(tls)) {}

  ~AsioSocketArray() override {
    for (auto& [index, el] : elements_) {
      stop_io(*el);
      el->owner = nullptr;
    }
  }

  AsioSocketArray(const AsioSocketArray&) = delete;
  AsioSocketArray& operator=(const AsioSocketArray&) = delete;

  void Load(std::int32_t index) override {
    // Events carry the index as a 16-bit integer.
    if (index < 0 || index > std::numeric_limits<std::int16_t>::max()) automation::raise(automation::err::invalid_call);
    auto it = elements_.find(index);
    if (it != elements_.end()) {
      close_element(*it->second);
      return;
    }
    auto el = std::make_shared<Element>(io_);
    el->owner = this;
    el->index = static_cast<std::int16_t>(index);
    elements_.emplace(index, std::move(el));
  }

  bool IsLoaded(std::int32_t index) const override { return elements_.count(index) != 0; }

  std::int16_t State(std::int32_t index) const override { return element(index).state; }

  void Close(std::int32_t index) override { close_element(element(index)); }

  using SocketArray::Connect;
  void Connect(std::int32_t index, const std::string& host, std::int32_t port, bool secure) override {
    std::shared_ptr<Element> el = shared(index);
    stop_io(*el);
    clear_received(*el);
    el->state = sck::resolving;
    el->secure = secure;
    // A URL's IPv6 literal comes in brackets; the certificate names it bare.
    el->host = host.size() > 2 && host.front() == '[' && host.back() == ']' ? host.substr(1, host.size() - 2) : host;
    const std::uint64_t gen = el->generation;

    if (timeouts_.connect.count() > 0) {
      // Covers resolution, connection and the secure handshake together.
      el->connect_timer.expires_after(timeouts_.connect);
      el->connect_timer.async_wait([el, gen](const error_code& ec) {
        if (ec || !current(*el, gen)) return;
        if (el->state != sck::resolving && el->state != sck::connecting) return;
        el->owner->fail(*el, sck_err::timed_out);
      });
    }

    if (port < 1 || port > 65535) {
      post_failure(el, gen, 10049);
      return;
    }
    el->port = static_cast<std::uint16_t>(port);

    // A resolver that answers before resolve() returns would put the answer
    // inside Connect; such an answer is sent round the loop first.
    el->initiating = true;
    resolver_.resolve(host, [el, gen](std::int16_t error, std::vector<std::string> addresses) {
      if (!current(*el, gen)) return;
      if (el->initiating) {
        asio::post(el->socket.get_executor(), [el, gen, error, addresses = std::move(addresses)]() mutable {
          if (current(*el, gen)) el->owner->resolved(el, gen, error, std::move(addresses));
        });
        return;
      }
      el->owner->resolved(el, gen, error, std::move(addresses));
    });
    el->initiating = false;
  }

  void SendData(std::int32_t index, std::string_view data) override {
    std::shared_ptr<Element> el = shared(index);
    const bool on_the_way = el->state == sck::resolving || el->state == sck::connecting;
    if (!on_the_way && el->state != sck::connected) {
      automation::raise(wrong_state, "Winsock", socket_error_text(wrong_state));
    }
    if (data.empty()) return;
    el->pending_writes.append(data);
    // Data given before the connection is up goes out once it is.
    if (on_the_way) return;
    note_sent(el);
    if (!el->writing) start_write(el, el->generation);
  }

  std::span<const std::uint8_t> GetData(std::int32_t index) override {
    std::shared_ptr<Element> el = shared(index);
    std::span<const std::uint8_t> bytes;
    if (el->backlog.empty()) {
      // The common case: the DataArrival handler takes what was just read,
      // straight out of the receive buffer.
      bytes = {el->buffer.get(), el->fresh};
    } else {
      el->backlog.insert(el->backlog.end(), el->buffer.get(), el->buffer.get() + el->fresh);
      el->handed.swap(el->backlog);
      el->backlog.clear();
      bytes = el->handed;
    }
    el->fresh = 0;
    if (el->peer_ended && el->state == sck::connected) {
      // The last bytes before the peer's end are taken: now the end shows.
      el->state = sck::closing;
      const std::uint64_t gen = el->generation;
      asio::post(io_, [el, gen] {
        if (current(*el, gen) && el->state == sck::closing) el->owner->notify_close(*el);
      });
    }
    return bytes;
  }

  std::int32_t BytesReceived(std::int32_t index) const override {
    const Element& el = element(index);
    return clamp_count(el.backlog.size() + el.fresh);
  }

 private:
  struct Element {
    explicit Element(asio::io_context& io) : socket(io), connect_timer(io), idle_timer(io) {}

    AsioSocketArray* owner = nullptr;
    std::int16_t index = 0;
    std::int16_t state = sck::closed;
    std::uint64_t generation = 0;

    tcp::socket socket;
    asio::steady_timer connect_timer;
    asio::steady_timer idle_timer;
    bool initiating = false;

    std::uint16_t port = 0;
    bool secure = false;
    std::string host;  // the name a secure peer's certificate must be for
    std::unique_ptr<tls::Session> tls;  // the secure layer over `socket`'s connection
    std::vector<tcp::endpoint> endpoints;
    std::size_t next_endpoint = 0;

    std::string pending_writes;  // queued behind the write in flight
    bool writing = false;

    bool sent = false;  // the idle limit applies only once data went out
    bool idle_armed = false;
    steady::time_point last_activity;

    // What arrives is read into `buffer`; `fresh` bytes of it are on offer
    // while DataArrival runs. Bytes the handler leaves go to `backlog`;
    // `handed` keeps a GetData answer alive that came from the backlog.
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t fresh = 0;
    std::vector<std::uint8_t> backlog;
    std::vector<std::uint8_t> handed;
    bool peer_ended = false;  // the end is seen but bytes before it untaken
  };

  static bool current(const Element& el, std::uint64_t gen) { return el.owner != nullptr && el.generation == gen; }

  Element& element(std::int32_t index) const {
    auto it = elements_.find(index);
    if (it == elements_.end()) automation::raise(automation::err::no_element);
    return *it->second;
  }

  std::shared_ptr<Element> shared(std::int32_t index) const {
    auto it = elements_.find(index);
    if (it == elements_.end()) automation::raise(automation::err::no_element);
    return it->second;
  }

  // Ends whatever the element's connection is doing; later completions of it
  // are stale. What has arrived is kept.
  static void stop_io(Element& el) {
    ++el.generation;
    // No close_notify exchange: a closed element is closed now. The session
    // goes before the descriptor it runs over.
    el.tls.reset();
    error_code ignored;
    el.socket.close(ignored);
    el.connect_timer.cancel();
    el.idle_timer.cancel();
    el.initiating = false;
    el.endpoints.clear();
    el.next_endpoint = 0;
    el.pending_writes.clear();
    el.writing = false;
    el.sent = false;
    el.idle_armed = false;
    el.peer_ended = false;
  }

  static void clear_received(Element& el) {
    // `handed` stays: a view GetData gave out lives until control returns
    // to the loop, even across a Close in the same handler.
    el.fresh = 0;
    el.backlog.clear();
  }

  static void close_element(Element& el) {
    stop_io(el);
    clear_received(el);
    el.state = sck::closed;
    // A queue of a hundred files must not keep a hundred receive buffers.
    // The buffer goes on the next loop turn: a view GetData gave out in
    // this handler may still point into it.
    if (el.buffer) {
      asio::post(el.socket.get_executor(), [retired = std::shared_ptr<std::uint8_t[]>(std::move(el.buffer))] {});
    }
  }

  void post_failure(const std::shared_ptr<Element>& el, std::uint64_t gen, std::int16_t number) {
    asio::post(io_, [el, gen, number] {
      if (current(*el, gen)) el->owner->fail(*el, number);
    });
  }

  // `description` says more than the number's usual text (what a secure
  // handshake found wrong); empty gives the usual text.
  void fail(Element& el, std::int16_t number, std::string description = {}) {
    stop_io(el);
    el.state = sck::error;
    SocketError error;
    error.Number = number;
    error.Description = description.empty() ? socket_error_text(number) : std::move(description);
    error.Scode = number;
    if (SocketEvents* sink = events()) sink->on_error(el.index, error);
  }

  void notify_close(Element& el) {
    if (SocketEvents* sink = events()) sink->on_close(el.index);
  }

  void resolved(const std::shared_ptr<Element>& el, std::uint64_t gen, std::int16_t error,
                std::vector<std::string> addresses) {
    if (error != 0) {
      fail(*el, error);
      return;
    }
    for (const std::string& text : addresses) {
      error_code ec;
      const asio::ip::address address = asio::ip::make_address(text, ec);
      if (!ec) el->endpoints.emplace_back(address, el->port);
    }
    if (el->endpoints.empty()) {
      fail(*el, sck_err::host_not_found);
      return;
    }
    el->state = sck::connecting;
    connect_next(el, gen);
  }

  void connect_next(const std::shared_ptr<Element>& el, std::uint64_t gen) {
    error_code ignored;
    el->socket.close(ignored);
    const tcp::endpoint endpoint = el->endpoints[el->next_endpoint++];
    el->socket.async_connect(endpoint, [el, gen](const error_code& ec) {
      if (current(*el, gen)) el->owner->connected(el, gen, ec);
    });
  }

  void connected(const std::shared_ptr<Element>& el, std::uint64_t gen, const error_code& ec) {
    if (ec) {
      // The next address may answer where this one did not.
      if (el->next_endpoint < el->endpoints.size()) {
        connect_next(el, gen);
      } else {
        fail(*el, socket_error_number(ec));
      }
      return;
    }
    if (el->secure) {
      start_handshake(el, gen);
      return;
    }
    go_live(el, gen);
  }

  // --- the secure layer ----------------------------------------------------

  void start_handshake(const std::shared_ptr<Element>& el, std::uint64_t gen) {
    tls::Context* context = tls_->context();
    error_code ec;
    el->socket.non_blocking(true, ec);
    if (context == nullptr || ec) {
      fail(*el, tls_err::channel_error, context == nullptr ? tls_->error() : ec.message());
      return;
    }
    el->tls = context->open(el->socket.native_handle(), el->host);
    if (!el->tls) {
      fail(*el, tls_err::channel_error, "TLS handshake failed: no session (" + el->host + ")");
      return;
    }
    handshake_step(el, gen);
  }

  void handshake_step(const std::shared_ptr<Element>& el, std::uint64_t gen) {
    const tls::Outcome step = el->tls->handshake();
    switch (step.kind) {
      case tls::Outcome::Kind::done:
        go_live(el, gen);
        return;
      case tls::Outcome::Kind::want_read:
      case tls::Outcome::Kind::want_write:
        await(el, gen, step.kind, &AsioSocketArray::handshake_step);
        return;
      default:
        fail_secure(*el, step);
        return;
    }
  }

  // Calls `then` once the socket is ready as `want` asks; a wait that fails
  // fails the element.
  void await(const std::shared_ptr<Element>& el, std::uint64_t gen, tls::Outcome::Kind want,
             void (AsioSocketArray::*then)(const std::shared_ptr<Element>&, std::uint64_t)) {
    const auto wait = want == tls::Outcome::Kind::want_write ? tcp::socket::wait_write : tcp::socket::wait_read;
    el->socket.async_wait(wait, [el, gen, then](const error_code& ec) {
      if (!current(*el, gen)) return;
      if (ec) {
        el->owner->fail(*el, socket_error_number(ec));
        return;
      }
      (el->owner->*then)(el, gen);
    });
  }

  void fail_secure(Element& el, const tls::Outcome& step) {
    if (step.system_error != 0) {
      fail(el, socket_error_from_errno(step.system_error));
    } else {
      fail(el, step.number, step.description);
    }
  }

  // Decrypts what is on hand into the receive buffer, and goes on while more
  // is: a fast transfer fills the buffer in one event, and stopping as soon
  // as nothing is waiting never holds back the bytes of a slow one.
  void read_secure(const std::shared_ptr<Element>& el, std::uint64_t gen) {
    std::size_t total = 0;
    tls::Outcome step;
    while (total < receive_buffer_size) {
      step = el->tls->read(el->buffer.get() + total, receive_buffer_size - total);
      if (step.kind != tls::Outcome::Kind::done) break;
      total += step.count;
    }
    // Bytes that came with the end (or an error) are delivered first.
    if (total > 0 && !deliver(el, gen, total)) return;
    switch (step.kind) {
      case tls::Outcome::Kind::done:  // the buffer is full; more may wait
        start_read(el, gen);
        return;
      case tls::Outcome::Kind::want_read:
      case tls::Outcome::Kind::want_write:
        await(el, gen, step.kind, &AsioSocketArray::read_secure);
        return;
      case tls::Outcome::Kind::end:
        peer_end(*el);
        return;
      case tls::Outcome::Kind::failed:
        fail_secure(*el, step);
        return;
    }
  }

  // Writes `chunk` from `offset` on; the end of the write, good or bad, is
  // told from the loop, never inside the SendData that started it.
  void write_secure(const std::shared_ptr<Element>& el, std::uint64_t gen, std::shared_ptr<std::string> chunk,
                    std::size_t offset) {
    tls::Outcome step;
    while (offset < chunk->size()) {
      step = el->tls->write(reinterpret_cast<const std::uint8_t*>(chunk->data()) + offset, chunk->size() - offset);
      if (step.kind != tls::Outcome::Kind::done) break;
      offset += step.count;
    }
    if (offset < chunk->size() &&
        (step.kind == tls::Outcome::Kind::want_read || step.kind == tls::Outcome::Kind::want_write)) {
      const auto wait = step.kind == tls::Outcome::Kind::want_write ? tcp::socket::wait_write : tcp::socket::wait_read;
      el->socket.async_wait(wait, [el, gen, chunk, offset](const error_code& ec) {
        if (!current(*el, gen)) return;
        if (ec) {
          el->owner->write_done(el, gen, socket_error_number(ec));
          return;
        }
        el->owner->write_secure(el, gen, chunk, offset);
      });
      return;
    }
    std::int16_t number = 0;
    if (offset < chunk->size()) {
      number = step.system_error != 0 ? socket_error_from_errno(step.system_error)
               : step.number != 0     ? step.number
                                      : sck_err::aborted;
    }
    asio::post(io_, [el, gen, number] {
      if (current(*el, gen)) el->owner->write_done(el, gen, number);
    });
  }

  // The connection is up, secure or not: what waited for it goes out.
  void go_live(const std::shared_ptr<Element>& el, std::uint64_t gen) {
    el->connect_timer.cancel();
    el->state = sck::connected;
    if (!el->buffer) el->buffer = std::make_unique_for_overwrite<std::uint8_t[]>(receive_buffer_size);
    start_read(el, gen);
    if (!el->pending_writes.empty()) {
      note_sent(el);
      start_write(el, gen);
    }
    if (SocketEvents* sink = events()) sink->on_connect(el->index);
  }

  // --- receiving -----------------------------------------------------------

  void start_read(const std::shared_ptr<Element>& el, std::uint64_t gen) {
    if (el->tls) {
      // Round the loop first: what the session already holds must not be
      // delivered inside the handler that asked for more.
      asio::post(io_, [el, gen] {
        if (current(*el, gen)) el->owner->read_secure(el, gen);
      });
      return;
    }
    el->socket.async_read_some(asio::buffer(el->buffer.get(), receive_buffer_size),
                               [el, gen](const error_code& ec, std::size_t count) {
                                 if (current(*el, gen)) el->owner->read_done(el, gen, ec, count);
                               });
  }

  void read_done(const std::shared_ptr<Element>& el, std::uint64_t gen, const error_code& ec, std::size_t count) {
    if (count > 0 && !deliver(el, gen, count)) return;
    if (ec == asio::error::eof) {
      peer_end(*el);
      return;
    }
    if (ec) {
      fail(*el, socket_error_number(ec));
      return;
    }
    // Only now may the buffer be read into again: the handler has finished
    // with the view GetData gave it.
    start_read(el, gen);
  }

  // Offers the `count` bytes just read to the DataArrival handler; what it
  // leaves waits in the backlog. False when the handler closed or
  // reconnected the element, or destroyed the array: then this read is over.
  bool deliver(const std::shared_ptr<Element>& el, std::uint64_t gen, std::size_t count) {
    if (el->sent) el->last_activity = steady::now();
    el->fresh = count;
    if (SocketEvents* sink = events()) {
      sink->on_data_arrival(el->index, clamp_count(el->backlog.size() + el->fresh));
    }
    if (!current(*el, gen)) return false;
    if (el->fresh > 0) {
      el->backlog.insert(el->backlog.end(), el->buffer.get(), el->buffer.get() + el->fresh);
      el->fresh = 0;
    }
    return true;
  }

  void peer_end(Element& el) {
    el.idle_timer.cancel();
    el.idle_armed = false;
    if (!el.backlog.empty()) {
      // Close waits until the bytes before it are taken (see GetData).
      el.peer_ended = true;
      return;
    }
    el.state = sck::closing;
    notify_close(el);
  }

  // --- sending -------------------------------------------------------------

  void start_write(const std::shared_ptr<Element>& el, std::uint64_t gen) {
    // Everything queued goes out as one write; the handler owns the bytes,
    // so a Close that drops the queue cannot pull them from under Asio.
    auto chunk = std::make_shared<std::string>();
    chunk->swap(el->pending_writes);
    el->writing = true;
    if (el->tls) {
      write_secure(el, gen, std::move(chunk), 0);
      return;
    }
    asio::async_write(el->socket, asio::buffer(*chunk), [el, gen, chunk](const error_code& ec, std::size_t) {
      if (current(*el, gen)) el->owner->write_done(el, gen, ec ? socket_error_number(ec) : std::int16_t{0});
    });
  }

  // `failure` is the socket error number that ended the write, 0 if none.
  void write_done(const std::shared_ptr<Element>& el, std::uint64_t gen, std::int16_t failure) {
    el->writing = false;
    if (failure != 0) {
      fail(*el, failure);
      return;
    }
    if (!el->pending_writes.empty()) start_write(el, gen);
  }

  // --- idle limit ----------------------------------------------------------

  // Arrivals only stamp the time; the one idle wait checks the stamp when it
  // expires and waits again for the rest, so a busy transfer costs no timer
  // work per read.
  void note_sent(const std::shared_ptr<Element>& el) {
    el->sent = true;
    el->last_activity = steady::now();
    if (el->idle_armed || timeouts_.idle.count() <= 0) return;
    el->idle_armed = true;
    wait_idle(el, el->generation, el->last_activity + timeouts_.idle);
  }

  void wait_idle(const std::shared_ptr<Element>& el, std::uint64_t gen, steady::time_point when) {
    el->idle_timer.expires_at(when);
    el->idle_timer.async_wait([el, gen](const error_code& ec) {
      if (ec || !current(*el, gen) || !el->idle_armed) return;
      el->owner->idle_check(el, gen);
    });
  }

  void idle_check(const std::shared_ptr<Element>& el, std::uint64_t gen) {
    if (el->state != sck::connected || el->peer_ended) return;
    const steady::time_point due = el->last_activity + timeouts_.idle;
    if (steady::now() >= due) {
      fail(*el, sck_err::timed_out);
    } else {
      wait_idle(el, gen, due);
    }
  }

  asio::io_context& io_;
  Resolver& resolver_;
  SocketTimeouts timeouts_;
  std::shared_ptr<TlsContext> tls_;
  std::map<std::int32_t, std::shared_ptr<Element>> elements_;
};

}  // namespace

// ---------------------------------------------------------------------------

AsioPlatform::AsioPlatform(EventLoop& loop, Resolver* resolver, SocketTimeouts timeouts, TlsOptions tls)
    : loop_(loop),
      own_resolver_(resolver != nullptr ? nullptr : make_system_resolver(loop)),
      resolver_(resolver != nullptr ? resolver : own_resolver_.get()),
      timeouts_(timeouts),
      tls_(std::make_shared<TlsContext>(tls)),
      offers_tls_(tls::module_available()) {}

AsioPlatform::~AsioPlatform() = default;

std::unique_ptr<SocketArray> AsioPlatform::make_socket_array() {
  return std::make_unique<AsioSocketArray>(asio_context(loop_), *resolver_, timeouts_, tls_);
}

std::unique_ptr<Timer> AsioPlatform::make_timer() { return std::make_unique<AsioTimer>(asio_context(loop_)); }

bool AsioPlatform::wait_until(const std::function<bool()>& done) { return loop_.run_until(done); }

void AsioPlatform::post(std::function<void()> fn) { loop_.post(std::move(fn)); }

}  // namespace vintrel::platform
