// The real platform: socket element arrays, timers and the loop wait, all on
// the Asio context of one EventLoop.
//
// Every handler holds the element (or timer core) it works on by shared_ptr
// and the generation it was started for. Close, Load and a new Connect bump
// the generation, so completions of an older connection find themselves
// stale and do nothing; an array that goes away clears the owner pointer, so
// handlers still queued on the loop find no one to tell.
//
// A secure connection wraps the connected TCP socket in an ssl::stream of
// its own, held by shared_ptr in the element and in every pending handler:
// Close drops the element's pointer and closes the socket, and the stream
// lives on until the last aborted operation has completed.

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

#include <boost/asio/ssl.hpp>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "platform/asio.hpp"
#include "platform/asio_platform.hpp"
#include "platform/automation.hpp"
#include "platform/event_loop.hpp"
#include "platform/platform.hpp"
#include "platform/resolver.hpp"

namespace vintrel::platform {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;
using steady = std::chrono::steady_clock;
using TlsStream = asio::ssl::stream<tcp::socket>;

namespace {

// One reused receive buffer per element: large enough that a fast transfer
// needs few reads, small enough to keep a hundred elements cheap.
constexpr std::size_t receive_buffer_size = 256 * 1024;

// OpenSSL's own words for an error ("certificate verify failed", "wrong
// version number"), without the library and function decoration.
std::string openssl_reason(const error_code& ec) {
  if (ec.category() == asio::error::get_ssl_category()) {
    // The packed code may use the top bit; it must not sign-extend.
    const auto code = static_cast<unsigned long>(static_cast<unsigned int>(ec.value()));
    if (const char* reason = ERR_reason_error_string(code)) return reason;
  }
  return ec.message();
}

}  // namespace

/// The trust settings of one platform: one SSL_CTX holds the trust store
/// for every connection of every array. It is made on the first secure
/// connection, so a run that fetches only plain http never starts OpenSSL
/// nor reads the store; a CA file given by the user is read at once, so a
/// bad one is told before anything is fetched.
class TlsContext {
 public:
  explicit TlsContext(TlsOptions options) : options_(std::move(options)) {
    if (!options_.ca_file.empty()) make();
  }

  bool verify() const { return options_.verify; }

  asio::ssl::context& context() {
    if (!context_) make();
    return *context_;
  }

 private:
  void make() {
    auto made = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_client);
    made->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                      asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                      asio::ssl::context::no_tlsv1_1);
    SSL_CTX_set_min_proto_version(made->native_handle(), TLS1_2_VERSION);
    add_system_store(*made);
    if (!options_.ca_file.empty()) {
      error_code ec;
      made->load_verify_file(options_.ca_file, ec);
      if (ec) {
        throw std::runtime_error("Cannot load trusted certificates from " + options_.ca_file + ": " +
                                 openssl_reason(ec));
      }
    }
    made->set_verify_mode(verify() ? asio::ssl::verify_peer : asio::ssl::verify_none);
    context_ = std::move(made);
  }

  // OpenSSL's default paths, read the cheap way: the hashed folder is looked
  // up one issuer at a time, while the bundle file would be parsed whole (a
  // few MiB for a download that needs one authority). The bundle is read
  // when SSL_CERT_FILE names one, or when the folder holds no hashed store.
  static void add_system_store(asio::ssl::context& context) {
    X509_STORE* store = SSL_CTX_get_cert_store(context.native_handle());
    const char* dir_env = std::getenv(X509_get_default_cert_dir_env());
    const char* file_env = std::getenv(X509_get_default_cert_file_env());
    const std::string dir = dir_env != nullptr ? dir_env : X509_get_default_cert_dir();
    bool hashed = false;
    if (X509_LOOKUP* lookup = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir())) {
      hashed = X509_LOOKUP_add_dir(lookup, dir.c_str(), X509_FILETYPE_PEM) == 1 && holds_hashed_names(dir);
    }
    const std::string file = file_env != nullptr ? file_env : X509_get_default_cert_file();
    if (file_env != nullptr || !hashed) {
      // A machine without a system store still works with `ca_file` alone.
      if (X509_STORE_load_file(store, file.c_str()) != 1) ERR_clear_error();
    }
  }

  // True when one of `dirs` (a ':'-separated list) holds an entry named as
  // OpenSSL's hashed lookup names them ("1a2b3c4d.0").
  static bool holds_hashed_names(const std::string& dirs) {
    std::size_t start = 0;
    while (start <= dirs.size()) {
      const auto end = std::min(dirs.find(':', start), dirs.size());
      std::error_code ec;
      for (const auto& entry : std::filesystem::directory_iterator(dirs.substr(start, end - start), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == 10 && name[8] == '.' && name[9] == '0') return true;
      }
      start = end + 1;
    }
    return false;
  }

  TlsOptions options_;
  std::unique_ptr<asio::ssl::context> context_;
};

namespace {

// The end of the stream in its two secure forms, without close_notify
// (Asio's stream_truncated, or OpenSSL 3 noticing the EOF itself) and with
// it (eof); callers decide what an end means at that point.
bool is_end_of_stream(const error_code& ec) {
  if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated) return true;
  if (ec.category() != asio::error::get_ssl_category()) return false;
  const auto code = static_cast<unsigned long>(static_cast<unsigned int>(ec.value()));
  return ERR_GET_LIB(code) == ERR_LIB_SSL && ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
}

// A read on a secure stream yields one TLS record (16 KiB) at a time. Going
// on while more is already on hand fills the receive buffer in one event
// for a fast transfer, and stopping as soon as nothing is waiting never
// holds back bytes of a slow one.
struct WhileMoreOnHand {
  TlsStream* stream;
  std::size_t operator()(const error_code& ec, std::size_t total) const {
    if (ec) return 0;
    if (total == 0) return receive_buffer_size;
    if (SSL_pending(stream->native_handle()) > 0) return receive_buffer_size;
    error_code ignored;
    if (stream->next_layer().available(ignored) > 0) return receive_buffer_size;
    return 0;
  }
};

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
    if (index < 0 || index > std::numeric_limits<std::int16_t>::max()) raise(err::invalid_call);
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
      raise(wrong_state, "Winsock", socket_error_text(wrong_state));
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
    std::shared_ptr<TlsStream> tls;  // the secure layer over `socket`'s connection
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
    if (it == elements_.end()) raise(err::no_element);
    return *it->second;
  }

  std::shared_ptr<Element> shared(std::int32_t index) const {
    auto it = elements_.find(index);
    if (it == elements_.end()) raise(err::no_element);
    return it->second;
  }

  // Ends whatever the element's connection is doing; later completions of it
  // are stale. What has arrived is kept.
  static void stop_io(Element& el) {
    ++el.generation;
    error_code ignored;
    el.socket.close(ignored);
    if (el.tls) {
      // No close_notify exchange: a closed element is closed now.
      el.tls->next_layer().close(ignored);
      el.tls.reset();
    }
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
    // The stream takes the connection; the element's socket is left empty
    // for the next one.
    auto stream = std::make_shared<TlsStream>(std::move(el->socket), tls_->context());
    el->tls = stream;
    SSL* ssl = stream->native_handle();
    error_code not_literal;
    asio::ip::make_address(el->host, not_literal);
    // The name check goes through OpenSSL's verification, so a mismatch
    // shows in SSL_get_verify_result like any other verify failure.
    if (not_literal) {
      SSL_set_tlsext_host_name(ssl, el->host.c_str());
      SSL_set1_host(ssl, el->host.c_str());
    } else {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), el->host.c_str());
    }
    stream->async_handshake(asio::ssl::stream_base::client, [el, gen, stream](const error_code& ec) {
      if (current(*el, gen)) el->owner->handshake_done(el, gen, ec);
    });
  }

  void handshake_done(const std::shared_ptr<Element>& el, std::uint64_t gen, const error_code& ec) {
    if (!ec) {
      go_live(el, gen);
      return;
    }
    const std::string& host = el->host;
    const long verdict = tls_->verify() ? SSL_get_verify_result(el->tls->native_handle()) : X509_V_OK;
    if (verdict != X509_V_OK) {
      const std::string reason = X509_verify_cert_error_string(verdict);
      switch (verdict) {
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
          fail(*el, tls_err::name_invalid, "Certificate name mismatch: the certificate is not valid for " + host);
          return;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
          fail(*el, tls_err::date_invalid, "Certificate verify failed: " + reason + " (" + host + ")");
          return;
        default:
          fail(*el, tls_err::untrusted, "Certificate verify failed: " + reason + " (" + host + ")");
          return;
      }
    }
    // A connection that breaks mid-handshake is the network's doing and may
    // go through on another try; anything else the server will say again.
    const bool system = ec.category() == boost::system::system_category() ||
                        ec.category() == boost::system::generic_category();
    if (system) {
      fail(*el, socket_error_number(ec));
    } else if (is_end_of_stream(ec) || ec == asio::ssl::error::unspecified_system_error) {
      fail(*el, sck_err::aborted);
    } else {
      fail(*el, tls_err::channel_error, "TLS handshake failed: " + openssl_reason(ec) + " (" + host + ")");
    }
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
      auto stream = el->tls;
      asio::async_read(*stream, asio::buffer(el->buffer.get(), receive_buffer_size), WhileMoreOnHand{stream.get()},
                       [el, gen, stream](const error_code& ec, std::size_t count) {
                         if (current(*el, gen)) el->owner->read_done(el, gen, ec, count);
                       });
      return;
    }
    el->socket.async_read_some(asio::buffer(el->buffer.get(), receive_buffer_size),
                               [el, gen](const error_code& ec, std::size_t count) {
                                 if (current(*el, gen)) el->owner->read_done(el, gen, ec, count);
                               });
  }

  // A secure read may bring bytes and the end (or an error) together: the
  // bytes are delivered first.
  void read_done(const std::shared_ptr<Element>& el, std::uint64_t gen, const error_code& ec, std::size_t count) {
    if (count > 0) {
      if (el->sent) el->last_activity = steady::now();
      el->fresh = count;
      if (SocketEvents* sink = events()) {
        sink->on_data_arrival(el->index, clamp_count(el->backlog.size() + el->fresh));
      }
      // The handler may have closed or reconnected the element, or destroyed
      // the array: then this read is over.
      if (!current(*el, gen)) return;
      if (el->fresh > 0) {
        el->backlog.insert(el->backlog.end(), el->buffer.get(), el->buffer.get() + el->fresh);
        el->fresh = 0;
      }
    }
    // Whether a peer's end completes a body is the engine's call; here an
    // end with close_notify and one without are the same orderly end.
    if (is_end_of_stream(ec)) {
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
      auto stream = el->tls;
      asio::async_write(*stream, asio::buffer(*chunk), [el, gen, chunk, stream](const error_code& ec, std::size_t) {
        if (current(*el, gen)) el->owner->write_done(el, gen, ec);
      });
      return;
    }
    asio::async_write(el->socket, asio::buffer(*chunk),
                      [el, gen, chunk](const error_code& ec, std::size_t) {
                        if (current(*el, gen)) el->owner->write_done(el, gen, ec);
                      });
  }

  void write_done(const std::shared_ptr<Element>& el, std::uint64_t gen, const error_code& ec) {
    el->writing = false;
    if (ec) {
      fail(*el, socket_error_number(ec));
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
      tls_(std::make_shared<TlsContext>(tls)) {}

AsioPlatform::~AsioPlatform() = default;

std::unique_ptr<SocketArray> AsioPlatform::make_socket_array() {
  return std::make_unique<AsioSocketArray>(asio_context(loop_), *resolver_, timeouts_, tls_);
}

std::unique_ptr<Timer> AsioPlatform::make_timer() { return std::make_unique<AsioTimer>(asio_context(loop_)); }

bool AsioPlatform::wait_until(const std::function<bool()>& done) { return loop_.run_until(done); }

void AsioPlatform::post(std::function<void()> fn) { loop_.post(std::move(fn)); }

}  // namespace vintrel::platform
