#pragma once
// The bytes no request may carry, for tests that try every one of them.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vintrel::testing {

/// Every control byte: 0x00 to 0x1F and DEL, each as a one-byte text.
inline std::vector<std::string> control_bytes() {
  std::vector<std::string> bytes;
  for (int b = 0; b < 0x20; ++b) bytes.emplace_back(1, static_cast<char>(b));
  bytes.emplace_back(1, '\x7F');
  return bytes;
}

/// How the control's messages name `byte` ("control character 0x0A").
inline std::string control_name(const std::string& byte) {
  constexpr const char* digits = "0123456789ABCDEF";
  const auto b = static_cast<unsigned char>(byte.at(0));
  return std::string("control character 0x") + digits[b >> 4] + digits[b & 0xF];
}

/// What is wrong with `request` as sent: a control byte anywhere but in
/// the CR LF that ends each line; nothing when it is clean.
inline std::optional<std::string> unclean_request(std::string_view request) {
  for (std::size_t at = 0; at < request.size(); ++at) {
    const auto byte = static_cast<unsigned char>(request[at]);
    if (byte == '\r' && at + 1 < request.size() && request[at + 1] == '\n') {
      ++at;
    } else if (byte < 0x20 || byte == 0x7F) {
      return control_name(std::string(1, request[at])) + " at byte " + std::to_string(at) + " of " +
             std::string(request.substr(0, 300));
    }
  }
  return std::nullopt;
}

}  // namespace vintrel::testing
