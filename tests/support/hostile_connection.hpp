#pragma once
// One accepted socket of the hostile server and the small parsing its
// serving needs: the server's loop in hostile_server.cpp is its only user.

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

#include <chrono>
#include <string>
#include <string_view>

namespace vintrel::testing::hostile {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long close() keeps reading what the client still sends before it
// gives up waiting for the client's own close.
constexpr auto drain_limit = 2s;

inline int poll_timeout(Clock::time_point deadline) {
  if (deadline == Clock::time_point::max()) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  // Round up so a wait never ends a hair early and spins.
  return static_cast<int>(std::max<std::int64_t>(0, left.count() + 1));
}

inline bool iequals_prefix(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

// The body length a request head announces; 0 without Content-Length.
inline std::size_t content_length(std::string_view head) {
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

}  // namespace vintrel::testing::hostile
