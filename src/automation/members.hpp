#pragma once
// Member tables: an object's data members reached by name, converted to and
// from automation values by the member's own type. One table per class, so
// the names live in one place.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "automation/automation.hpp"

namespace vintrel::automation {

/// Converts an automation value to a member of type T.
template <class T>
T from_value(const Variant& v) {
  if constexpr (std::is_same_v<T, bool>) {
    return to_bool(v);
  } else if constexpr (std::is_same_v<T, std::int16_t>) {
    return to_i2(v);
  } else if constexpr (std::is_same_v<T, std::int32_t>) {
    return to_i4(v);
  } else if constexpr (std::is_same_v<T, double>) {
    return to_r8(v);
  } else if constexpr (std::is_same_v<T, Date>) {
    return to_date(v);
  } else if constexpr (std::is_same_v<T, Currency>) {
    return to_cy(v);
  } else if constexpr (std::is_same_v<T, std::string>) {
    return to_bstr(v);
  } else {
    // An object reference member: the value must hold an object of its class.
    auto typed = std::dynamic_pointer_cast<typename T::element_type>(to_object(v));
    if (!typed) raise(err::type_mismatch);
    return typed;
  }
}

/// Converts a member of type T to an automation value.
template <class T>
Variant to_value(const T& member) {
  if constexpr (std::is_convertible_v<T, std::shared_ptr<Object>> && !std::is_same_v<T, bool>) {
    return Variant(std::static_pointer_cast<Object>(member));
  } else {
    return Variant(member);
  }
}

/// One data member of class C: its name and how to read and write it.
template <class C>
struct Member {
  std::string_view name;
  Variant (*get)(const C&);
  void (*put)(C&, const Variant&);
};

/// The table entry for the data member `Ptr` of class C.
template <class C, auto Ptr>
constexpr Member<C> member(std::string_view name) {
  return Member<C>{
      name,
      [](const C& object) { return to_value(object.*Ptr); },
      [](C& object, const Variant& value) {
        using T = std::remove_cvref_t<decltype(object.*Ptr)>;
        object.*Ptr = from_value<T>(value);
      },
  };
}

/// Finds a member by name (case-insensitive); nullptr when there is none.
template <class C>
const Member<C>* find_member(std::span<const Member<C>> table, std::string_view name) {
  for (const auto& m : table)
    if (same_name(m.name, name)) return &m;
  return nullptr;
}

}  // namespace vintrel::automation
