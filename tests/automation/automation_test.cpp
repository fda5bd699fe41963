// Automation values: errors and their numbers, raw access, integer division
// and counters, and objects.

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
