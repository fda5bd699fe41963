#include "text/text.hpp"

#include <algorithm>

namespace vintrel::text {

std::vector<std::string> split(std::string_view text, std::string_view separator) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  if (separator.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  std::size_t start = 0;
  for (;;) {
    const auto at = text.find(separator, start);
    if (at == std::string_view::npos) {
      pieces.emplace_back(text.substr(start));
      return pieces;
    }
    pieces.emplace_back(text.substr(start, at - start));
    start = at + separator.size();
  }
}

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (;;) {
    const auto at = text.find(from, start);
    if (at == std::string_view::npos) break;
    out.append(text.substr(start, at - start));
    out.append(to);
    start = at + from.size();
  }
  out.append(text.substr(start));
  return out;
}

std::string_view trim(std::string_view text, std::string_view blanks) {
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

char lower_ascii(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lower_ascii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lower_ascii(c);
  return out;
}

bool iequals(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t n = 0; n < a.size(); ++n) {
    if (lower_ascii(a[n]) != lower_ascii(b[n])) return false;
  }
  return true;
}

int hex_value(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

namespace {

constexpr std::string_view base64_digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string decoded(std::string_view text, bool plus_is_space) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = hex_value(text[i + 1]);
      const int low = hex_value(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += plus_is_space && text[i] == '+' ? ' ' : text[i];
  }
  return out;
}

}  // namespace

std::string percent_decode(std::string_view text) { return decoded(text, false); }

std::string form_decode(std::string_view text) { return decoded(text, true); }

std::size_t find_control(std::string_view text) noexcept {
  for (std::size_t at = 0; at < text.size(); ++at)
    if (is_control(text[at])) return at;
  return std::string_view::npos;
}

namespace {
std::string hex_byte(char c) {
  constexpr const char* digits = "0123456789ABCDEF";
  const auto byte = static_cast<unsigned char>(c);
  return {digits[byte >> 4], digits[byte & 0xF]};
}
}  // namespace

std::string control_name(char c) { return "control character 0x" + hex_byte(c); }

std::string show_controls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) out += is_control(c) ? "\\x" + hex_byte(c) : std::string(1, c);
  return out;
}

std::string base64_encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group <<= 8;
      if (k < left) group |= static_cast<unsigned char>(bytes[i + k]);
    }
    for (std::size_t k = 0; k < 4; ++k) out += k <= left ? base64_digits[(group >> (18 - 6 * k)) & 0x3F] : '=';
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> base64_decode(std::string_view text) {
  std::size_t padding = 0;
  while (text.ends_with('=') && padding < 2) {
    text.remove_suffix(1);
    ++padding;
  }
  // Padding, when there is some, completes the last group of four.
  if ((padding > 0 && (text.size() + padding) % 4 != 0) || text.size() % 4 == 1) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() * 3 / 4);
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    const auto at = base64_digits.find(c);
    if (at == std::string_view::npos) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(at);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(static_cast<std::uint8_t>((bits >> count) & 0xFF));
    }
  }
  return bytes;
}

}  // namespace vintrel::text
