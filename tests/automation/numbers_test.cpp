// Automation values as numbers: reals rounded to integers, text read as a
// number, and numbers written as text.

#include "automation/automation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "automation/automation_rig.hpp"
#include "platform/clock.hpp"
#include "support/errors.hpp"

namespace vintrel::automation {
namespace {

using namespace automation_rig;

// --- real to integer ------------------------------------------------------

TEST(VariantConversion, RealToIntegerRoundsHalfToEven) {
  EXPECT_EQ(to_i2(Variant(2.5)), 2);
  EXPECT_EQ(to_i2(Variant(3.5)), 4);
  EXPECT_EQ(to_i2(Variant(-2.5)), -2);
  EXPECT_EQ(to_i2(Variant(-3.5)), -4);
  EXPECT_EQ(to_i2(Variant(0.5)), 0);
  EXPECT_EQ(to_i2(Variant(2.4999999)), 2);
  EXPECT_EQ(to_i2(Variant(2.5000001)), 3);
  EXPECT_EQ(to_i4(Variant(2.5)), 2);
  EXPECT_EQ(to_i4(Variant(3.5)), 4);
  EXPECT_EQ(to_i4(Variant(-2.5)), -2);
  EXPECT_EQ(to_i4(Variant(1000000.5)), 1000000);
  EXPECT_EQ(round_to_i8(4503599627370495.5), 4503599627370496);
  EXPECT_EQ(round_to_i8(-4503599627370494.5), -4503599627370494);
}

TEST(VariantConversion, IntegerPastRangeRaisesOverflow) {
  EXPECT_EQ(error_of([] { to_i2(i4(32768)); }), err::overflow);
  EXPECT_EQ(error_of([] { to_i2(i4(-32769)); }), err::overflow);
  EXPECT_EQ(error_of([] { to_i2(Variant(32768.0)); }), err::overflow);
  EXPECT_EQ(error_of([] { to_i2(Variant(-32769.0)); }), err::overflow);
  // The range check applies to the rounded value.
  EXPECT_EQ(error_of([] { to_i2(Variant(32767.5)); }), err::overflow);
  EXPECT_EQ(to_i2(Variant(-32768.5)), -32768);
  EXPECT_EQ(to_i2(i4(32767)), 32767);
  EXPECT_EQ(to_i2(i4(-32768)), -32768);
  EXPECT_EQ(error_of([] { to_i4(Variant(2147483648.0)); }), err::overflow);
  EXPECT_EQ(error_of([] { to_i4(Variant(-2147483649.0)); }), err::overflow);
  EXPECT_EQ(to_i4(Variant(-2147483648.0)), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(error_of([] { round_to_i8(9223372036854775808.0); }), err::overflow);
  EXPECT_EQ(round_to_i8(-9223372036854775808.0), std::numeric_limits<std::int64_t>::min());
}

TEST(VariantConversion, NonFiniteRealRaisesOverflow) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(error_of([&] { round_to_i2(nan); }), err::overflow);
  EXPECT_EQ(error_of([&] { round_to_i4(inf); }), err::overflow);
  EXPECT_EQ(error_of([&] { round_to_i8(-inf); }), err::overflow);
}

TEST(VariantConversion, CurrencyToIntegerRoundsExactlyHalfToEven) {
  EXPECT_EQ(to_i4(Variant(Currency{25000})), 2);
  EXPECT_EQ(to_i4(Variant(Currency{35000})), 4);
  EXPECT_EQ(to_i4(Variant(Currency{-25000})), -2);
  EXPECT_EQ(to_i4(Variant(Currency{-35000})), -4);
  EXPECT_EQ(to_i4(Variant(Currency{25001})), 3);
  EXPECT_EQ(to_i4(Variant(Currency{-24999})), -2);
  EXPECT_EQ(error_of([] { to_i2(Variant(Currency{327675000})); }), err::overflow);
}

// --- text to number -------------------------------------------------------

TEST(TextToNumber, AcceptsDecimalFormsWithBlanksAround) {
  EXPECT_EQ(parse_number(" 42 "), 42.0);
  EXPECT_EQ(parse_number("\t42\t"), 42.0);
  EXPECT_EQ(parse_number("-1.5"), -1.5);
  EXPECT_EQ(parse_number("+3"), 3.0);
  EXPECT_EQ(parse_number(".5"), 0.5);
  EXPECT_EQ(parse_number("5."), 5.0);
  EXPECT_EQ(parse_number("1.5e2"), 150.0);
  EXPECT_EQ(parse_number("1.5E+2"), 150.0);
  EXPECT_EQ(parse_number("25e-1"), 2.5);
  EXPECT_EQ(parse_number("0"), 0.0);
  EXPECT_EQ(parse_number("-0.000"), 0.0);
}

TEST(TextToNumber, AcceptsHexAndOctalForms) {
  EXPECT_EQ(parse_number("&H10"), 16.0);
  EXPECT_EQ(parse_number("&h1f"), 31.0);
  EXPECT_EQ(parse_number(" &HFF "), 255.0);
  EXPECT_EQ(parse_number("&O17"), 15.0);
  EXPECT_EQ(parse_number("&o7"), 7.0);
}

TEST(TextToNumber, RejectsEverythingElseWithTypeMismatch) {
  for (const char* text : {"80a",  "",    "   ", "-",  ".",   "1e",  "1e+",  "e5",  "1.2.3", "1 2", "1,000",
                           "0x10", "inf", "nan", "&H", "&HG", "&O8", "&X10", "- 1", "1d5",   "$5"}) {
    EXPECT_EQ(error_of([&] { parse_number(text); }), err::type_mismatch) << '"' << text << '"';
  }
}

TEST(TextToNumber, MagnitudePastRealRangeOverflowsAndTinyOneIsZero) {
  EXPECT_EQ(error_of([] { parse_number("1e400"); }), err::overflow);
  EXPECT_EQ(error_of([] { parse_number("-123456e305"); }), err::overflow);
  EXPECT_EQ(parse_number("1e-400"), 0.0);
  EXPECT_EQ(parse_number("0.0001e-330"), 0.0);
  EXPECT_EQ(error_of([] { parse_number("&H10000000000000000"); }), err::overflow);
}

TEST(TextToNumber, TextToIntegerParsesThenRoundsAndChecksRange) {
  EXPECT_EQ(to_i2(Variant(" 42 ")), 42);
  EXPECT_EQ(to_i2(Variant("2.5")), 2);
  EXPECT_EQ(to_i4(Variant("3.5")), 4);
  EXPECT_EQ(to_i2(Variant("&H10")), 16);
  EXPECT_EQ(error_of([] { to_i2(Variant("40000")); }), err::overflow);
  EXPECT_EQ(error_of([] { to_i2(Variant("80a")); }), err::type_mismatch);
  EXPECT_EQ(to_r8(Variant("1E-05")), 1e-5);
}

// --- number text ----------------------------------------------------------

TEST(NumberText, PlainFormUpToFifteenDigits) {
  EXPECT_EQ(number_text(25.0), "25");
  EXPECT_EQ(number_text(1.0 / 3 * 100), "33.3333333333333");
  EXPECT_EQ(number_text(0.5), "0.5");
  EXPECT_EQ(number_text(-3.0), "-3");
  EXPECT_EQ(number_text(0.0), "0");
  EXPECT_EQ(number_text(-0.0), "0");
  EXPECT_EQ(number_text(0.1 + 0.2), "0.3");
  EXPECT_EQ(number_text(123456.789), "123456.789");
  EXPECT_EQ(number_text(999999999999999.0), "999999999999999");
  EXPECT_EQ(number_text(0.0001), "0.0001");
  EXPECT_EQ(number_text(-0.00012345), "-0.00012345");
  EXPECT_EQ(number_text(1234567.0), "1234567");
}

TEST(NumberText, ExponentFormForLargeAndSmallMagnitudes) {
  EXPECT_EQ(number_text(1e15), "1E+15");
  EXPECT_EQ(number_text(1.5e20), "1.5E+20");
  EXPECT_EQ(number_text(12345678901234567890.0), "1.23456789012346E+19");
  EXPECT_EQ(number_text(-2e100), "-2E+100");
  EXPECT_EQ(number_text(1e-5), "1E-05");
  EXPECT_EQ(number_text(1.5e-7), "1.5E-07");
  EXPECT_EQ(number_text(-2.5e-300), "-2.5E-300");
}

TEST(NumberText, RoundingToFifteenDigitsCanMoveTheExponent) {
  EXPECT_EQ(number_text(9.999999999999999e14), "1E+15");
  EXPECT_EQ(number_text(std::nextafter(1e15, 0.0)), "1E+15");
  EXPECT_EQ(number_text(std::nextafter(1.0, 0.0)), "1");
  EXPECT_EQ(number_text(std::nextafter(1e-4, 0.0)), "0.0001");
  EXPECT_EQ(number_text(std::nextafter(-1e-5, 0.0)), "-1E-05");
}

TEST(NumberText, IntegersArePlainDecimal) {
  EXPECT_EQ(number_text(std::int64_t{0}), "0");
  EXPECT_EQ(number_text(std::int64_t{5368709120}), "5368709120");
  EXPECT_EQ(number_text(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
}

}  // namespace
}  // namespace vintrel::automation
