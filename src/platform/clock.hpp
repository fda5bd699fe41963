#pragma once
// Local date and time as automation dates, whole-second differences, and a
// steady count of milliseconds for pacing.

#include <cstdint>

#include "automation/automation.hpp"

namespace vintrel::platform {

/// The current local date and time.
class Clock {
 public:
  virtual ~Clock() = default;
  /// Now, as an automation date with whole seconds.
  virtual automation::Date Now() = 0;
  /// Milliseconds from some fixed start, never going back when the date is
  /// set: only differences mean anything.
  virtual std::int64_t steady_milliseconds() = 0;
};

/// The machine's local time.
class SystemClock final : public Clock {
 public:
  automation::Date Now() override;
  std::int64_t steady_milliseconds() override;
};

/// A clock that moves only when told: tests drive time with it.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(automation::Date start = make_date(2026, 1, 1, 12, 0, 0)) : now_(start) {}
  automation::Date Now() override { return now_; }
  std::int64_t steady_milliseconds() override { return milliseconds_; }
  /// Moves the clock forward by whole seconds.
  void advance(std::int64_t seconds);
  /// Moves the steady count only, for what is paced finer than a second.
  void advance_milliseconds(std::int64_t milliseconds) { milliseconds_ += milliseconds; }
  void set(automation::Date now) { now_ = now; }

  /// The automation date of a local calendar date and time.
  static automation::Date make_date(int year, int month, int day, int hour, int minute, int second);

 private:
  automation::Date now_;
  std::int64_t milliseconds_ = 0;
};

/// The automation date of a calendar date and time.
automation::Date make_date(int year, int month, int day, int hour, int minute, int second);

/// Whole seconds from `from` to `to` (negative when `to` is earlier): the
/// count of second boundaries between them, as a date difference in seconds.
std::int64_t seconds_between(automation::Date from, automation::Date to);

/// `date` moved by whole seconds.
automation::Date add_seconds(automation::Date date, std::int64_t seconds);

}  // namespace vintrel::platform
