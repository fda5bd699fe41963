#pragma once
// A loopback relay in front of a test server that counts the connections
// clients open through it, idle ones included (a server's own log shows only
// those that carried a request): how many in all, and the most at once.
// It runs on a thread of its own, independent of the test's event loop.
// It can hold back the server's bytes of the first connection until the
// client has opened a number of connections, to show which ones a client
// opens before it has heard anything from the server.

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace vintrel::testing {

class CountingRelay {
 public:
  /// Relays every connection to 127.0.0.1:`target_port`. With
  /// `hold_first_until` above 1, the first connection hears nothing from
  /// the server until that many were accepted, or 5 s went by.
  explicit CountingRelay(std::uint16_t target_port, int hold_first_until = 0);
  ~CountingRelay();
  CountingRelay(const CountingRelay&) = delete;
  CountingRelay& operator=(const CountingRelay&) = delete;

  /// The port clients connect to.
  std::uint16_t port() const { return port_; }
  /// Connections accepted so far.
  int accepted() const { return accepted_; }
  /// The most that were open at one moment.
  int most_at_once() const { return most_; }
  /// Connections accepted before the first heard from the server.
  int accepted_before_first_answer() const { return before_answer_; }

 private:
  struct Impl;
  void accept_next();
  void let_first_answer_go();

  // The counts outlive the connections, which go with `impl_`.
  std::atomic<int> accepted_{0};
  std::atomic<int> open_{0};
  std::atomic<int> most_{0};
  std::atomic<int> before_answer_{-1};
  std::uint16_t target_port_;
  std::uint16_t port_ = 0;
  std::unique_ptr<Impl> impl_;
  std::thread thread_;
};

}  // namespace vintrel::testing
