#include "automation/automation.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>
#include <utility>

#include "text/text.hpp"

namespace vintrel::automation {

// --- errors ---------------------------------------------------------------

AutomationError::AutomationError(std::int32_t number, std::string source, std::string description)
    : std::runtime_error(description),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)) {}

std::string standard_description(std::int32_t number) {
  switch (number) {
    case err::invalid_call:
      return "Invalid procedure call or argument";
    case err::overflow:
      return "Overflow";
    case err::subscript:
      return "Subscript out of range";
    case err::path_not_found:
      return "Path not found";
    case err::division_by_zero:
      return "Division by zero";
    case err::type_mismatch:
      return "Type mismatch";
    case err::invalid_use_of_null:
      return "Invalid use of Null";
    case err::no_element:
      return "Control array element does not exist";
    case err::object_required:
      return "Object required";
    case err::no_member:
      return "Object doesn't support this property or method";
    case err::wrong_arg_count:
      return "Wrong number of arguments or invalid property assignment";
    default:
      return "Application-defined or object-defined error";
  }
}

void raise(std::int32_t number) { throw AutomationError(number, "Vintrel", standard_description(number)); }

void raise(std::int32_t number, std::string source, std::string description) {
  throw AutomationError(number, std::move(source), std::move(description));
}

// --- Variant --------------------------------------------------------------

Variant::Variant(std::int16_t v) : type_(VarType::I2), int_(v) {}
Variant::Variant(std::int32_t v) : type_(VarType::I4), int_(v) {}
Variant::Variant(double v) : type_(VarType::R8), real_(v) {}
Variant::Variant(Currency v) : type_(VarType::Cy), int_(v.tenthousandths) {}
Variant::Variant(Date v) : type_(VarType::Date), real_(v.serial) {}
Variant::Variant(std::string v) : type_(VarType::Bstr), text_(std::move(v)) {}
Variant::Variant(const char* v) : type_(VarType::Bstr), text_(v) {}
Variant::Variant(bool v) : type_(VarType::Bool), int_(v ? -1 : 0) {}
Variant::Variant(std::shared_ptr<Object> v) : type_(VarType::Dispatch), object_(std::move(v)) {}
Variant::Variant(std::vector<std::uint8_t> v) : type_(VarType::ByteArray), bytes_(std::move(v)) {}

Variant Variant::null() {
  Variant v;
  v.type_ = VarType::Null;
  return v;
}

std::int16_t Variant::i2() const {
  if (type_ != VarType::I2) raise(err::type_mismatch);
  return static_cast<std::int16_t>(int_);
}

std::int32_t Variant::i4() const {
  if (type_ != VarType::I4) raise(err::type_mismatch);
  return static_cast<std::int32_t>(int_);
}

double Variant::r8() const {
  if (type_ != VarType::R8) raise(err::type_mismatch);
  return real_;
}

Currency Variant::cy() const {
  if (type_ != VarType::Cy) raise(err::type_mismatch);
  return Currency{int_};
}

Date Variant::date() const {
  if (type_ != VarType::Date) raise(err::type_mismatch);
  return Date{real_};
}

const std::string& Variant::bstr() const {
  if (type_ != VarType::Bstr) raise(err::type_mismatch);
  return text_;
}

bool Variant::boolean() const {
  if (type_ != VarType::Bool) raise(err::type_mismatch);
  return int_ != 0;
}

const std::shared_ptr<Object>& Variant::object() const {
  if (type_ != VarType::Dispatch) raise(err::type_mismatch);
  return object_;
}

const std::vector<std::uint8_t>& Variant::bytes() const {
  if (type_ != VarType::ByteArray) raise(err::type_mismatch);
  return bytes_;
}

// --- objects --------------------------------------------------------------

Variant Object::get(std::string_view) const { raise(err::no_member); }

void Object::put(std::string_view, const Variant&) { raise(err::no_member); }

Variant Object::call(std::string_view, std::vector<Variant>&) { raise(err::no_member); }

std::vector<std::string> Object::member_names() const { return {}; }

bool same_name(std::string_view a, std::string_view b) noexcept { return text::iequals(a, b); }

}  // namespace vintrel::automation
