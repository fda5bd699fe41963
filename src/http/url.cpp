#include "http/url.hpp"

#include <cctype>

#include "http/authority.hpp"
#include "text/text.hpp"

namespace vintrel::http {

namespace {

// The five parts of a URI reference; "defined" is kept apart from "empty".
struct Parts {
  std::optional<std::string> scheme;
  std::optional<std::string> authority;
  std::string path;
  std::optional<std::string> query;
};

bool is_scheme_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.'; }

Parts split_reference(std::string_view ref) {
  Parts parts;
  if (const auto hash = ref.find('#'); hash != std::string_view::npos) ref = ref.substr(0, hash);
  const auto colon = ref.find(':');
  if (colon != std::string_view::npos && colon > 0 && std::isalpha(static_cast<unsigned char>(ref[0]))) {
    bool scheme = true;
    for (std::size_t n = 0; n < colon; ++n) scheme = scheme && is_scheme_char(ref[n]);
    // A colon after a slash or question mark belongs to the path or query.
    const auto first_delim = ref.find_first_of("/?");
    if (scheme && (first_delim == std::string_view::npos || colon < first_delim)) {
      parts.scheme = std::string(ref.substr(0, colon));
      ref = ref.substr(colon + 1);
    }
  }
  if (ref.substr(0, 2) == "//") {
    ref = ref.substr(2);
    const auto end = ref.find_first_of("/?");
    parts.authority = std::string(ref.substr(0, end));
    ref = end == std::string_view::npos ? std::string_view{} : ref.substr(end);
  }
  const auto question = ref.find('?');
  parts.path = std::string(ref.substr(0, question));
  if (question != std::string_view::npos) parts.query = std::string(ref.substr(question + 1));
  return parts;
}

std::string merge(const Parts& base, const std::string& path) {
  if (base.authority && base.path.empty()) return "/" + path;
  const auto slash = base.path.rfind('/');
  if (slash == std::string::npos) return path;
  return base.path.substr(0, slash + 1) + path;
}

}  // namespace

std::string remove_dot_segments(std::string_view path) {
  std::string input(path);
  std::string output;
  while (!input.empty()) {
    if (input.rfind("../", 0) == 0) {
      input.erase(0, 3);
    } else if (input.rfind("./", 0) == 0) {
      input.erase(0, 2);
    } else if (input.rfind("/./", 0) == 0) {
      input.erase(0, 2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.rfind("/../", 0) == 0 || input == "/..") {
      input = input == "/.." ? "/" : input.substr(3);
      const auto slash = output.rfind('/');
      output.erase(slash == std::string::npos ? 0 : slash);
    } else if (input == "." || input == "..") {
      input.clear();
    } else {
      const auto next = input.find('/', input[0] == '/' ? 1 : 0);
      output += input.substr(0, next);
      input.erase(0, next == std::string::npos ? input.size() : next);
    }
  }
  return output;
}

std::string resolve_reference(std::string_view base_text, std::string_view reference) {
  // The fragment goes before the blanks are trimmed: blanks in front of a
  // "#" end a URL too, and a path keeping them ("/.. #x") would turn back
  // into a dot segment once the result is read as a URL, which trims.
  const Parts base = split_reference(text::trim(base_text.substr(0, base_text.find('#'))));
  const Parts ref = split_reference(text::trim(reference.substr(0, reference.find('#'))));
  Parts target;
  if (ref.scheme) {
    target = ref;
    target.path = remove_dot_segments(ref.path);
  } else {
    if (ref.authority) {
      target.authority = ref.authority;
      target.path = remove_dot_segments(ref.path);
      target.query = ref.query;
    } else {
      if (ref.path.empty()) {
        // The base is the page's URL as given, dots and all; a browser
        // would have read them away before any reference met it.
        target.path = remove_dot_segments(base.path);
        target.query = ref.query ? ref.query : base.query;
      } else {
        target.path = remove_dot_segments(ref.path[0] == '/' ? ref.path : merge(base, ref.path));
        target.query = ref.query;
      }
      target.authority = base.authority;
    }
    target.scheme = base.scheme;
  }
  std::string out;
  if (target.scheme) out += *target.scheme + ":";
  if (target.authority) out += "//" + *target.authority;
  out += target.path;
  if (target.query) out += "?" + *target.query;
  return out;
}

std::optional<HttpUrl> parse_http_url(std::string_view url) {
  // A server's Location becomes the next request line: a line end or other
  // control byte in it would let the server write headers of its choosing.
  for (const char c : url)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::nullopt;
  const Parts parts = split_reference(text::trim(url));
  if (!parts.scheme || !parts.authority) return std::nullopt;
  const std::string scheme = text::lower_ascii(*parts.scheme);
  if (scheme != "http" && scheme != "https") return std::nullopt;
  std::string_view authority = *parts.authority;
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) authority = authority.substr(at + 1);
  HttpUrl result;
  result.secure = scheme == "https";
  result.port = result.secure ? 443 : 80;
  const auto server = split_authority(authority);
  // A host with a colon is an IPv6 address, which a URL writes in brackets.
  if (!server || server->host.empty() || (is_ipv6_literal(server->host) && !authority.starts_with('[')))
    return std::nullopt;
  result.host = server->host;
  if (server->port && !server->port->empty()) {
    const auto port = read_port(*server->port);
    if (!port) return std::nullopt;
    result.port = *port;
  }
  result.path = parts.path.empty() ? "/" : parts.path;
  if (parts.query) result.path += "?" + *parts.query;
  return result;
}

namespace {

// host[:port] as a URL writes it: IPv6 in brackets, the default port left out.
std::string authority(const std::string& host, std::int32_t port, bool secure) {
  std::string text = bracketed(host);
  if (port != (secure ? 443 : 80)) text += ":" + std::to_string(port);
  return text;
}

}  // namespace

std::string host_field(const std::string& host, std::int32_t port, bool secure) {
  return authority(host, port, secure);
}

std::string request_target(std::string_view path) {
  constexpr const char* digits = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == ' ' || byte >= 0x80) {
      out += '%';
      out += digits[byte >> 4];
      out += digits[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

std::string request_url(const std::string& host, std::int32_t port, bool secure, const std::string& path) {
  return (secure ? "https://" : "http://") + authority(host, port, secure) + path;
}

}  // namespace vintrel::http
