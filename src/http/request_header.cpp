#include "http/request_header.hpp"

#include <array>
#include <cstring>

#include "text/text.hpp"

namespace vintrel::http {

namespace {

// The lines the control writes itself. The first four carry the request's
// own meaning (which server, which bytes, one answer per connection); the
// framing lines would make the server wait for a body that never comes; the
// rest have options of their own, and a second copy of one would be taken
// by some servers and refused by others.
constexpr std::array<const char*, 10> reserved{
    "Host",    "Range",  "Connection",          "If-Range",  "Content-Length", "Transfer-Encoding",
    "Referer", "Cookie", "Proxy-Authorization", "User-Agent"};

bool is_tchar(char c) noexcept {
  const auto u = static_cast<unsigned char>(c);
  if (u >= '0' && u <= '9') return true;
  if ((u | 0x20U) >= 'a' && (u | 0x20U) <= 'z') return true;
  return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

}  // namespace

bool is_token(std::string_view name) noexcept {
  if (name.empty()) return false;
  for (const char c : name)
    if (!is_tchar(c)) return false;
  return true;
}

std::optional<ExtraHeader> parse_extra_header(std::string_view text, std::string& why) {
  if (const auto at = text::find_control(text); at != std::string_view::npos) {
    why = "holds a " + text::control_name(text[at]);
    return std::nullopt;
  }
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) {
    why = "a header is \"Name: value\"";
    return std::nullopt;
  }
  const std::string_view name = text.substr(0, colon);
  if (!is_token(name)) {
    why = "the name is not a header name (letters, digits and !#$%&'*+-.^_`|~ only)";
    return std::nullopt;
  }
  for (const char* own : reserved) {
    if (text::iequals(name, own)) {
      why = std::string(own) + " is written by Vintrel itself";
      if (text::iequals(name, "Referer")) why += "; give it with --referer";
      if (text::iequals(name, "Cookie")) why += "; give it with --cookie";
      if (text::iequals(name, "User-Agent")) why += "; give it with --user-agent";
      if (text::iequals(name, "Proxy-Authorization")) why += "; give it in --proxy's URL";
      return std::nullopt;
    }
  }
  return ExtraHeader{std::string(name), std::string(text::trim(text.substr(colon + 1), " "))};
}

std::string extra_header_lines(std::string_view user_agent, const std::vector<ExtraHeader>& headers) {
  std::string lines;
  if (!user_agent.empty()) lines.append("User-Agent: ").append(user_agent).append("\r\n");
  for (const ExtraHeader& header : headers) lines.append(header.name).append(": ").append(header.value).append("\r\n");
  return lines;
}

}  // namespace vintrel::http
