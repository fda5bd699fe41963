#pragma once
// The control's timer: an interval, an enabled flag and a tick on the
// control's thread.

#include <cstdint>
#include <functional>

namespace vintrel::platform {

/// A timer child control.
class Timer {
 public:
  virtual ~Timer() = default;
  /// Milliseconds between ticks.
  virtual void set_interval(std::int32_t milliseconds) = 0;
  virtual std::int32_t interval() const = 0;
  /// Starts or stops the ticks.
  virtual void set_enabled(bool enabled) = 0;
  virtual bool enabled() const = 0;
  /// The handler run on every tick, on the control's thread.
  void on_tick(std::function<void()> handler) { tick_ = std::move(handler); }

 protected:
  void fire() {
    if (tick_) tick_();
  }

 private:
  std::function<void()> tick_;
};

/// A timer that ticks only when told: tests tick the control directly.
class ManualTimer final : public Timer {
 public:
  void set_interval(std::int32_t milliseconds) override { interval_ = milliseconds; }
  std::int32_t interval() const override { return interval_; }
  void set_enabled(bool enabled) override { enabled_ = enabled; }
  bool enabled() const override { return enabled_; }
  /// Runs one tick when enabled.
  void tick() {
    if (enabled_) fire();
  }

 private:
  std::int32_t interval_ = 0;
  bool enabled_ = false;
};

}  // namespace vintrel::platform
