#pragma once
// Automation values: what script hands the control and gets back from it.
// The control's surface is an automation surface, so members, arguments and
// results are these values, and failures are numbered automation errors.

#include <compare>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vintrel::automation {

/// Numbers of the runtime errors that the control raises.
namespace err {
inline constexpr std::int32_t invalid_call = 5;     // "Invalid procedure call or argument"
inline constexpr std::int32_t overflow = 6;         // "Overflow"
inline constexpr std::int32_t subscript = 9;        // "Subscript out of range"
inline constexpr std::int32_t path_not_found = 76;  // "Path not found"
inline constexpr std::int32_t division_by_zero = 11;
inline constexpr std::int32_t type_mismatch = 13;
inline constexpr std::int32_t invalid_use_of_null = 94;  // "Invalid use of Null"
inline constexpr std::int32_t no_element = 340;          // "Control array element does not exist"
inline constexpr std::int32_t object_required = 424;
inline constexpr std::int32_t no_member = 438;  // "Object doesn't support this property or method"
inline constexpr std::int32_t wrong_arg_count = 450;
}  // namespace err

/// An automation error: number, source and description, as script sees it.
class AutomationError : public std::runtime_error {
 public:
  AutomationError(std::int32_t number, std::string source, std::string description);

  std::int32_t number() const noexcept { return number_; }
  const std::string& source() const noexcept { return source_; }
  const std::string& description() const noexcept { return description_; }

 private:
  std::int32_t number_;
  std::string source_;
  std::string description_;
};

/// The runtime's text for a standard error number ("Overflow" for 6...).
std::string standard_description(std::int32_t number);

/// Raises a standard error with its standard description, source "Vintrel".
[[noreturn]] void raise(std::int32_t number);
/// Raises an error with the given source and description.
[[noreturn]] void raise(std::int32_t number, std::string source, std::string description);

/// Automation date: days since 30 December 1899 (local time) as a double.
struct Date {
  double serial = 0;
  auto operator<=>(const Date&) const = default;
};

/// Automation currency: a 64-bit count of ten-thousandths.
struct Currency {
  std::int64_t tenthousandths = 0;
  bool operator==(const Currency&) const = default;
};

class Object;

/// The kinds an automation value can hold (their automation type codes).
enum class VarType : std::uint16_t {
  Empty = 0,
  Null = 1,
  I2 = 2,
  I4 = 3,
  R8 = 5,
  Cy = 6,
  Date = 7,
  Bstr = 8,
  Dispatch = 9,
  Bool = 11,
  ByteArray = 0x2011,
};

/// One automation value (a variant).
class Variant {
 public:
  Variant() = default;
  Variant(std::int16_t v);
  Variant(std::int32_t v);
  Variant(double v);
  Variant(Currency v);
  Variant(Date v);
  Variant(std::string v);
  Variant(const char* v);
  Variant(bool v);
  Variant(std::shared_ptr<Object> v);
  Variant(std::vector<std::uint8_t> v);

  static Variant null();

  VarType type() const noexcept { return type_; }
  bool is_empty() const noexcept { return type_ == VarType::Empty; }

  // Raw access; each raises 13 when the value is of another kind.
  std::int16_t i2() const;
  std::int32_t i4() const;
  double r8() const;
  Currency cy() const;
  Date date() const;
  const std::string& bstr() const;
  bool boolean() const;
  const std::shared_ptr<Object>& object() const;
  const std::vector<std::uint8_t>& bytes() const;

 private:
  VarType type_ = VarType::Empty;
  std::int64_t int_ = 0;  // I2, I4, Bool (-1 / 0), Cy
  double real_ = 0;       // R8, Date
  std::string text_;
  std::shared_ptr<Object> object_;
  std::vector<std::uint8_t> bytes_;
};

// Conversions, the automation way: reals round to nearest with halves to even,
// a value past the target's range fails with 6, non-numeric text with 13.
std::int16_t to_i2(const Variant& v);
std::int32_t to_i4(const Variant& v);
double to_r8(const Variant& v);
Currency to_cy(const Variant& v);
Date to_date(const Variant& v);
bool to_bool(const Variant& v);
std::string to_bstr(const Variant& v);
std::shared_ptr<Object> to_object(const Variant& v);
std::vector<std::uint8_t> to_bytes(const Variant& v);

/// A real rounded to a 16-bit integer, halves to even; 6 past the range.
std::int16_t round_to_i2(double v);
/// A real rounded to a 32-bit integer, halves to even; 6 past the range.
std::int32_t round_to_i4(double v);
/// A real rounded to a 64-bit integer, halves to even; 6 past the range.
std::int64_t round_to_i8(double v);
/// A byte count or position held in a double as a whole number from 0 to
/// 2^63-1: rounded, and clamped where round_to_i8 would fail (NaN gives 0).
std::int64_t whole_bytes(double v) noexcept;

/// Text read as a number: blanks around it, sign, digits, point, exponent,
/// "&H"/"&O" forms; anything else fails with 13.
double parse_number(std::string_view text);

/// A double as automation writes it: shortest form with at most 15
/// significant digits, exponent form from 1E+15 on and below 1E-04 (1E-05),
/// point as separator.
std::string number_text(double v);
/// An integer as plain decimal digits.
std::string number_text(std::int64_t v);

/// The integer division a \ b: both operands rounded to integers (halves to
/// even), quotient truncated toward zero; 64-bit, so large byte counts do not
/// overflow. Division by zero fails with 11.
std::int64_t int_div(double a, double b);

/// Adds 1 to a 16-bit counter; past 32767 it fails with 6, unchanged.
void increment(std::int16_t& counter);
/// Adds 1 to a 32-bit counter; past its range it fails with 6, unchanged.
void increment(std::int32_t& counter);

/// An automation object: members reached by name, as script reaches them.
class Object {
 public:
  virtual ~Object() = default;

  /// The class name script sees ("DownloadFile", "Collection"...).
  virtual std::string_view class_name() const = 0;
  /// Reads a property; an unknown name fails with 438.
  virtual Variant get(std::string_view name) const;
  /// Writes a property; an unknown name fails with 438.
  virtual void put(std::string_view name, const Variant& value);
  /// Calls a method; an unknown name fails with 438.
  virtual Variant call(std::string_view name, std::vector<Variant>& args);
  /// The names of the members get and put reach, in declaration order.
  virtual std::vector<std::string> member_names() const;
};

/// Case-insensitive name comparison, as automation looks names up.
bool same_name(std::string_view a, std::string_view b) noexcept;

}  // namespace vintrel::automation
