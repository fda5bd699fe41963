// The runtime's numbers: rounding as it rounds, text read and written as it
// reads and writes numbers, and its integer division and counters.

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

#include "automation/automation.hpp"
#include "automation/numbers_detail.hpp"
#include "text/text.hpp"

namespace vintrel::automation {

namespace detail {

// Rounds to the nearest integer with halves to even, independent of the
// floating-point rounding mode someone else may have set. Exact: for
// magnitudes below 2^52 `v - floor(v)` has no rounding error, and above that
// every double is already an integer.
double round_half_even(double v) {
  const double below = std::floor(v);
  const double diff = v - below;
  if (diff < 0.5) return below;
  if (diff > 0.5) return below + 1.0;
  return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

std::string two_digits(std::int64_t v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

}  // namespace detail

namespace {

using detail::round_half_even;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
using detail::two_digits;

// The "&H1F" and "&O17" forms. Read as unsigned: the runtime's reading of
// &HFFFF as -1 depends on the target type, which this parser does not know.
double parse_radix(std::string_view digits, unsigned radix) {
  if (digits.empty()) raise(err::type_mismatch);
  std::uint64_t value = 0;
  for (char c : digits) {
    unsigned d = 0;
    const char lower = text::lower_ascii(c);
    if (is_digit(c)) {
      d = static_cast<unsigned>(c - '0');
    } else if (lower >= 'a' && lower <= 'f') {
      d = static_cast<unsigned>(lower - 'a' + 10);
    } else {
      raise(err::type_mismatch);
    }
    if (d >= radix) raise(err::type_mismatch);
    if (value > (std::numeric_limits<std::uint64_t>::max() - d) / radix) raise(err::overflow);
    value = value * radix + d;
  }
  return static_cast<double>(value);
}

}  // namespace

// --- rounding and numbers -------------------------------------------------

std::int64_t round_to_i8(double v) {
  const double r = round_half_even(v);
  // 2^63 is exact as a double; NaN fails both comparisons.
  if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) raise(err::overflow);
  return static_cast<std::int64_t>(r);
}

std::int64_t whole_bytes(double v) noexcept {
  const double r = round_half_even(v);
  if (!(r > 0)) return 0;
  if (r >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(r);
}

std::int16_t round_to_i2(double v) {
  const double r = round_half_even(v);
  if (!(r >= -32768.0 && r <= 32767.0)) raise(err::overflow);
  return static_cast<std::int16_t>(r);
}

std::int32_t round_to_i4(double v) {
  const double r = round_half_even(v);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) raise(err::overflow);
  return static_cast<std::int32_t>(r);
}

double parse_number(std::string_view text) {
  const std::string_view t = text::trim(text);
  if (t.size() >= 2 && t[0] == '&') {
    const char form = text::lower_ascii(t[1]);
    if (form == 'h') return parse_radix(t.substr(2), 16);
    if (form == 'o') return parse_radix(t.substr(2), 8);
    raise(err::type_mismatch);
  }

  // Check the shape first, so that from_chars only ever sees plain decimal
  // text and its own leniencies ("inf", "nan", hex floats) never leak in.
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  const std::size_t number_start = i;
  std::size_t int_digits = 0;  // significant digits before the point
  std::size_t digits = 0;
  bool nonzero = false;
  for (; i < t.size() && is_digit(t[i]); ++i, ++digits) {
    if (t[i] != '0') nonzero = true;
    if (nonzero) ++int_digits;
  }
  std::int64_t leading_fraction_zeros = 0;  // zeros after the point before any other digit
  if (i < t.size() && t[i] == '.') {
    ++i;
    for (; i < t.size() && is_digit(t[i]); ++i, ++digits) {
      if (t[i] != '0') nonzero = true;
      if (!nonzero) ++leading_fraction_zeros;
    }
  }
  if (digits == 0) raise(err::type_mismatch);
  std::int64_t exponent = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool exponent_negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) exponent_negative = t[i++] == '-';
    const std::size_t exponent_start = i;
    for (; i < t.size() && is_digit(t[i]); ++i)
      if (exponent < 100000) exponent = exponent * 10 + (t[i] - '0');
    if (i == exponent_start) raise(err::type_mismatch);
    if (exponent_negative) exponent = -exponent;
  }
  if (i != t.size()) raise(err::type_mismatch);
  if (!nonzero) return 0.0;

  double value = 0;
  const char* first = t.data() + number_start;
  const char* last = t.data() + t.size();
  const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // The decimal exponent of the leading digit tells overflow from underflow.
    const std::int64_t magnitude =
        int_digits > 0 ? static_cast<std::int64_t>(int_digits) - 1 + exponent : exponent - leading_fraction_zeros - 1;
    if (magnitude > 0) raise(err::overflow);
    return negative ? -0.0 : 0.0;
  }
  if (ec != std::errc{} || end != last) raise(err::type_mismatch);
  return negative ? -value : value;
}

std::string number_text(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Infinity" : "Infinity";
  if (v == 0) return "0";

  // Round to 15 significant digits first: the exponent that decides between
  // plain and exponent form is the rounded one (9.999999999999999e14 shows
  // as 1E+15).
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
  if (ec != std::errc{}) return "0";
  const std::string_view sci(buf, static_cast<std::size_t>(end - buf));

  std::size_t pos = 0;
  const bool negative = sci[pos] == '-';
  if (negative) ++pos;
  std::string digits;
  for (; pos < sci.size() && sci[pos] != 'e'; ++pos)
    if (sci[pos] != '.') digits += sci[pos];
  int exponent = 0;
  std::from_chars(sci.data() + pos + (sci[pos + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exponent);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string text = negative ? "-" : "";
  if (exponent >= 15 || exponent < -4) {
    text += digits[0];
    if (digits.size() > 1) text += "." + digits.substr(1);
    text += exponent < 0 ? "E-" : "E+";
    text += two_digits(exponent < 0 ? -exponent : exponent);
  } else if (exponent >= 0) {
    const auto int_len = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= int_len) {
      text += digits + std::string(int_len - digits.size(), '0');
    } else {
      text += digits.substr(0, int_len) + "." + digits.substr(int_len);
    }
  } else {
    text += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  }
  return text;
}

std::string number_text(std::int64_t v) { return std::to_string(v); }

std::int64_t int_div(double a, double b) {
  const std::int64_t dividend = round_to_i8(a);
  const std::int64_t divisor = round_to_i8(b);
  if (divisor == 0) raise(err::division_by_zero);
  if (divisor == -1 && dividend == std::numeric_limits<std::int64_t>::min()) raise(err::overflow);
  return dividend / divisor;
}

void increment(std::int16_t& counter) {
  if (counter == std::numeric_limits<std::int16_t>::max()) raise(err::overflow);
  ++counter;
}

void increment(std::int32_t& counter) {
  if (counter == std::numeric_limits<std::int32_t>::max()) raise(err::overflow);
  ++counter;
}

}  // namespace vintrel::automation
