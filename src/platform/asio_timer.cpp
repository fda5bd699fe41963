#include "platform/asio_timer.hpp"

#include <chrono>
#include <cstdint>
#include <memory>

namespace vintrel::platform {

namespace asio = boost::asio;
using error_code = boost::system::error_code;
using steady = std::chrono::steady_clock;

namespace {

// Every wait holds the timer's core by shared_ptr and the generation it was
// armed for; the timer going away clears the core's owner, so a tick still
// queued on the loop finds no one to call.
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

  void tick(const std::shared_ptr<Core>& core) {
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

}  // namespace

std::unique_ptr<Timer> make_asio_timer(asio::io_context& io) { return std::make_unique<AsioTimer>(io); }

}  // namespace vintrel::platform
