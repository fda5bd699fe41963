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

#include "support/hostile_connection.hpp"

namespace vintrel::testing {

using namespace hostile;

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

}  // namespace vintrel::testing
