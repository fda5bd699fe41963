#pragma once
// 128-bit identifiers of classes, interfaces and libraries, in their usual
// text form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vintrel::control {

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};

  friend constexpr bool operator==(const Guid&, const Guid&) = default;

  /// Reads the text form, with or without braces, in either letter case;
  /// nothing for any other text.
  static constexpr std::optional<Guid> parse(std::string_view text);
  /// The text form with braces and upper-case digits, as registries hold it.
  std::string to_string() const;
};

namespace detail {
constexpr int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
// Reads `count` hex digits at `at`; nothing when one is not a digit.
constexpr std::optional<std::uint32_t> hex_field(std::string_view text, std::size_t at, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const int d = hex_digit(text[at + k]);
    if (d < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(d);
  }
  return value;
}
}  // namespace detail

constexpr std::optional<Guid> Guid::parse(std::string_view text) {
  if (text.size() == 38) {
    if (text.front() != '{' || text.back() != '}') return std::nullopt;
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return std::nullopt;
  for (std::size_t dash : {8u, 13u, 18u, 23u})
    if (text[dash] != '-') return std::nullopt;
  Guid g;
  const auto d1 = detail::hex_field(text, 0, 8);
  const auto d2 = detail::hex_field(text, 9, 4);
  const auto d3 = detail::hex_field(text, 14, 4);
  if (!d1 || !d2 || !d3) return std::nullopt;
  g.data1 = *d1;
  g.data2 = static_cast<std::uint16_t>(*d2);
  g.data3 = static_cast<std::uint16_t>(*d3);
  constexpr std::size_t byte_at[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (std::size_t k = 0; k < 8; ++k) {
    const auto b = detail::hex_field(text, byte_at[k], 2);
    if (!b) return std::nullopt;
    g.data4[k] = static_cast<std::uint8_t>(*b);
  }
  return g;
}

/// An identifier written in the source: a malformed text does not compile.
consteval Guid make_guid(std::string_view text) { return Guid::parse(text).value(); }

/// The identifiers of the standard interfaces the module deals with.
inline constexpr Guid IID_IUnknown = make_guid("{00000000-0000-0000-C000-000000000046}");
inline constexpr Guid IID_IClassFactory = make_guid("{00000001-0000-0000-C000-000000000046}");
inline constexpr Guid IID_IDispatch = make_guid("{00020400-0000-0000-C000-000000000046}");
inline constexpr Guid IID_IPersistStorage = make_guid("{0000010A-0000-0000-C000-000000000046}");
inline constexpr Guid IID_IPersistStream = make_guid("{00000109-0000-0000-C000-000000000046}");
inline constexpr Guid IID_IPersistPropertyBag = make_guid("{37D84F60-42CB-11CE-8135-00AA004BB851}");

}  // namespace vintrel::control
