#pragma once
// URLs of redirections: references resolved against the request's own URL
// the standard way (RFC 3986), so "../x", "/x", "//host/x" and "?q" all land
// where a browser would take them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vintrel::http {

/// The parts of an http or https URL that a request needs.
struct HttpUrl {
  std::string host;  // an IPv6 address without its brackets
  std::int32_t port = 80;
  std::string path;     // path and query, never empty ("/" at least)
  bool secure = false;  // https
};

/// Parses an absolute http or https URL (scheme in any case, optional user
/// info, optional port, bracketed IPv6 hosts); nullopt for another scheme,
/// an empty host or a port that is not a number from 1 to 65535. The default
/// port is 80 for http and 443 for https.
std::optional<HttpUrl> parse_http_url(std::string_view url);

/// The Host field for a server: the host, an IPv6 address in brackets, and
/// the port when it is not the scheme's default. Servers build absolute
/// redirections from it, so a port left out sends the client to another
/// server.
std::string host_field(const std::string& host, std::int32_t port, bool secure);

/// `path` (path and query) as a request line carries it: spaces and bytes
/// from 0x80 up percent-encoded, everything else, "%XX" included, as it is.
std::string request_target(std::string_view path);

/// The URL a request went to, as the base of a redirection's Location.
std::string request_url(const std::string& host, std::int32_t port, bool secure, const std::string& path);

/// `reference` resolved against the absolute URL `base`; the fragment is
/// dropped since it never goes to a server.
std::string resolve_reference(std::string_view base, std::string_view reference);

/// The path's dot segments removed ("/a/b/../c/./d" gives "/a/c/d").
std::string remove_dot_segments(std::string_view path);

}  // namespace vintrel::http
