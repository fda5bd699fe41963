#pragma once
// The far side and the control's side of the socket tests: a loopback
// listener whose peers record and answer, a recorder of an array's events,
// and the loop, resolver and platform they all run on.

#include "platform/sockets.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "automation/automation.hpp"
#include "platform/asio.hpp"
#include "platform/asio_platform.hpp"
#include "platform/event_loop.hpp"
#include "platform/platform.hpp"
#include "platform/resolver.hpp"
#include "support/fake_platform.hpp"

namespace vintrel::platform::sockets_rig {

using namespace std::chrono_literals;
namespace asio = boost::asio;
using tcp = asio::ip::tcp;

constexpr auto generous = 10s;

// --- the far side -------------------------------------------------------------

// One accepted connection: reads everything the element sends, and sends,
// ends or resets on request.
struct Peer : std::enable_shared_from_this<Peer> {
  explicit Peer(tcp::socket s) : socket(std::move(s)) {}

  void start_reading() {
    socket.async_read_some(asio::buffer(chunk),
                           [self = shared_from_this()](boost::system::error_code ec, std::size_t n) {
                             if (ec) {
                               self->ended = true;
                               return;
                             }
                             self->received.append(self->chunk.data(), n);
                             self->start_reading();
                           });
  }

  // Sends `data`; with `then_end`, ends the sending side afterwards (a FIN,
  // not a close, so bytes the element sends meanwhile cause no reset).
  void send(std::string data, bool then_end = false) {
    auto bytes = std::make_shared<std::string>(std::move(data));
    ++writes_in_flight;
    asio::async_write(socket, asio::buffer(*bytes),
                      [self = shared_from_this(), bytes, then_end](boost::system::error_code ec, std::size_t) {
                        --self->writes_in_flight;
                        if (!ec && then_end) self->socket.shutdown(tcp::socket::shutdown_send, ec);
                      });
  }

  // Drops the connection with a reset instead of an orderly end.
  void reset() {
    boost::system::error_code ec;
    socket.set_option(asio::socket_base::linger(true, 0), ec);
    socket.close(ec);
  }

  tcp::socket socket;
  std::array<char, 64 * 1024> chunk{};
  std::string received;
  bool ended = false;
  int writes_in_flight = 0;
};

// A listener on an ephemeral loopback port, served on the test's own loop.
class Listener {
 public:
  explicit Listener(EventLoop& loop)
      : acceptor_(asio_context(loop), tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
    accept_next();
  }
  ~Listener() {
    boost::system::error_code ec;
    acceptor_.close(ec);
    for (auto& peer : peers) peer->socket.close(ec);
  }

  std::int32_t port() const { return acceptor_.local_endpoint().port(); }

  std::vector<std::shared_ptr<Peer>> peers;

 private:
  void accept_next() {
    acceptor_.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
      if (ec) return;
      peers.push_back(std::make_shared<Peer>(std::move(socket)));
      peers.back()->start_reading();
      accept_next();
    });
  }

  tcp::acceptor acceptor_;
};

// --- the control's side -------------------------------------------------------

struct Event {
  char kind;  // C onnect, D ata, E rror, X close
  std::int16_t index;
  std::int32_t value;  // bytes_total for D, Number for E, State at the time otherwise
  std::thread::id thread;
};

// Records every event and lets a test act inside it, as the control does.
class Recorder final : public SocketEvents {
 public:
  explicit Recorder(SocketArray& array) : array_(array) { array.set_events(this); }

  void on_connect(std::int16_t index) override {
    log.push_back({'C', index, array_.State(index), std::this_thread::get_id()});
    if (connect_fn) connect_fn(index);
  }
  void on_data_arrival(std::int16_t index, std::int32_t bytes_total) override {
    log.push_back({'D', index, bytes_total, std::this_thread::get_id()});
    if (take_data) received += array_.GetDataText(index);
    if (data_fn) data_fn(index, bytes_total);
  }
  void on_error(std::int16_t index, SocketError& error) override {
    log.push_back({'E', index, error.Number, std::this_thread::get_id()});
    errors.push_back(error);
    if (error_fn) error_fn(index, error);
  }
  void on_close(std::int16_t index) override {
    log.push_back({'X', index, array_.State(index), std::this_thread::get_id()});
    if (close_fn) close_fn(index);
  }

  int count(char kind) const {
    int n = 0;
    for (const auto& e : log) n += e.kind == kind ? 1 : 0;
    return n;
  }

  std::vector<Event> log;
  std::vector<SocketError> errors;
  std::string received;
  bool take_data = true;
  std::function<void(std::int16_t)> connect_fn;
  std::function<void(std::int16_t, std::int32_t)> data_fn;
  std::function<void(std::int16_t, SocketError&)> error_fn;
  std::function<void(std::int16_t)> close_fn;

 private:
  SocketArray& array_;
};

// A loop, a resolver that never asks the network, and a platform on them.
struct Rig {
  explicit Rig(SocketTimeouts timeouts = {}) : platform(loop, &resolver, timeouts) {}

  bool wait(const std::function<bool()>& done) { return loop.run_until(done, generous); }

  EventLoop loop;
  FixedResolver resolver{[this](std::function<void()> fn) { loop.post(std::move(fn)); }};
  AsioPlatform platform;
};

// What most tests start from: the rig, a listener on its loop, an array
// made there and the recorder of the array's events.
class SocketArrayTest : public ::testing::Test {
 protected:
  Rig rig;
  Listener listener{rig.loop};
  std::unique_ptr<SocketArray> array = rig.platform.make_socket_array();
  Recorder rec{*array};
};

inline std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

}  // namespace vintrel::platform::sockets_rig
