#include "platform/clock.hpp"

#include <chrono>
#include <cmath>
#include <ctime>

namespace vintrel::platform {

namespace {

constexpr std::int64_t seconds_per_day = 86400;
// Days from 1899-12-30, where automation dates count from, to 1970-01-01.
constexpr std::int64_t epoch_offset_days = 25569;

// Days since 1970-01-01 of a proleptic Gregorian date; `day` may run past
// the month's end and simply counts on.
std::int64_t days_from_civil(std::int64_t y, unsigned m, std::int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468 + d - 1;
}

// A date as whole seconds since 1899-12-30 00:00. The integer part of a
// serial is the day and the fraction is the time of day forward from
// midnight, even for negative serials (-1.25 is 29 December 1899, 06:00);
// rounding to the second absorbs the floating error of the fraction.
std::int64_t to_seconds(automation::Date date) {
  if (!std::isfinite(date.serial) || std::fabs(date.serial) > 1e9) automation::raise(automation::err::overflow);
  const double whole = std::trunc(date.serial);
  const auto day = static_cast<std::int64_t>(whole);
  return day * seconds_per_day + std::llround(std::fabs(date.serial - whole) * seconds_per_day);
}

automation::Date from_seconds(std::int64_t total) {
  std::int64_t day = total / seconds_per_day;
  std::int64_t second = total % seconds_per_day;
  if (second < 0) {
    second += seconds_per_day;
    --day;
  }
  const double fraction = static_cast<double>(second) / seconds_per_day;
  const auto whole = static_cast<double>(day);
  return automation::Date{day >= 0 ? whole + fraction : whole - fraction};
}

}  // namespace

automation::Date make_date(int year, int month, int day, int hour, int minute, int second) {
  // Months past 12 (or below 1) carry into the year; everything smaller
  // than a month carries by plain counting.
  const std::int64_t m0 = std::int64_t{month} - 1;
  const std::int64_t carry = m0 >= 0 ? m0 / 12 : -((11 - m0) / 12);  // floor(m0 / 12)
  const auto m = static_cast<unsigned>(m0 - carry * 12 + 1);
  const std::int64_t days = days_from_civil(year + carry, m, day) + epoch_offset_days;
  const std::int64_t seconds = std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
  return from_seconds(days * seconds_per_day + seconds);
}

automation::Date ManualClock::make_date(int year, int month, int day, int hour, int minute, int second) {
  return platform::make_date(year, month, day, hour, minute, second);
}

void ManualClock::advance(std::int64_t seconds) {
  now_ = add_seconds(now_, seconds);
  milliseconds_ += seconds * 1000;
}

std::int64_t SystemClock::steady_milliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

automation::Date SystemClock::Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return make_date(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

std::int64_t seconds_between(automation::Date from, automation::Date to) { return to_seconds(to) - to_seconds(from); }

automation::Date add_seconds(automation::Date date, std::int64_t seconds) {
  return from_seconds(to_seconds(date) + seconds);
}

}  // namespace vintrel::platform
