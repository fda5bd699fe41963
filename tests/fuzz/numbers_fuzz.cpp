// Text read as a number by the automation conversions. Text that is no
// number fails with 13 and a number past the target's range with 6; what
// converts must agree with the plain reading, and number text the control
// writes must read back as itself.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "automation/automation.hpp"

using namespace vintrel;

namespace {

[[noreturn]] void fail(const std::string& what, std::string_view text) {
  std::fprintf(stderr, "INVARIANT BROKEN: %s\n  text: %.*s\n", what.c_str(), static_cast<int>(text.size()),
               text.data());
  std::abort();
}

template <class F>
bool converts(F&& f, std::string_view text, bool overflow_possible = true) {
  try {
    f();
    return true;
  } catch (const automation::AutomationError& e) {
    if (e.number() == automation::err::type_mismatch) return false;
    if (e.number() == automation::err::overflow && overflow_possible) return false;
    fail("failed with " + std::to_string(e.number()), text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const automation::Variant v(text);

  double value = 0;
  const bool is_number = converts([&] { value = automation::parse_number(text); }, text);
  if (is_number && !std::isfinite(value)) fail("not finite: " + automation::number_text(value), text);

  double real = 0;
  if (converts([&] { real = automation::to_r8(v); }, text) != is_number)
    fail("to_r8 and automation::parse_number disagree", text);
  if (is_number && !(real == value || (std::isnan(real) && std::isnan(value)))) fail("to_r8 differs", text);

  std::int16_t i2 = 0;
  if (converts([&] { i2 = automation::to_i2(v); }, text)) {
    if (!is_number || static_cast<double>(i2) != static_cast<double>(automation::round_to_i8(value)))
      fail("to_i2 " + std::to_string(i2), text);
    if (automation::to_i2(automation::Variant(automation::number_text(std::int64_t{i2}))) != i2)
      fail("i2 text does not read back", text);
  }
  std::int32_t i4 = 0;
  if (converts([&] { i4 = automation::to_i4(v); }, text)) {
    if (!is_number || static_cast<double>(i4) != static_cast<double>(automation::round_to_i8(value)))
      fail("to_i4 " + std::to_string(i4), text);
    if (automation::to_i4(automation::Variant(automation::number_text(std::int64_t{i4}))) != i4)
      fail("i4 text does not read back", text);
  }
  automation::Currency cy;
  if (converts([&] { cy = automation::to_cy(v); }, text)) {
    if (!is_number) fail("to_cy of no number", text);
    const std::string shown = automation::to_bstr(automation::Variant(cy));
    // Through a double the last digits of large amounts are lost.
    if (std::llabs(cy.tenthousandths) < 1000000000000000LL &&
        automation::to_cy(automation::Variant(shown)).tenthousandths != cy.tenthousandths)
      fail("currency text " + shown + " does not read back", text);
  }
  automation::Date date;
  if (converts([&] { date = automation::to_date(v); }, text)) {
    if (!is_number) fail("to_date of no number", text);
    (void)automation::to_bstr(automation::Variant(date));
  }
  bool truth = false;
  (void)converts([&] { truth = automation::to_bool(v); }, text);

  if (is_number) {
    // Shown with 15 digits, the number reads back as the same 15 digits;
    // only the largest doubles round up past the range when shown.
    const std::string shown = automation::number_text(value);
    double again = 0;
    if (converts([&] { again = automation::parse_number(shown); }, shown, std::fabs(value) > 1.7976931348623e308)) {
      if (automation::number_text(again) != shown)
        fail("number text " + shown + " reads back as " + automation::number_text(again), text);
    }
  }
  return 0;
}
