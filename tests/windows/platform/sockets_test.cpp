// A socket element over Winsock against a listener on 127.0.0.1: events on
// the loop's thread while it pumps, data only after connect, every byte
// before the close, and the same error numbers as on Linux.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/event_loop.hpp"
#include "platform/platform.hpp"
#include "pump.hpp"

namespace vintrel::windows_tests {
namespace {

// A listener on a free loopback port that serves one connection on its own
// thread: it reads until a blank line (or, for a client that sends none,
// what its first read brings), answers with `reply`, and closes.
class OneShotServer {
 public:
  explicit OneShotServer(std::string reply, bool whole_request = true)
      : reply_(std::move(reply)), whole_request_(whole_request) {
    listener_ = listen_on_loopback(1, port_);
    thread_ = std::thread([this] { serve(); });
  }
  ~OneShotServer() {
    closesocket(listener_);
    thread_.join();
    WSACleanup();
  }
  OneShotServer(const OneShotServer&) = delete;
  OneShotServer& operator=(const OneShotServer&) = delete;

  int port() const { return port_; }
  /// What the client sent (read once the server is done).
  const std::string& request() const { return request_; }

 private:
  void serve() {
    const SOCKET peer = accept(listener_, nullptr, nullptr);
    if (peer == INVALID_SOCKET) return;
    char buffer[4096];
    while (request_.find("\r\n\r\n") == std::string::npos) {
      const int got = recv(peer, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      request_.append(buffer, static_cast<std::size_t>(got));
      if (!whole_request_) break;
    }
    std::size_t sent = 0;
    while (sent < reply_.size()) {
      const int chunk = static_cast<int>(std::min<std::size_t>(reply_.size() - sent, 65536));
      const int put = send(peer, reply_.data() + sent, chunk, 0);
      if (put <= 0) break;
      sent += static_cast<std::size_t>(put);
    }
    shutdown(peer, SD_SEND);
    closesocket(peer);
  }

  std::string reply_;
  bool whole_request_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::string request_;
  std::thread thread_;
};

// Records the events of element 1 and what arrived, and checks that each
// comes on the test's thread and never inside another.
class Recorder final : public platform::SocketEvents {
 public:
  explicit Recorder(platform::SocketArray& array) : array_(array) {}

  void on_connect(std::int16_t index) override {
    enter("connect", index);
    if (!request_.empty()) array_.SendData(index, request_);
    leave();
  }
  void on_data_arrival(std::int16_t index, std::int32_t bytes_total) override {
    enter("data", index);
    EXPECT_EQ(bytes_total, array_.BytesReceived(index));
    const auto bytes = array_.GetData(index);
    received.append(bytes.begin(), bytes.end());
    leave();
  }
  void on_error(std::int16_t index, platform::SocketError& error) override {
    enter("error", index);
    error_number = error.Number;
    state_at_error = array_.State(index);
    leave();
  }
  void on_close(std::int16_t index) override {
    enter("close", index);
    state_at_close = array_.State(index);
    leave();
  }

  void send_on_connect(std::string request) { request_ = std::move(request); }

  std::vector<std::string> events;  // in order, data arrivals folded into one
  std::string received;
  std::int16_t error_number = 0;
  std::int16_t state_at_error = -1;
  std::int16_t state_at_close = -1;
  bool nested = false;
  bool foreign_thread = false;

 private:
  void enter(const char* name, std::int16_t index) {
    EXPECT_EQ(index, 1);
    nested = nested || inside_;
    foreign_thread = foreign_thread || GetCurrentThreadId() != thread_;
    inside_ = true;
    if (events.empty() || events.back() != name) events.emplace_back(name);
  }
  void leave() { inside_ = false; }

  platform::SocketArray& array_;
  std::string request_;
  bool inside_ = false;
  DWORD thread_ = GetCurrentThreadId();
};

// Bytes that make a mistake in order or count show.
std::string numbered_bytes(std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t k = 0; k < count; ++k) bytes[k] = static_cast<char>((k * 131 + k / 251) & 0xFF);
  return bytes;
}

TEST(WindowsSockets, ATransferDeliversEveryByteInOrderThenTheClose) {
  const std::string body = numbered_bytes(3 * 1024 * 1024 + 17);
  OneShotServer server(body);
  platform::EventLoop loop;
  platform::AsioPlatform machine(loop);
  auto array = machine.make_socket_array();
  Recorder recorder(*array);
  array->set_events(&recorder);
  recorder.send_on_connect("GET /file HTTP/1.0\r\n\r\n");
  array->Load(1);
  array->Connect(1, "127.0.0.1", server.port());
  // Nothing is delivered inside Connect, nor before the thread pumps.
  EXPECT_TRUE(recorder.events.empty());
  Sleep(50);
  EXPECT_TRUE(recorder.events.empty());

  ASSERT_TRUE(pump_until([&] { return recorder.state_at_close != -1 || recorder.error_number != 0; },
                         std::chrono::seconds(30)));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"connect", "data", "close"}));
  EXPECT_EQ(recorder.received.size(), body.size());
  EXPECT_TRUE(recorder.received == body);
  EXPECT_EQ(recorder.state_at_close, platform::sck::closing);
  EXPECT_FALSE(recorder.nested);
  EXPECT_FALSE(recorder.foreign_thread);
  array->Close(1);
  EXPECT_EQ(array->State(1), platform::sck::closed);
  EXPECT_EQ(server.request(), "GET /file HTTP/1.0\r\n\r\n");
}

TEST(WindowsSockets, ARefusedConnectionIsError10061AsOnLinux) {
  // A port that was free a moment ago, with nothing listening on it now.
  int port = 0;
  {
    OneShotServer probe("");
    port = probe.port();
  }
  platform::EventLoop loop;
  platform::AsioPlatform machine(loop);
  auto array = machine.make_socket_array();
  Recorder recorder(*array);
  array->set_events(&recorder);
  array->Load(1);
  array->Connect(1, "127.0.0.1", port);
  ASSERT_TRUE(pump_until([&] { return recorder.error_number != 0; }, std::chrono::seconds(30)));
  EXPECT_EQ(recorder.error_number, platform::sck_err::refused);
  EXPECT_EQ(recorder.state_at_error, platform::sck::error);
  EXPECT_EQ(recorder.events, std::vector<std::string>{"error"});
  EXPECT_FALSE(recorder.foreign_thread);
}

TEST(WindowsSockets, APortOutOfRangeFailsLaterWith10049AndHttpsIsOffered) {
  platform::EventLoop loop;
  platform::AsioPlatform machine(loop);
  // Schannel is part of every Windows: the control takes https URLs.
  EXPECT_TRUE(machine.offers_tls());
  auto array = machine.make_socket_array();
  Recorder recorder(*array);
  array->set_events(&recorder);
  array->Load(1);
  array->Connect(1, "127.0.0.1", 70000);
  EXPECT_TRUE(recorder.events.empty());
  ASSERT_TRUE(pump_until([&] { return recorder.error_number != 0; }));
  EXPECT_EQ(recorder.error_number, 10049);
}

// A secure connection to a server that does not answer in TLS: one that
// answers in plain HTTP will say the same again, so it stops the transfer;
// one that hangs up is the network's doing and is tried again.
TEST(WindowsSockets, AHandshakeWithAServerThatSpeaksNoTlsFailsAsOnLinux) {
  struct Row {
    std::string reply;
    bool tls_failure;
  };
  const Row rows[] = {
      {"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n", true},
      {"", false},
  };
  for (const Row& row : rows) {
    OneShotServer server(row.reply, false);
    platform::EventLoop loop;
    platform::AsioPlatform machine(loop);
    auto array = machine.make_socket_array();
    Recorder recorder(*array);
    array->set_events(&recorder);
    array->Load(1);
    array->Connect(1, "127.0.0.1", server.port(), true);
    ASSERT_TRUE(pump_until([&] { return recorder.error_number != 0; }, std::chrono::seconds(30))) << row.reply;
    EXPECT_EQ(recorder.events, std::vector<std::string>{"error"}) << row.reply;
    EXPECT_EQ(platform::is_tls_failure(recorder.error_number), row.tls_failure) << recorder.error_number;
    EXPECT_EQ(recorder.error_number == platform::tls_err::channel_error, row.tls_failure);
    // The client spoke first, as TLS does: its hello reached the server.
    EXPECT_EQ(server.request().substr(0, 1), "\x16") << row.reply;
  }
}

}  // namespace
}  // namespace vintrel::windows_tests
