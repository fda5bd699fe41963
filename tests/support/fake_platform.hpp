#pragma once
// A scripted platform for engine tests: no network and no waiting. A test
// plays the far side of every socket (accept, deliver, fail, peer_close),
// ticks timers by hand and moves the clock itself.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.hpp"
#include "platform/platform.hpp"
#include "platform/sockets.hpp"
#include "platform/timer.hpp"

namespace vintrel::testing {

/// A socket element array whose far side the test plays. Each helper raises
/// its event synchronously, on the caller's stack, as if the loop did.
class FakeSocketArray : public platform::SocketArray {
 public:
  /// What an element has seen and holds.
  struct Element {
    bool loaded = false;
    std::int16_t state = 0;
    std::string host;
    std::int32_t port = 0;
    bool secure = false;              // the last Connect asked for TLS
    std::string sent;                 // everything SendData was given
    std::vector<std::uint8_t> inbox;  // bytes GetData would hand over
    int connects = 0;
    int closes = 0;
    int loads = 0;
    std::int32_t read_size = 0;  // the last set_read_size
  };

  /// The record of element `index` (an empty, unloaded record when the
  /// control never touched it).
  Element& element(std::int32_t index);

  /// The far side accepts: State 7, then Connect.
  void accept(std::int32_t index);
  /// Bytes arrive: they join the inbox, then DataArrival with the inbox size.
  void deliver(std::int32_t index, std::string_view bytes);
  /// The element fails with `number`: State 9, then Error.
  void fail(std::int32_t index, std::int16_t number);
  /// The far side ends the connection: State 8, then Close.
  void peer_close(std::int32_t index);

  // The control's side. Calls on an element never loaded fail with 340.

  /// Loads the element; loading a loaded one closes it (counted in closes).
  void Load(std::int32_t index) override;
  bool IsLoaded(std::int32_t index) const override;
  std::int16_t State(std::int32_t index) const override;
  /// State 0 and an empty inbox.
  void Close(std::int32_t index) override;
  using platform::SocketArray::Connect;
  /// Records host, port and security and counts the call; State 6 until the
  /// test accepts or fails it.
  void Connect(std::int32_t index, const std::string& host, std::int32_t port, bool secure) override;
  /// Appends to `sent`, in any state.
  void SendData(std::int32_t index, std::string_view data) override;
  /// Hands over and clears the inbox; the view lasts until the next GetData.
  std::span<const std::uint8_t> GetData(std::int32_t index) override;
  std::int32_t BytesReceived(std::int32_t index) const override;
  /// Recorded only: the inbox takes whatever a test delivers.
  void set_read_size(std::int32_t index, std::int32_t bytes) override { element(index).read_size = bytes; }

 private:
  Element& loaded(std::int32_t index);
  const Element& loaded(std::int32_t index) const;
  static std::int16_t event_index(std::int32_t index);

  std::map<std::int32_t, Element> elements_;
  std::vector<std::uint8_t> taken_;
};

/// The scripted machine: a manual clock, fake socket arrays, manual timers
/// and a queue of posted functions that wait_until works through.
class FakePlatform : public platform::Platform {
 public:
  platform::ManualClock clock_;

  platform::Clock& clock() override { return clock_; }
  std::unique_ptr<platform::SocketArray> make_socket_array() override;
  std::unique_ptr<platform::Timer> make_timer() override;
  /// Runs posted functions one by one until `done` is true (true) or the
  /// queue is empty (false).
  bool wait_until(const std::function<bool()>& done) override;
  /// Records the path instead of starting a program.
  void shell_open(const std::string& path) override { opened.push_back(path); }
  /// Whether the control may take https URLs; a test turns it off to see
  /// a platform without TLS.
  bool tls = true;
  bool offers_tls() const override { return tls; }
  /// The proxies the control is told its sockets go through.
  platform::ProxySettings proxies;
  const platform::ProxyServer* proxy_for(std::string_view host, std::int32_t port, bool secure) const override {
    return proxies.route(host, port, secure);
  }
  /// Every path handed to shell_open, in order.
  std::vector<std::string> opened;

  /// The `n`th socket array made, from 0, in creation order. The control
  /// makes Winsock1 first and pingWs second, so array(0) is Winsock1 and
  /// array(1) is pingWs. Valid while the control that owns it lives.
  FakeSocketArray& array(int n);
  /// How many socket arrays were made.
  int array_count() const { return static_cast<int>(arrays_.size()); }
  /// The last control's Timer1; valid while the control lives.
  platform::ManualTimer& timer();
  /// The last control's pacing timer (the rate cap's).
  platform::ManualTimer& pacing_timer();

  /// Queues a function for wait_until or run_posted.
  void post(std::function<void()> fn) override { posted_.push_back(std::move(fn)); }
  /// Runs posted functions, including ones they post, until none is left.
  void run_posted();
  /// Functions waiting in the queue.
  std::size_t posted_count() const { return posted_.size(); }

 private:
  std::vector<FakeSocketArray*> arrays_;
  platform::ManualTimer* timer_ = nullptr;
  platform::ManualTimer* pacing_timer_ = nullptr;
  int timers_made_ = 0;
  std::deque<std::function<void()>> posted_;
};

}  // namespace vintrel::testing
