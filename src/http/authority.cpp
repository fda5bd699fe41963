#include "http/authority.hpp"

#include <algorithm>
#include <charconv>

namespace vintrel::http {

std::optional<Authority> split_authority(std::string_view text) {
  Authority out;
  if (text.starts_with('[')) {
    const auto close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    out.host = std::string(text.substr(1, close - 1));
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      // Anything but ":port" after the bracket would be read as part of
      // neither the address nor the port.
      if (rest.front() != ':') return std::nullopt;
      out.port = std::string(rest.substr(1));
    }
    return out;
  }
  if (std::count(text.begin(), text.end(), ':') == 1) {
    const auto colon = text.find(':');
    out.host = std::string(text.substr(0, colon));
    out.port = std::string(text.substr(colon + 1));
    return out;
  }
  out.host = std::string(text);
  return out;
}

std::optional<std::int32_t> read_port(std::string_view text) {
  std::int32_t port = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (ec != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) return std::nullopt;
  // from_chars takes a sign; a port never has one.
  if (text.front() < '0' || text.front() > '9') return std::nullopt;
  return port;
}

bool is_ipv6_literal(std::string_view host) { return host.find(':') != std::string_view::npos; }

std::string bracketed(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') return std::string(host);
  return is_ipv6_literal(host) ? "[" + std::string(host) + "]" : std::string(host);
}

std::string host_and_port(std::string_view host, std::int32_t port) {
  return bracketed(host) + ":" + std::to_string(port);
}

}  // namespace vintrel::http
