// Conversions between automation values, as the runtime converts: numbers
// rounded half to even and range-checked, dates between their serials and
// their text, currency in ten-thousandths.

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>
#include <utility>

#include "automation/automation.hpp"
#include "automation/numbers_detail.hpp"
#include "text/text.hpp"

namespace vintrel::automation {

namespace {

// Automation dates run from 1 January 100 to 31 December 9999; the serials
// of those days, with the whole of the last day still inside.
constexpr double first_date_serial = -657434.0;
constexpr double last_date_serial = 2958465.0;

constexpr std::int64_t cy_scale = 10000;

// Currency to integer without going through a double, so that large amounts
// keep their last digit.
std::int64_t round_currency(std::int64_t tenthousandths) {
  std::int64_t whole = tenthousandths / cy_scale;
  const std::int64_t rest = tenthousandths % cy_scale;
  const bool odd = whole % 2 != 0;
  if (rest > cy_scale / 2 || (rest == cy_scale / 2 && odd)) ++whole;
  if (rest < -cy_scale / 2 || (rest == -cy_scale / 2 && odd)) --whole;
  return whole;
}

template <class Int>
Int checked_narrow(std::int64_t v) {
  if (v < std::numeric_limits<Int>::min() || v > std::numeric_limits<Int>::max()) raise(err::overflow);
  return static_cast<Int>(v);
}

Date checked_date(double serial) {
  if (!std::isfinite(serial) || serial <= first_date_serial - 1.0 || serial >= last_date_serial + 1.0)
    raise(err::overflow);
  return Date{serial};
}

struct DateParts {
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  std::int64_t day_number = 0;  // days since 1899-12-30
  std::int64_t second_of_day = 0;
};

// Civil date of a day count since 1970-01-01, proleptic Gregorian.
void civil_from_days(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

// Splits a serial the automation way: the integer part is the day and the
// fraction, whatever the serial's sign, is the time of day forward from
// midnight. Rounded to the second, as the runtime shows dates.
DateParts split_date(double serial) {
  serial = checked_date(serial).serial;
  const double whole = std::trunc(serial);
  DateParts parts;
  parts.day_number = static_cast<std::int64_t>(whole);
  parts.second_of_day = std::llround(std::fabs(serial - whole) * 86400.0);
  if (parts.second_of_day >= 86400) {
    parts.second_of_day -= 86400;
    ++parts.day_number;
  }
  civil_from_days(parts.day_number - 25569, parts.year, parts.month, parts.day);
  return parts;
}

std::string date_text(Date date) {
  const DateParts p = split_date(date.serial);
  std::string text;
  if (p.day_number != 0) {
    text = std::to_string(p.month) + "/" + std::to_string(p.day) + "/" + std::to_string(p.year);
    if (p.second_of_day == 0) return text;
    text += ' ';
  }
  const std::int64_t hour = p.second_of_day / 3600;
  const std::int64_t minute = p.second_of_day / 60 % 60;
  const std::int64_t second = p.second_of_day % 60;
  const std::int64_t hour12 = hour % 12 == 0 ? 12 : hour % 12;
  text += std::to_string(hour12) + ":" + detail::two_digits(minute) + ":" + detail::two_digits(second) +
          (hour < 12 ? " AM" : " PM");
  return text;
}

std::string currency_text(Currency cy) {
  const bool negative = cy.tenthousandths < 0;
  // Unsigned magnitude, so the most negative amount does not overflow.
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(cy.tenthousandths) : static_cast<std::uint64_t>(cy.tenthousandths);
  std::string text = negative ? "-" : "";
  text += std::to_string(magnitude / cy_scale);
  std::uint64_t fraction = magnitude % cy_scale;
  if (fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(0, 4 - digits.size(), '0');
    while (digits.back() == '0') digits.pop_back();
    text += "." + digits;
  }
  return text;
}

// Whole and fractional parts scale separately: the product of the whole
// value with 10000 would need more bits than a double has near the top of
// the currency range and lose the last digits.
Currency real_to_currency(double v) {
  if (!std::isfinite(v)) raise(err::overflow);
  const double whole = std::trunc(v);
  if (std::fabs(whole) > 922337203685478.0) raise(err::overflow);
  const auto units = static_cast<std::int64_t>(detail::round_half_even((v - whole) * static_cast<double>(cy_scale)));
  std::int64_t scaled = 0;
  std::int64_t total = 0;
  if (__builtin_mul_overflow(static_cast<std::int64_t>(whole), cy_scale, &scaled) ||
      __builtin_add_overflow(scaled, units, &total))
    raise(err::overflow);
  return Currency{total};
}

[[noreturn]] void raise_null() { raise(err::invalid_use_of_null); }

// The integer conversions share one path: exact where the source is an
// integer or currency, rounded half-even where it is a real.
std::int64_t to_integer(const Variant& v) {
  switch (v.type()) {
    case VarType::I2:
      return v.i2();
    case VarType::I4:
      return v.i4();
    case VarType::Bool:
      return v.boolean() ? -1 : 0;
    case VarType::Cy:
      return round_currency(v.cy().tenthousandths);
    default:
      return round_to_i8(to_r8(v));
  }
}

}  // namespace

// --- conversions ----------------------------------------------------------

double to_r8(const Variant& v) {
  switch (v.type()) {
    case VarType::Empty:
      return 0.0;
    case VarType::Null:
      raise_null();
    case VarType::I2:
      return v.i2();
    case VarType::I4:
      return v.i4();
    case VarType::R8:
      return v.r8();
    case VarType::Cy:
      return static_cast<double>(v.cy().tenthousandths) / static_cast<double>(cy_scale);
    case VarType::Date:
      return v.date().serial;
    case VarType::Bstr:
      return parse_number(v.bstr());
    case VarType::Bool:
      return v.boolean() ? -1.0 : 0.0;
    case VarType::Dispatch:
    case VarType::ByteArray:
      break;
  }
  raise(err::type_mismatch);
}

std::int16_t to_i2(const Variant& v) { return checked_narrow<std::int16_t>(to_integer(v)); }

std::int32_t to_i4(const Variant& v) { return checked_narrow<std::int32_t>(to_integer(v)); }

Currency to_cy(const Variant& v) {
  switch (v.type()) {
    case VarType::Cy:
      return v.cy();
    case VarType::I2:
      return Currency{std::int64_t{v.i2()} * cy_scale};
    case VarType::I4:
      return Currency{std::int64_t{v.i4()} * cy_scale};
    case VarType::Bool:
      return Currency{v.boolean() ? -cy_scale : 0};
    default:
      return real_to_currency(to_r8(v));
  }
}

Date to_date(const Variant& v) {
  if (v.type() == VarType::Date) return v.date();
  return checked_date(to_r8(v));
}

bool to_bool(const Variant& v) {
  switch (v.type()) {
    case VarType::Empty:
      return false;
    case VarType::Null:
      raise_null();
    case VarType::I2:
    case VarType::I4:
    case VarType::Bool:
      return to_integer(v) != 0;
    case VarType::Cy:
      return v.cy().tenthousandths != 0;
    case VarType::R8:
      return v.r8() != 0;
    case VarType::Date:
      return v.date().serial != 0;
    case VarType::Bstr: {
      const std::string_view t = text::trim(v.bstr());
      if (same_name(t, "True")) return true;
      if (same_name(t, "False")) return false;
      return parse_number(t) != 0;
    }
    case VarType::Dispatch:
    case VarType::ByteArray:
      break;
  }
  raise(err::type_mismatch);
}

std::string to_bstr(const Variant& v) {
  switch (v.type()) {
    case VarType::Empty:
      return {};
    case VarType::Null:
      raise_null();
    case VarType::I2:
      return number_text(std::int64_t{v.i2()});
    case VarType::I4:
      return number_text(std::int64_t{v.i4()});
    case VarType::R8:
      return number_text(v.r8());
    case VarType::Cy:
      return currency_text(v.cy());
    case VarType::Date:
      return date_text(v.date());
    case VarType::Bstr:
      return v.bstr();
    case VarType::Bool:
      return v.boolean() ? "True" : "False";
    case VarType::ByteArray: {
      const auto& bytes = v.bytes();
      std::string text;
      text.reserve(bytes.size());
      for (std::uint8_t b : bytes) text += static_cast<char>(b);
      return text;
    }
    case VarType::Dispatch:
      break;
  }
  raise(err::type_mismatch);
}

std::shared_ptr<Object> to_object(const Variant& v) {
  // A Dispatch holding no object is Nothing, a valid reference; callers that
  // need a particular class reject it when their cast fails.
  if (v.type() != VarType::Dispatch) raise(err::object_required);
  return v.object();
}

std::vector<std::uint8_t> to_bytes(const Variant& v) {
  switch (v.type()) {
    case VarType::Empty:
      return {};
    case VarType::Null:
      raise_null();
    case VarType::ByteArray:
      return v.bytes();
    case VarType::Bstr: {
      const std::string& text = v.bstr();
      return std::vector<std::uint8_t>(text.begin(), text.end());
    }
    default:
      break;
  }
  raise(err::type_mismatch);
}

}  // namespace vintrel::automation
