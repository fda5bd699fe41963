#include "support/hostile_server.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <system_error>

namespace vintrel::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long close() keeps reading what the client still sends before it
// gives up waiting for the client's own close.
constexpr auto drain_limit = 2s;

int poll_timeout(Clock::time_point deadline) {
  if (deadline == Clock::time_point::max()) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  // Round up so a wait never ends a hair early and spins.
  return static_cast<int>(std::max<std::int64_t>(0, left.count() + 1));
}

bool iequals_prefix(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

// The body length a request head announces; 0 without Content-Length.
std::size_t content_length(std::string_view head) {
  std::size_t begin = 0;
  while (begin < head.size()) {
    std::size_t end = head.find("\r\n", begin);
    if (end == std::string_view::npos) end = head.size();
    std::string_view line = head.substr(begin, end - begin);
    if (iequals_prefix(line, "content-length:")) {
      std::size_t value = 0;
      for (char c : line.substr(15)) {
        if (c >= '0' && c <= '9') {
          value = value * 10 + static_cast<std::size_t>(c - '0');
          if (value > (std::size_t{1} << 30)) break;  // nonsense; stop growing
        }
      }
      return value;
    }
    begin = end + 2;
  }
  return 0;
}

// One accepted socket, non-blocking, with every wait also watching the
// server's stop pipe; after accept_tls() reads and writes go through TLS.
class Connection {
 public:
  Connection(int fd, int stop_fd) : fd_(fd), stop_fd_(stop_fd) {}
  ~Connection() {
    if (ssl_ != nullptr) SSL_free(ssl_);
    if (fd_ >= 0) ::close(fd_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  enum class Wait { ready, stopped, timed_out };

  Wait wait(short events, Clock::time_point deadline) {
    while (true) {
      pollfd fds[2] = {{fd_, events, 0}, {stop_fd_, POLLIN, 0}};
      int n = ::poll(fds, 2, poll_timeout(deadline));
      if (n < 0) {
        if (errno == EINTR) continue;
        return Wait::stopped;
      }
      if (fds[1].revents != 0) return Wait::stopped;
      if (fds[0].revents != 0) return Wait::ready;
      if (Clock::now() >= deadline) return Wait::timed_out;
    }
  }

  // The server side of a TLS handshake; false when it fails or the server
  // stops.
  bool accept_tls(SSL_CTX* context) {
    ssl_ = SSL_new(context);
    if (ssl_ == nullptr || SSL_set_fd(ssl_, fd_) != 1) return false;
    while (true) {
      ERR_clear_error();
      const int result = SSL_accept(ssl_);
      if (result == 1) return true;
      if (!wait_for_tls(result, Clock::time_point::max())) return false;
    }
  }

  // A handshake broken off: after the ClientHello, or after half of the
  // server's answer to it (made by a TLS engine on memory buffers, so the
  // bytes are real TLS).
  void break_handshake(SSL_CTX* context, HandshakeBreak where) {
    if (!read_raw(Clock::time_point::max())) return;
    if (where == HandshakeBreak::mid_server_hello) {
      SSL* ssl = SSL_new(context);
      BIO* in = BIO_new(BIO_s_mem());
      BIO* out = BIO_new(BIO_s_mem());
      SSL_set_bio(ssl, in, out);
      std::string flight;
      while (true) {
        BIO_write(in, buffer_.data(), static_cast<int>(buffer_.size()));
        buffer_.clear();
        SSL_accept(ssl);
        if (BIO_ctrl_pending(out) > 0) break;
        if (!read_raw(Clock::time_point::max())) break;
      }
      char chunk[4096];
      int n = 0;
      while ((n = BIO_read(out, chunk, sizeof chunk)) > 0) flight.append(chunk, static_cast<std::size_t>(n));
      SSL_free(ssl);
      send_raw(std::string_view(flight).substr(0, flight.size() / 2));
    }
    close_orderly(false);
  }

  // Appends what arrives to the buffer; false at end of stream, an error or
  // stop.
  bool read_some(Clock::time_point deadline = Clock::time_point::max()) {
    if (ssl_ == nullptr) return read_raw(deadline);
    char chunk[64 * 1024];
    while (true) {
      ERR_clear_error();
      const int n = SSL_read(ssl_, chunk, sizeof chunk);
      if (n > 0) {
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
      }
      if (!wait_for_tls(n, deadline)) return false;
    }
  }

  bool read_raw(Clock::time_point deadline) {
    if (wait(POLLIN, deadline) != Wait::ready) return false;
    char chunk[64 * 1024];
    while (true) {
      ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n > 0) {
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
      return false;
    }
  }

  bool read_request(std::string& request) {
    while (true) {
      std::size_t end = buffer_.find("\r\n\r\n");
      if (end != std::string::npos) {
        std::size_t total = end + 4 + content_length(std::string_view(buffer_).substr(0, end + 4));
        if (buffer_.size() >= total) {
          request = buffer_.substr(0, total);
          buffer_.erase(0, total);
          return true;
        }
      }
      if (!read_some()) return false;
    }
  }

  bool send_all(std::string_view bytes) {
    if (ssl_ == nullptr) return send_raw(bytes);
    while (!bytes.empty()) {
      ERR_clear_error();
      const int n = SSL_write(ssl_, bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20)));
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      if (!wait_for_tls(n, Clock::time_point::max())) return false;
    }
    return true;
  }

  bool send_raw(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n >= 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
      if (wait(POLLOUT, Clock::time_point::max()) != Wait::ready) return false;
    }
    return true;
  }

  // false when the server stops meanwhile.
  bool pause(std::chrono::milliseconds duration) {
    const auto deadline = Clock::now() + duration;
    while (true) {
      pollfd stop = {stop_fd_, POLLIN, 0};
      int n = ::poll(&stop, 1, poll_timeout(deadline));
      if (n > 0) return false;
      if (n < 0 && errno != EINTR) return false;
      if (Clock::now() >= deadline) return true;
    }
  }

  // With `notify`, a TLS connection sends close_notify before its FIN.
  void close_orderly(bool notify) {
    if (ssl_ != nullptr && notify) {
      ERR_clear_error();
      int result = 0;
      while ((result = SSL_shutdown(ssl_)) < 0 && wait_for_tls(result, Clock::now() + drain_limit)) {
      }
    }
    ::shutdown(fd_, SHUT_WR);
    const auto deadline = Clock::now() + drain_limit;
    buffer_.clear();
    // Whatever still comes is dropped unread, TLS or not.
    while (read_raw(deadline)) buffer_.clear();
    ::close(fd_);
    fd_ = -1;
  }

  void reset() {
    linger abort{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd_);
    fd_ = -1;
  }

  void stall() {
    while (read_some()) buffer_.clear();
  }

 private:
  // After a TLS call that returned `result` <= 0: waits for what it wants;
  // false when it failed for good, the deadline passed or the server stops.
  bool wait_for_tls(int result, Clock::time_point deadline) {
    switch (SSL_get_error(ssl_, result)) {
      case SSL_ERROR_WANT_READ:
        return wait(POLLIN, deadline) == Wait::ready;
      case SSL_ERROR_WANT_WRITE:
        return wait(POLLOUT, deadline) == Wait::ready;
      default:
        return false;
    }
  }

  int fd_;
  int stop_fd_;
  SSL* ssl_ = nullptr;
  std::string buffer_;
};

}  // namespace

// --- steps and scripts -------------------------------------------------------

Step Step::send(std::string bytes, std::size_t piece_size, std::chrono::milliseconds piece_delay) {
  Step step;
  step.kind = Kind::send;
  step.bytes = std::move(bytes);
  step.piece_size = piece_size;
  step.duration = piece_delay;
  return step;
}

Step Step::delay(std::chrono::milliseconds duration) {
  Step step;
  step.kind = Kind::delay;
  step.duration = duration;
  return step;
}

Step Step::wait_request() {
  Step step;
  step.kind = Kind::wait_request;
  return step;
}

Step Step::close() {
  Step step;
  step.kind = Kind::close;
  return step;
}

Step Step::close_without_notify() {
  Step step;
  step.kind = Kind::close_without_notify;
  return step;
}

Step Step::reset() {
  Step step;
  step.kind = Kind::reset;
  return step;
}

Step Step::stall() {
  Step step;
  step.kind = Kind::stall;
  return step;
}

Script& Script::send(std::string bytes, std::size_t piece_size, std::chrono::milliseconds piece_delay) {
  return then(Step::send(std::move(bytes), piece_size, piece_delay));
}
Script& Script::delay(std::chrono::milliseconds duration) { return then(Step::delay(duration)); }
Script& Script::wait_request() { return then(Step::wait_request()); }
Script& Script::close() { return then(Step::close()); }
Script& Script::close_without_notify() { return then(Step::close_without_notify()); }
Script& Script::reset() { return then(Step::reset()); }
Script& Script::stall() { return then(Step::stall()); }

Script& Script::then(Step step) {
  steps_.push_back(std::move(step));
  return *this;
}

Script& Script::unprompted() {
  unprompted_ = true;
  return *this;
}

Script& Script::break_handshake(HandshakeBreak where) {
  handshake_break_ = where;
  return *this;
}

// --- the server --------------------------------------------------------------

HostileServer::HostileServer(std::vector<Script> scripts) : scripts_(std::move(scripts)) {
  if (scripts_.empty()) throw std::invalid_argument("HostileServer needs at least one script");
  open();
}

HostileServer::HostileServer(std::vector<Script> scripts, const HostileTls& tls) : scripts_(std::move(scripts)) {
  if (scripts_.empty()) throw std::invalid_argument("HostileServer needs at least one script");
  tls_ = SSL_CTX_new(TLS_server_method());
  if (tls_ == nullptr || SSL_CTX_use_certificate_chain_file(tls_, tls.cert_chain.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(tls_, tls.key.c_str(), SSL_FILETYPE_PEM) != 1) {
    char reason[256] = "";
    ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
    SSL_CTX_free(tls_);
    throw std::runtime_error("HostileServer cannot use " + tls.cert_chain + " / " + tls.key + ": " + reason);
  }
  try {
    open();
  } catch (...) {
    SSL_CTX_free(tls_);
    throw;
  }
}

void HostileServer::open() {
  auto fail = [this](const char* what) {
    int error = errno;
    if (listener_ >= 0) ::close(listener_);
    for (int fd : stop_pipe_) {
      if (fd >= 0) ::close(fd);
    }
    throw std::system_error(error, std::generic_category(), what);
  };
  if (::pipe2(stop_pipe_, O_CLOEXEC) != 0) fail("pipe2");
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) fail("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fail("bind");
  if (::listen(listener_, 64) != 0) fail("listen");
  if (::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) fail("getsockname");
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { accept_loop(); });
}

HostileServer::~HostileServer() {
  char byte = 1;
  while (::write(stop_pipe_[1], &byte, 1) < 0 && errno == EINTR) {
  }
  acceptor_.join();
  // The acceptor is gone, so the list no longer grows.
  for (auto& thread : connection_threads_) thread.join();
  ::close(listener_);
  ::close(stop_pipe_[0]);
  ::close(stop_pipe_[1]);
  SSL_CTX_free(tls_);
}

std::string HostileServer::url(std::string_view path) const {
  return std::string(tls_ != nullptr ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> HostileServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

int HostileServer::connections() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

bool HostileServer::wait_for_requests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

bool HostileServer::wait_for_connections(int count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return connections_ >= count; });
}

void HostileServer::accept_loop() {
  while (true) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) continue;  // e.g. the client gave up before we accepted
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::lock_guard lock(mutex_);
    std::size_t index = std::min(static_cast<std::size_t>(connections_), scripts_.size() - 1);
    ++connections_;
    const Script& script = scripts_[index];
    connection_threads_.emplace_back([this, fd, &script] { serve(fd, script); });
    changed_.notify_all();
  }
}

void HostileServer::record_request(std::string text) {
  std::lock_guard lock(mutex_);
  requests_.push_back(std::move(text));
  changed_.notify_all();
}

void HostileServer::serve(int fd, const Script& script) {
  Connection connection(fd, stop_pipe_[0]);
  if (tls_ != nullptr) {
    if (script.handshake_break() != HandshakeBreak::none) {
      connection.break_handshake(tls_, script.handshake_break());
      return;
    }
    if (!connection.accept_tls(tls_)) return;
  }
  const auto& steps = script.steps();
  const bool implied_request =
      !script.is_unprompted() && (steps.empty() || steps.front().kind != Step::Kind::wait_request);
  if (implied_request) {
    std::string request;
    if (!connection.read_request(request)) return;
    record_request(std::move(request));
  }
  for (const Step& step : steps) {
    switch (step.kind) {
      case Step::Kind::wait_request: {
        std::string request;
        if (!connection.read_request(request)) return;
        record_request(std::move(request));
        break;
      }
      case Step::Kind::send: {
        std::string_view bytes = step.bytes;
        std::size_t piece = step.piece_size == 0 ? bytes.size() : step.piece_size;
        while (!bytes.empty()) {
          std::size_t now = std::min(piece, bytes.size());
          if (!connection.send_all(bytes.substr(0, now))) return;
          bytes.remove_prefix(now);
          if (!bytes.empty() && step.duration.count() > 0 && !connection.pause(step.duration)) return;
        }
        break;
      }
      case Step::Kind::delay:
        if (!connection.pause(step.duration)) return;
        break;
      case Step::Kind::close:
        connection.close_orderly(true);
        return;
      case Step::Kind::close_without_notify:
        connection.close_orderly(false);
        return;
      case Step::Kind::reset:
        connection.reset();
        return;
      case Step::Kind::stall:
        connection.stall();
        return;
    }
  }
  connection.close_orderly(true);
}

// --- responses ---------------------------------------------------------------

std::string http_response(int status, std::string_view reason, std::vector<std::pair<std::string, std::string>> headers,
                          std::string_view body) {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
  for (const auto& [name, value] : headers) out += name + ": " + value + "\r\n";
  out += "\r\n";
  out += body;
  return out;
}

std::string chunked(std::string_view body, std::size_t chunk_size) {
  if (chunk_size == 0) chunk_size = std::max<std::size_t>(body.size(), 1);
  std::string out;
  while (!body.empty()) {
    std::size_t now = std::min(chunk_size, body.size());
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", now);
    out += size;
    out += body.substr(0, now);
    out += "\r\n";
    body.remove_prefix(now);
  }
  out += "0\r\n\r\n";
  return out;
}

}  // namespace vintrel::testing
