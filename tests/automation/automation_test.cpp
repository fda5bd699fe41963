#include "automation/automation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "support/errors.hpp"

namespace vintrel::automation {
namespace {

using platform::make_date;
using testing::error_of;

class Plain final : public Object {
 public:
  std::string_view class_name() const override { return "Plain"; }
};

Variant i2(std::int16_t v) { return Variant(v); }
Variant i4(std::int32_t v) { return Variant(v); }

// --- errors ---------------------------------------------------------------

TEST(AutomationErrors, RaiseCarriesStandardDescriptionAndSource) {
  try {
    raise(err::overflow);
    FAIL() << "raise returned";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 6);
    EXPECT_EQ(e.source(), "Vintrel");
    EXPECT_EQ(e.description(), "Overflow");
    EXPECT_STREQ(e.what(), "Overflow");
  }
}

TEST(AutomationErrors, RaiseWithOwnTextKeepsIt) {
  try {
    raise(20001, "Mirror", "No mirror answered");
    FAIL() << "raise returned";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 20001);
    EXPECT_EQ(e.source(), "Mirror");
    EXPECT_EQ(e.description(), "No mirror answered");
  }
}

TEST(AutomationErrors, StandardDescriptionsMatchTheRuntime) {
  EXPECT_EQ(standard_description(5), "Invalid procedure call or argument");
  EXPECT_EQ(standard_description(9), "Subscript out of range");
  EXPECT_EQ(standard_description(11), "Division by zero");
  EXPECT_EQ(standard_description(13), "Type mismatch");
  EXPECT_EQ(standard_description(94), "Invalid use of Null");
  EXPECT_EQ(standard_description(340), "Control array element does not exist");
  EXPECT_EQ(standard_description(424), "Object required");
  EXPECT_EQ(standard_description(438), "Object doesn't support this property or method");
  EXPECT_EQ(standard_description(450), "Wrong number of arguments or invalid property assignment");
  EXPECT_EQ(standard_description(20001), "Application-defined or object-defined error");
}

// --- raw access -----------------------------------------------------------

TEST(VariantAccess, AccessorOfAnotherKindRaisesTypeMismatch) {
  EXPECT_EQ(error_of([] { (void)i4(5).i2(); }), err::type_mismatch);
  EXPECT_EQ(error_of([] { (void)i2(5).i4(); }), err::type_mismatch);
  EXPECT_EQ(error_of([] { (void)Variant("5").r8(); }), err::type_mismatch);
  EXPECT_EQ(error_of([] { (void)Variant(1.0).date(); }), err::type_mismatch);
  EXPECT_EQ(error_of([] { (void)Variant(true).i2(); }), err::type_mismatch);
  EXPECT_EQ(error_of([] { (void)Variant().bstr(); }), err::type_mismatch);
  EXPECT_EQ(error_of([] { (void)Variant("x").bytes(); }), err::type_mismatch);
  EXPECT_EQ(error_of([] { (void)Variant(std::vector<std::uint8_t>{}).object(); }), err::type_mismatch);
}

TEST(VariantAccess, EachConstructorHoldsItsKind) {
  EXPECT_EQ(Variant().type(), VarType::Empty);
  EXPECT_TRUE(Variant().is_empty());
  EXPECT_EQ(Variant::null().type(), VarType::Null);
  EXPECT_EQ(i2(-7).i2(), -7);
  EXPECT_EQ(i4(100000).i4(), 100000);
  EXPECT_EQ(Variant(2.5).r8(), 2.5);
  EXPECT_EQ(Variant(Currency{15000}).cy(), Currency{15000});
  EXPECT_EQ(Variant(Date{25934.5}).date(), Date{25934.5});
  EXPECT_EQ(Variant("abc").bstr(), "abc");
  EXPECT_EQ(Variant(std::string("def")).bstr(), "def");
  EXPECT_TRUE(Variant(true).boolean());
  EXPECT_FALSE(Variant(false).boolean());
  EXPECT_EQ(Variant(std::vector<std::uint8_t>{1, 2}).bytes(), (std::vector<std::uint8_t>{1, 2}));
  auto object = std::make_shared<Plain>();
  EXPECT_EQ(Variant(std::static_pointer_cast<Object>(object)).object().get(), object.get());
}

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

// --- other kinds ----------------------------------------------------------

TEST(VariantConversion, BoolIsMinusOneOrZero) {
  EXPECT_EQ(to_i2(Variant(true)), -1);
  EXPECT_EQ(to_i4(Variant(true)), -1);
  EXPECT_EQ(to_r8(Variant(true)), -1.0);
  EXPECT_EQ(to_i4(Variant(false)), 0);
  EXPECT_EQ(to_cy(Variant(true)), Currency{-10000});
}

TEST(VariantConversion, EmptyIsZeroBlankOrFalse) {
  EXPECT_EQ(to_i2(Variant()), 0);
  EXPECT_EQ(to_i4(Variant()), 0);
  EXPECT_EQ(to_r8(Variant()), 0.0);
  EXPECT_EQ(to_cy(Variant()), Currency{0});
  EXPECT_EQ(to_date(Variant()), Date{0});
  EXPECT_EQ(to_bstr(Variant()), "");
  EXPECT_FALSE(to_bool(Variant()));
  EXPECT_TRUE(to_bytes(Variant()).empty());
}

TEST(VariantConversion, NullRaisesInvalidUseOfNull) {
  const Variant null = Variant::null();
  EXPECT_EQ(error_of([&] { to_i2(null); }), err::invalid_use_of_null);
  EXPECT_EQ(error_of([&] { to_i4(null); }), err::invalid_use_of_null);
  EXPECT_EQ(error_of([&] { to_r8(null); }), err::invalid_use_of_null);
  EXPECT_EQ(error_of([&] { to_cy(null); }), err::invalid_use_of_null);
  EXPECT_EQ(error_of([&] { to_date(null); }), err::invalid_use_of_null);
  EXPECT_EQ(error_of([&] { to_bool(null); }), err::invalid_use_of_null);
  EXPECT_EQ(error_of([&] { to_bstr(null); }), err::invalid_use_of_null);
  EXPECT_EQ(error_of([&] { to_bytes(null); }), err::invalid_use_of_null);
}

TEST(VariantConversion, ObjectConvertsOnlyToObject) {
  const Variant object(std::static_pointer_cast<Object>(std::make_shared<Plain>()));
  EXPECT_EQ(to_object(object), object.object());
  EXPECT_EQ(error_of([&] { to_i2(object); }), err::type_mismatch);
  EXPECT_EQ(error_of([&] { to_i4(object); }), err::type_mismatch);
  EXPECT_EQ(error_of([&] { to_r8(object); }), err::type_mismatch);
  EXPECT_EQ(error_of([&] { to_cy(object); }), err::type_mismatch);
  EXPECT_EQ(error_of([&] { to_date(object); }), err::type_mismatch);
  EXPECT_EQ(error_of([&] { to_bool(object); }), err::type_mismatch);
  EXPECT_EQ(error_of([&] { to_bstr(object); }), err::type_mismatch);
  EXPECT_EQ(error_of([&] { to_bytes(object); }), err::type_mismatch);
}

TEST(VariantConversion, NonObjectToObjectRaisesObjectRequired) {
  EXPECT_EQ(error_of([] { to_object(Variant()); }), err::object_required);
  EXPECT_EQ(error_of([] { to_object(Variant::null()); }), err::object_required);
  EXPECT_EQ(error_of([] { to_object(i4(1)); }), err::object_required);
  EXPECT_EQ(error_of([] { to_object(Variant("Plain")); }), err::object_required);
  // Nothing is still an object reference.
  EXPECT_EQ(to_object(Variant(std::shared_ptr<Object>())), nullptr);
}

TEST(VariantConversion, DateAndCurrencyToReal) {
  EXPECT_EQ(to_r8(Variant(Date{25934.5})), 25934.5);
  EXPECT_EQ(to_r8(Variant(Currency{12345})), 1.2345);
  EXPECT_EQ(to_r8(Variant(Currency{-5000})), -0.5);
  EXPECT_EQ(to_i4(Variant(Date{25934.5})), 25934);
}

TEST(VariantConversion, BytesAndTextCarryOneCharPerByte) {
  const std::vector<std::uint8_t> bytes{'G', 0, 0xFF, '\n'};
  const std::string text = to_bstr(Variant(bytes));
  EXPECT_EQ(text, std::string("G\0\xFF\n", 4));
  EXPECT_EQ(to_bytes(Variant(text)), bytes);
  EXPECT_EQ(to_bytes(Variant(bytes)), bytes);
  EXPECT_EQ(error_of([] { to_bytes(i4(5)); }), err::type_mismatch);
  EXPECT_EQ(error_of([&] { to_i4(Variant(bytes)); }), err::type_mismatch);
}

TEST(VariantConversion, ToBoolReadsNumbersAndTrueFalseText) {
  EXPECT_TRUE(to_bool(i2(2)));
  EXPECT_FALSE(to_bool(i4(0)));
  EXPECT_TRUE(to_bool(Variant(0.25)));
  EXPECT_TRUE(to_bool(Variant(Currency{1})));
  EXPECT_FALSE(to_bool(Variant(Currency{0})));
  EXPECT_TRUE(to_bool(Variant("True")));
  EXPECT_TRUE(to_bool(Variant("tRUE")));
  EXPECT_FALSE(to_bool(Variant("FALSE")));
  EXPECT_TRUE(to_bool(Variant("-1")));
  EXPECT_FALSE(to_bool(Variant(" 0 ")));
  EXPECT_TRUE(to_bool(Variant("0.5")));
  EXPECT_EQ(error_of([] { to_bool(Variant("yes")); }), err::type_mismatch);
  EXPECT_EQ(error_of([] { to_bool(Variant("")); }), err::type_mismatch);
}

TEST(VariantConversion, ToCurrencyRoundsToFourDecimalsHalfToEven) {
  EXPECT_EQ(to_cy(Variant(1.5)), Currency{15000});
  EXPECT_EQ(to_cy(Variant(1.23456)), Currency{12346});
  EXPECT_EQ(to_cy(Variant(0.00025)), Currency{2});
  EXPECT_EQ(to_cy(Variant(0.00035)), Currency{4});
  EXPECT_EQ(to_cy(Variant(-0.00025)), Currency{-2});
  EXPECT_EQ(to_cy(i4(100000)), Currency{1000000000});
  EXPECT_EQ(to_cy(Variant("2.5")), Currency{25000});
  EXPECT_EQ(error_of([] { to_cy(Variant(1e15)); }), err::overflow);
  EXPECT_EQ(error_of([] { to_cy(Variant(-1e15)); }), err::overflow);
  // Near the top of the range the last digits survive.
  EXPECT_EQ(to_cy(Variant(922337203685477.0)), Currency{9223372036854770000});
  EXPECT_EQ(to_cy(Variant(922337203685477.5)), Currency{9223372036854775000});
  EXPECT_EQ(to_cy(Variant(-922337203685477.5)), Currency{-9223372036854775000});
  EXPECT_EQ(error_of([] { to_cy(Variant(922337203685478.0)); }), err::overflow);
  EXPECT_EQ(error_of([] { to_cy(Variant(std::numeric_limits<double>::quiet_NaN())); }), err::overflow);
}

TEST(VariantConversion, ToDateTakesNumbersAsSerials) {
  EXPECT_EQ(to_date(Variant(25934.5)), Date{25934.5});
  EXPECT_EQ(to_date(i4(2)), Date{2});
  EXPECT_EQ(to_date(Variant("25934.5")), Date{25934.5});
  EXPECT_EQ(error_of([] { to_date(Variant("1/1/1971")); }), err::type_mismatch);
  EXPECT_EQ(error_of([] { to_date(Variant(1e10)); }), err::overflow);
}

// --- to text --------------------------------------------------------------

TEST(VariantToText, ScalarsAsTheRuntimeWritesThem) {
  EXPECT_EQ(to_bstr(Variant(true)), "True");
  EXPECT_EQ(to_bstr(Variant(false)), "False");
  EXPECT_EQ(to_bstr(i2(-32768)), "-32768");
  EXPECT_EQ(to_bstr(i4(102400)), "102400");
  EXPECT_EQ(to_bstr(Variant(1.0 / 3 * 100)), "33.3333333333333");
}

TEST(VariantToText, CurrencyUsesAtMostFourDecimalsShortest) {
  EXPECT_EQ(to_bstr(Variant(Currency{12345})), "1.2345");
  EXPECT_EQ(to_bstr(Variant(Currency{15000})), "1.5");
  EXPECT_EQ(to_bstr(Variant(Currency{30000})), "3");
  EXPECT_EQ(to_bstr(Variant(Currency{-5000})), "-0.5");
  EXPECT_EQ(to_bstr(Variant(Currency{1})), "0.0001");
  EXPECT_EQ(to_bstr(Variant(Currency{0})), "0");
  EXPECT_EQ(to_bstr(Variant(Currency{std::numeric_limits<std::int64_t>::min()})), "-922337203685477.5808");
}

TEST(VariantToText, DateShowsOnlyThePartsThatAreSet) {
  EXPECT_EQ(to_bstr(Variant(make_date(1971, 1, 1, 0, 1, 0))), "1/1/1971 12:01:00 AM");
  EXPECT_EQ(to_bstr(Variant(make_date(2026, 12, 31, 23, 59, 59))), "12/31/2026 11:59:59 PM");
  EXPECT_EQ(to_bstr(Variant(make_date(2026, 3, 4, 12, 0, 5))), "3/4/2026 12:00:05 PM");
  EXPECT_EQ(to_bstr(Variant(make_date(1971, 1, 1, 0, 0, 0))), "1/1/1971");
  EXPECT_EQ(to_bstr(Variant(Date{0.5})), "12:00:00 PM");
  EXPECT_EQ(to_bstr(Variant(make_date(1899, 12, 30, 15, 4, 5))), "3:04:05 PM");
  EXPECT_EQ(to_bstr(Variant(Date{0})), "12:00:00 AM");
  EXPECT_EQ(to_bstr(Variant(Date{-1.25})), "12/29/1899 6:00:00 AM");
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

// --- integer division and counters ----------------------------------------

TEST(IntegerDivision, RoundsOperandsThenTruncatesTowardZero) {
  EXPECT_EQ(int_div(409600, 4), 102400);
  EXPECT_EQ(int_div(102400, 1024), 100);
  EXPECT_EQ(int_div(2.5, 1), 2);
  EXPECT_EQ(int_div(3.5, 1), 4);
  EXPECT_EQ(int_div(7, -2), -3);
  EXPECT_EQ(int_div(-7, 2), -3);
  EXPECT_EQ(int_div(7, 2.5), 3);  // 7 \ 2
  EXPECT_EQ(int_div(5.0 * 1073741824.0, 1), 5368709120);
  EXPECT_EQ(int_div(5.0 * 1073741824.0, 1024), 5242880);
}

TEST(IntegerDivision, ZeroDivisorAfterRoundingRaisesElevenAndHugeOperandsSix) {
  EXPECT_EQ(error_of([] { int_div(1, 0); }), err::division_by_zero);
  EXPECT_EQ(error_of([] { int_div(1, 0.4); }), err::division_by_zero);
  EXPECT_EQ(error_of([] { int_div(1, -0.5); }), err::division_by_zero);
  EXPECT_EQ(error_of([] { int_div(1e19, 1); }), err::overflow);
  EXPECT_EQ(error_of([] { int_div(-9223372036854775808.0, -1); }), err::overflow);
}

TEST(CounterIncrement, PastTheTopRaisesOverflowAndLeavesCounterAlone) {
  std::int16_t small = 32766;
  increment(small);
  EXPECT_EQ(small, 32767);
  EXPECT_EQ(error_of([&] { increment(small); }), err::overflow);
  EXPECT_EQ(small, 32767);

  std::int32_t large = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(error_of([&] { increment(large); }), err::overflow);
  EXPECT_EQ(large, std::numeric_limits<std::int32_t>::max());
  std::int32_t negative = -1;
  increment(negative);
  EXPECT_EQ(negative, 0);
}

// --- objects --------------------------------------------------------------

TEST(ObjectMembers, DefaultsRaiseNoSuchMember) {
  Plain object;
  std::vector<Variant> args;
  EXPECT_EQ(error_of([&] { object.get("Anything"); }), err::no_member);
  EXPECT_EQ(error_of([&] { object.put("Anything", Variant(1.0)); }), err::no_member);
  EXPECT_EQ(error_of([&] { object.call("Anything", args); }), err::no_member);
  EXPECT_TRUE(object.member_names().empty());
}

TEST(ObjectMembers, NamesCompareIgnoringAsciiCase) {
  EXPECT_TRUE(same_name("Count", "count"));
  EXPECT_TRUE(same_name("FILENAME", "FileName"));
  EXPECT_TRUE(same_name("", ""));
  EXPECT_FALSE(same_name("Count", "Counts"));
  EXPECT_FALSE(same_name("Item", "Itam"));
  // Only letters fold: these pairs differ by the same bit as 'a' and 'A'.
  EXPECT_FALSE(same_name("x[", "x{"));
  EXPECT_FALSE(same_name("@", "`"));
}

}  // namespace
}  // namespace vintrel::automation
