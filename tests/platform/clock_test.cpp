#include "platform/clock.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace vintrel::platform {
namespace {

constexpr double one_second = 1.0 / 86400;

TEST(ClockDates, SerialCountsDaysFromTheEndOf1899) {
  EXPECT_EQ(make_date(1899, 12, 30, 0, 0, 0).serial, 0.0);
  EXPECT_EQ(make_date(1899, 12, 31, 0, 0, 0).serial, 1.0);
  EXPECT_EQ(make_date(1900, 1, 1, 0, 0, 0).serial, 2.0);
  EXPECT_EQ(make_date(1970, 1, 1, 0, 0, 0).serial, 25569.0);
  EXPECT_EQ(make_date(2000, 1, 1, 0, 0, 0).serial, 36526.0);
  EXPECT_DOUBLE_EQ(make_date(1971, 1, 1, 0, 1, 0).serial, 25934.0 + 60.0 / 86400);
  EXPECT_DOUBLE_EQ(make_date(2026, 1, 1, 18, 0, 0).serial, make_date(2026, 1, 1, 0, 0, 0).serial + 0.75);
}

TEST(ClockDates, LeapYearsFollowTheGregorianRules) {
  const auto days = [](automation::Date a, automation::Date b) { return b.serial - a.serial; };
  EXPECT_EQ(days(make_date(2000, 2, 28, 0, 0, 0), make_date(2000, 3, 1, 0, 0, 0)), 2.0);
  EXPECT_EQ(days(make_date(2024, 2, 28, 0, 0, 0), make_date(2024, 3, 1, 0, 0, 0)), 2.0);
  EXPECT_EQ(days(make_date(1900, 2, 28, 0, 0, 0), make_date(1900, 3, 1, 0, 0, 0)), 1.0);
  EXPECT_EQ(days(make_date(2100, 2, 28, 0, 0, 0), make_date(2100, 3, 1, 0, 0, 0)), 1.0);
  EXPECT_EQ(days(make_date(2025, 1, 1, 0, 0, 0), make_date(2026, 1, 1, 0, 0, 0)), 365.0);
}

TEST(ClockDates, FieldsPastTheirRangeCarryOver) {
  EXPECT_EQ(make_date(2025, 13, 1, 0, 0, 0), make_date(2026, 1, 1, 0, 0, 0));
  EXPECT_EQ(make_date(2026, 0, 1, 0, 0, 0), make_date(2025, 12, 1, 0, 0, 0));
  EXPECT_EQ(make_date(2026, 1, 32, 0, 0, 0), make_date(2026, 2, 1, 0, 0, 0));
  EXPECT_EQ(make_date(2026, 1, 1, 24, 0, 0), make_date(2026, 1, 2, 0, 0, 0));
  EXPECT_EQ(make_date(2026, 1, 1, 0, 0, 60), make_date(2026, 1, 1, 0, 1, 0));
}

TEST(ClockDates, BeforeTheEpochTheFractionStillRunsForward) {
  // 29 December 1899 06:00 is day -1 plus a quarter day: serial -1.25.
  EXPECT_EQ(make_date(1899, 12, 29, 6, 0, 0).serial, -1.25);
  EXPECT_EQ(seconds_between(make_date(1899, 12, 29, 23, 0, 0), make_date(1899, 12, 30, 1, 0, 0)), 7200);
  EXPECT_EQ(seconds_between(make_date(1899, 12, 28, 12, 0, 0), make_date(1899, 12, 29, 6, 0, 0)), 64800);
  EXPECT_EQ(add_seconds(make_date(1899, 12, 29, 23, 59, 59), 1), make_date(1899, 12, 30, 0, 0, 0));
  EXPECT_EQ(add_seconds(make_date(1899, 12, 30, 0, 0, 0), -1), make_date(1899, 12, 29, 23, 59, 59));
}

TEST(ClockSeconds, DifferenceAcrossMidnight) {
  const automation::Date before = make_date(2026, 3, 31, 23, 59, 58);
  const automation::Date after = make_date(2026, 4, 1, 0, 0, 3);
  EXPECT_EQ(seconds_between(before, after), 5);
  EXPECT_EQ(seconds_between(after, before), -5);
  EXPECT_EQ(seconds_between(before, before), 0);
}

TEST(ClockSeconds, FloatingNoiseDoesNotLoseASecond) {
  const automation::Date start = make_date(2026, 6, 15, 10, 20, 30);
  const automation::Date two_later = add_seconds(add_seconds(start, 1), 1);
  EXPECT_EQ(seconds_between(start, two_later), 2);
  // Serials built by adding fractions carry error either side of the second.
  EXPECT_EQ(seconds_between(start, automation::Date{start.serial + one_second + one_second}), 2);
  EXPECT_EQ(seconds_between(start, automation::Date{start.serial + 2 * one_second - 1e-10}), 2);
  EXPECT_EQ(seconds_between(automation::Date{start.serial + 1e-10}, automation::Date{start.serial + 3 * one_second}),
            3);
  automation::Date stepped = start;
  for (int i = 0; i < 1000; ++i) stepped = automation::Date{stepped.serial + one_second};
  EXPECT_EQ(seconds_between(start, stepped), 1000);
}

TEST(ClockSeconds, AddSecondsLandsOnTheCalendarDate) {
  EXPECT_EQ(add_seconds(make_date(2026, 1, 1, 23, 59, 59), 1), make_date(2026, 1, 2, 0, 0, 0));
  EXPECT_EQ(add_seconds(make_date(2026, 1, 1, 0, 0, 0), -1), make_date(2025, 12, 31, 23, 59, 59));
  EXPECT_EQ(add_seconds(make_date(2026, 1, 1, 0, 0, 0), 86400 * 31), make_date(2026, 2, 1, 0, 0, 0));
  EXPECT_EQ(add_seconds(make_date(2026, 1, 1, 12, 0, 0), 0), make_date(2026, 1, 1, 12, 0, 0));
}

TEST(ClockManual, MovesOnlyWhenTold) {
  ManualClock clock;
  EXPECT_EQ(clock.Now(), make_date(2026, 1, 1, 12, 0, 0));
  EXPECT_EQ(clock.Now(), clock.Now());
  clock.advance(90);
  EXPECT_EQ(clock.Now(), make_date(2026, 1, 1, 12, 1, 30));
  clock.advance(12 * 3600);
  EXPECT_EQ(clock.Now(), make_date(2026, 1, 2, 0, 1, 30));
  clock.set(make_date(1999, 12, 31, 23, 59, 59));
  clock.advance(1);
  EXPECT_EQ(clock.Now(), make_date(2000, 1, 1, 0, 0, 0));
  EXPECT_EQ(ManualClock::make_date(2026, 5, 6, 7, 8, 9), make_date(2026, 5, 6, 7, 8, 9));
}

TEST(ClockSystem, NowIsAPlausibleDateInWholeSeconds) {
  SystemClock clock;
  const automation::Date now = clock.Now();
  EXPECT_GT(now.serial, make_date(2020, 1, 1, 0, 0, 0).serial);
  EXPECT_LT(now.serial, make_date(2200, 1, 1, 0, 0, 0).serial);
  const double seconds = (now.serial - std::floor(now.serial)) * 86400;
  EXPECT_NEAR(seconds, std::round(seconds), 1e-3);
}

}  // namespace
}  // namespace vintrel::platform
