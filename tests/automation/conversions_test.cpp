// Automation values converted between their other kinds, and to text.

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

}  // namespace
}  // namespace vintrel::automation
