// A loopback forwarder that makes a server look far away: every chunk read
// on one side is written to the other a fixed delay later, in order, each
// direction on its own, so a round trip costs twice the delay and nothing
// else is limited. TLS passes through untouched (bytes are only copied).
//
//   forwarder [--delay MS] [--no-connect-delay] TARGET_PORT...
//
// For each target port on 127.0.0.1 it listens on a free loopback port and
// prints that port on a line of its own, in the order of the targets, once
// all are listening. It runs until it is killed.
//
// The kernel completes a client's connect at once, one round trip sooner
// than a far server would. Unless --no-connect-delay is given, what a client
// sends is therefore held until a round trip after its connection was
// accepted (then delayed as any chunk), so a new connection costs what it
// costs over a real path: tools that open a connection per file pay for it,
// as they would.
//
// Built by bench/run for its far cases; not part of Vintrel.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// A direction holds at most this much in flight and stops reading until it
// has written some out, so a client that reads slowly does not make the
// forwarder grow without bound. At 25 ms that still lets 2.5 GiB/s through,
// more than a copy through this process reaches.
constexpr std::size_t max_in_flight = 64U * 1024U * 1024U;
constexpr std::size_t read_size = 256U * 1024U;

struct Chunk {
  Clock::time_point due;
  std::vector<char> bytes;  // empty: the sender finished (a FIN to pass on)
};

class Session;

// One direction of a connection: reads from `from`, queues each chunk with
// the time it may go out, and writes the queue to `to` in order.
class Pipe {
 public:
  Pipe(Session& session, tcp::socket& from, tcp::socket& to)
      : session_(session), from_(from), to_(to), timer_(from.get_executor()) {}

  void hold_until(Clock::time_point t) { hold_until_ = t; }
  void start_reading();
  void start_writing();
  bool finished() const { return finished_; }
  void cancel() { timer_.cancel(); }

 private:
  void push(std::vector<char> bytes);
  void write_next();

  Session& session_;
  tcp::socket& from_;
  tcp::socket& to_;
  asio::steady_timer timer_;
  std::array<char, read_size> buffer_{};
  std::deque<Chunk> queue_;
  std::size_t queued_bytes_ = 0;
  Clock::time_point hold_until_{};
  bool can_write_ = false;
  bool writing_ = false;
  bool reading_ = false;
  bool read_done_ = false;
  bool finished_ = false;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket client, Clock::duration delay)
      : delay_(delay),
        client_(std::move(client)),
        server_(client_.get_executor()),
        up_(*this, client_, server_),
        down_(*this, server_, client_) {}

  void start(const tcp::endpoint& target, bool connect_delay) {
    if (connect_delay) up_.hold_until(Clock::now() + 2 * delay_);
    boost::system::error_code ignored;
    client_.set_option(tcp::no_delay(true), ignored);
    // The client may speak first (it always does over HTTP): its bytes
    // queue up while the connection to the server comes up.
    up_.start_reading();
    server_.async_connect(target, [self = shared_from_this()](const boost::system::error_code& error) {
      if (error) return self->close();
      boost::system::error_code ignored_too;
      self->server_.set_option(tcp::no_delay(true), ignored_too);
      self->up_.start_writing();
      self->down_.start_writing();
      self->down_.start_reading();
    });
  }

  Clock::duration delay() const { return delay_; }
  std::shared_ptr<Session> keep() { return shared_from_this(); }

  // Both sides have seen the other's end: nothing is left to carry.
  void pipe_finished() {
    if (up_.finished() && down_.finished()) close();
  }

  void close() {
    boost::system::error_code ignored;
    client_.close(ignored);
    server_.close(ignored);
    up_.cancel();
    down_.cancel();
  }

 private:
  Clock::duration delay_;
  tcp::socket client_;
  tcp::socket server_;
  Pipe up_;
  Pipe down_;
};

void Pipe::start_reading() {
  if (reading_ || read_done_) return;
  reading_ = true;
  from_.async_read_some(asio::buffer(buffer_),
                        [this, self = session_.keep()](const boost::system::error_code& error, std::size_t n) {
                          reading_ = false;
                          if (error) {
                            // An end or a reset both end this direction: the
                            // other side learns of it after the delay.
                            read_done_ = true;
                            push({});
                            return;
                          }
                          push(std::vector<char>(buffer_.data(), buffer_.data() + n));
                          if (queued_bytes_ < max_in_flight) start_reading();
                        });
}

void Pipe::push(std::vector<char> bytes) {
  queued_bytes_ += bytes.size();
  queue_.push_back({std::max(Clock::now(), hold_until_) + session_.delay(), std::move(bytes)});
  if (can_write_ && !writing_) write_next();
}

void Pipe::start_writing() {
  can_write_ = true;
  if (!writing_ && !queue_.empty()) write_next();
}

void Pipe::write_next() {
  if (queue_.empty()) {
    writing_ = false;
    return;
  }
  writing_ = true;
  timer_.expires_at(queue_.front().due);
  timer_.async_wait([this, self = session_.keep()](const boost::system::error_code& error) {
    if (error) return;
    Chunk& chunk = queue_.front();
    if (chunk.bytes.empty()) {
      boost::system::error_code ignored;
      to_.shutdown(tcp::socket::shutdown_send, ignored);
      queue_.clear();
      writing_ = false;
      finished_ = true;
      session_.pipe_finished();
      return;
    }
    asio::async_write(to_, asio::buffer(chunk.bytes),
                      [this, self](const boost::system::error_code& write_error, std::size_t) {
                        if (write_error) return session_.close();
                        queued_bytes_ -= queue_.front().bytes.size();
                        queue_.pop_front();
                        if (queued_bytes_ < max_in_flight) start_reading();
                        write_next();
                      });
  });
}

void accept_next(tcp::acceptor& acceptor, tcp::endpoint target, Clock::duration delay, bool connect_delay) {
  acceptor.async_accept(
      [&acceptor, target, delay, connect_delay](const boost::system::error_code& error, tcp::socket socket) {
        if (!error) std::make_shared<Session>(std::move(socket), delay)->start(target, connect_delay);
        accept_next(acceptor, target, delay, connect_delay);
      });
}

int usage() {
  std::cerr << "usage: forwarder [--delay MS] [--no-connect-delay] TARGET_PORT...\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  long delay_ms = 25;
  bool connect_delay = true;
  std::vector<unsigned short> targets;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    char* end = nullptr;
    if (arg == "--delay" && i + 1 < argc) {
      delay_ms = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || delay_ms < 0 || delay_ms > 60000) return usage();
    } else if (arg == "--no-connect-delay") {
      connect_delay = false;
    } else {
      const long port = std::strtol(arg.c_str(), &end, 10);
      if (arg.empty() || *end != '\0' || port < 1 || port > 65535) return usage();
      targets.push_back(static_cast<unsigned short>(port));
    }
  }
  if (targets.empty()) return usage();

  asio::io_context io;
  const auto loopback = asio::ip::make_address_v4("127.0.0.1");
  const Clock::duration delay = std::chrono::milliseconds(delay_ms);
  std::deque<tcp::acceptor> acceptors;
  for (const unsigned short port : targets) {
    tcp::acceptor& acceptor = acceptors.emplace_back(io, tcp::endpoint(loopback, 0));
    accept_next(acceptor, tcp::endpoint(loopback, port), delay, connect_delay);
  }
  for (const tcp::acceptor& acceptor : acceptors) std::cout << acceptor.local_endpoint().port() << '\n';
  std::cout.flush();
  io.run();
  return 0;
}
