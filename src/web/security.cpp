#include "web/security.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <random>
#include <utility>

#include "http/authority.hpp"
#include "text/text.hpp"

namespace vintrel::web {

namespace {

bool valid_host_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' || c == '[' || c == ']' ||
         c == ':';
}

Verdict refused(std::string why) {
  Verdict verdict;
  verdict.reason = std::move(why);
  return verdict;
}

}  // namespace

std::string make_token() {
  std::random_device device("/dev/urandom");
  static constexpr char digits[] = "0123456789abcdef";
  std::string token;
  for (int word = 0; word < 4; ++word) {
    std::uint32_t bits = device();
    for (int nibble = 0; nibble < 8; ++nibble, bits >>= 4) token += digits[bits & 0xF];
  }
  return token;
}

std::optional<std::string> normalize_origin(std::string_view text) {
  const std::string origin = text::lower_ascii(text);
  std::string_view rest(origin);
  std::string scheme;
  // One scheme only: "http://https://evil.example" names no server.
  for (const char* candidate : {"https", "http"}) {
    const std::string prefix = std::string(candidate) + "://";
    if (rest.starts_with(prefix)) {
      scheme = candidate;
      rest.remove_prefix(prefix.size());
      break;
    }
  }
  if (scheme.empty()) return std::nullopt;
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.empty() || !std::all_of(rest.begin(), rest.end(), valid_host_char)) return std::nullopt;
  const auto server = http::split_authority(rest);
  // An IPv6 address comes in brackets in an origin.
  if (!server || server->host.empty() || (http::is_ipv6_literal(server->host) && !rest.starts_with('[')))
    return std::nullopt;
  std::int32_t port = scheme == "http" ? 80 : 443;
  if (server->port) {
    const auto number = http::read_port(*server->port);
    if (!number) return std::nullopt;
    port = *number;
  }
  std::string out = scheme + "://" + http::bracketed(server->host);
  // The scheme's own port is left out, as browsers send the origin.
  if (port != (scheme == "http" ? 80 : 443)) out += ":" + std::to_string(port);
  return out;
}

std::optional<std::string> query_parameter(std::string_view target, std::string_view name) {
  const auto question = target.find('?');
  if (question == std::string_view::npos) return std::nullopt;
  std::string_view query = target.substr(question + 1);
  if (const auto hash = query.find('#'); hash != std::string_view::npos) query = query.substr(0, hash);
  while (!query.empty()) {
    const auto amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const auto equals = pair.find('=');
    if (text::form_decode(pair.substr(0, equals)) == name)
      return equals == std::string_view::npos ? std::string() : text::form_decode(pair.substr(equals + 1));
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return std::nullopt;
}

bool same_secret(std::string_view a, std::string_view b) {
  unsigned difference = a.size() == b.size() ? 0U : 1U;
  for (std::size_t i = 0; i < a.size(); ++i)
    difference |= static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(i < b.size() ? b[i] : 0);
  return difference == 0;
}

Gate::Gate(std::string token, std::vector<std::string> allowed_origins)
    : token_(std::move(token)), allowed_(std::move(allowed_origins)) {}

void Gate::set_port(unsigned short port) {
  const std::string suffix = ":" + std::to_string(port);
  own_ = {"http://127.0.0.1" + suffix, "http://localhost" + suffix};
  hosts_ = {"127.0.0.1" + suffix, "localhost" + suffix};
}

Verdict Gate::admit_websocket(std::optional<std::string_view> origin, std::string_view target) const {
  if (!origin) return refused("no Origin header");
  const auto normal = normalize_origin(*origin);
  if (!normal) return refused("origin " + std::string(*origin) + " is not allowed");
  const bool known = std::find(own_.begin(), own_.end(), *normal) != own_.end() ||
                     std::find(allowed_.begin(), allowed_.end(), *normal) != allowed_.end();
  if (!known) return refused("origin " + *normal + " is not allowed");
  const auto token = query_parameter(target, "token");
  if (!token) return refused("no token (origin " + *normal + ")");
  if (!same_secret(*token, token_)) return refused("wrong token (origin " + *normal + ")");
  return {true, {}, *normal};
}

Verdict Gate::admit_host(std::optional<std::string_view> host) const {
  if (!host) return refused("no Host header");
  const std::string name = text::lower_ascii(*host);
  if (std::find(hosts_.begin(), hosts_.end(), name) == hosts_.end())
    return refused("host " + std::string(*host) + " is not this server");
  return {true, {}, {}};
}

Verdict Gate::admit(const Knock& request) const {
  Verdict verdict = admit_host(request.host);
  if (verdict.allowed && request.upgrade) verdict = admit_websocket(request.origin, request.target);
  return verdict;
}

}  // namespace vintrel::web
