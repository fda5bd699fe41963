#include "support/counting_relay.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <functional>
#include <utility>
#include <vector>

#include <sys/socket.h>

#include "platform/asio.hpp"

namespace vintrel::testing {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// Both sides of one relayed connection; it counts as open from its accept
// until the client has ended it, as the client sees its connections.
struct Pair : std::enable_shared_from_this<Pair> {
  Pair(tcp::socket c, asio::io_context& io, std::atomic<int>& open) : client(std::move(c)), server(io), open_(open) {}
  ~Pair() { client_gone(); }

  void client_gone() {
    if (counted_) --open_;
    counted_ = false;
  }

  // A client that closed one connection and then opened the next may have
  // both reach this thread in one turn, the accept first: the kernel
  // already knows the first has ended.
  void check_client() {
    if (!counted_) return;
    char byte = 0;
    const auto got = ::recv(client.native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) client_gone();
  }

  void start(std::uint16_t target) {
    server.async_connect({asio::ip::address_v4::loopback(), target}, [self = shared_from_this()](auto ec) {
      if (ec) return;
      self->pump(self->client, self->server, self->up);
      self->pump(self->server, self->client, self->down);
    });
  }

  void pump(tcp::socket& from, tcp::socket& to, std::array<char, 16384>& buffer) {
    from.async_read_some(
        asio::buffer(buffer), [self = shared_from_this(), &from, &to, &buffer](auto ec, std::size_t n) {
          if (ec) {
            if (&from == &self->client) self->client_gone();
            boost::system::error_code ignored;
            to.shutdown(tcp::socket::shutdown_send, ignored);
            return;
          }
          auto write = [self, &from, &to, &buffer, n] {
            asio::async_write(to, asio::buffer(buffer.data(), n), [self, &from, &to, &buffer](auto error, std::size_t) {
              if (!error) self->pump(from, to, buffer);
            });
          };
          if (&from == &self->server && self->first_answer) {
            auto gate = std::exchange(self->first_answer, nullptr);
            gate(std::move(write));
          } else {
            write();
          }
        });
  }

  tcp::socket client;
  tcp::socket server;
  std::array<char, 16384> up{};
  std::array<char, 16384> down{};
  std::atomic<int>& open_;
  bool counted_ = true;
  // Given the first server bytes' onward way, on the first connection only.
  std::function<void(std::function<void()>)> first_answer;
};

}  // namespace

struct CountingRelay::Impl {
  asio::io_context io;
  tcp::acceptor acceptor{io, tcp::endpoint(asio::ip::address_v4::loopback(), 0)};
  std::vector<std::weak_ptr<Pair>> pairs;
  int hold_until = 0;
  std::function<void()> held;  // the first answer, on its way once let go
  asio::steady_timer hold_limit{io};
};

CountingRelay::CountingRelay(std::uint16_t target_port, int hold_first_until)
    : target_port_(target_port), impl_(std::make_unique<Impl>()) {
  impl_->hold_until = hold_first_until;
  port_ = impl_->acceptor.local_endpoint().port();
  accept_next();
  thread_ = std::thread([this] { impl_->io.run(); });
}

void CountingRelay::let_first_answer_go() {
  if (!impl_->held) return;
  before_answer_ = accepted_.load();
  impl_->hold_limit.cancel();
  std::exchange(impl_->held, nullptr)();
}

CountingRelay::~CountingRelay() {
  impl_->io.stop();
  thread_.join();
}

void CountingRelay::accept_next() {
  impl_->acceptor.async_accept([this](const boost::system::error_code& ec, tcp::socket socket) {
    if (ec) return;
    ++accepted_;
    auto& pairs = impl_->pairs;
    std::erase_if(pairs, [](const std::weak_ptr<Pair>& pair) { return pair.expired(); });
    for (const auto& pair : pairs) pair.lock()->check_client();
    const int now = ++open_;
    int seen = most_;
    while (now > seen && !most_.compare_exchange_weak(seen, now)) {
    }
    auto pair = std::make_shared<Pair>(std::move(socket), impl_->io, open_);
    if (accepted_ == 1) {
      pair->first_answer = [this](std::function<void()> go) {
        impl_->held = std::move(go);
        if (accepted_ >= impl_->hold_until) return let_first_answer_go();
        impl_->hold_limit.expires_after(std::chrono::seconds(5));
        impl_->hold_limit.async_wait([this](auto waited) {
          if (!waited) let_first_answer_go();
        });
      };
    }
    if (accepted_ >= impl_->hold_until) let_first_answer_go();
    pairs.push_back(pair);
    pair->start(target_port_);
    accept_next();
  });
}

}  // namespace vintrel::testing
