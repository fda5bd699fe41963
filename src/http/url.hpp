#pragma once
// URLs of redirections: references resolved against the request's own URL
// the standard way (RFC 3986), so "../x", "/x", "//host/x" and "?q" all land
// where a browser would take them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vintrel::http {

/// The parts of an http URL that a request needs.
struct HttpUrl {
  std::string host;
  std::int32_t port = 80;
  std::string path;  // path and query, never empty ("/" at least)
};

/// Parses an absolute http URL (scheme in any case, optional user info,
/// optional port, bracketed IPv6 hosts); nullopt for another scheme, an
/// empty host or a port that is not a number from 1 to 65535.
std::optional<HttpUrl> parse_http_url(std::string_view url);

/// `reference` resolved against the absolute URL `base`; the fragment is
/// dropped since it never goes to a server.
std::string resolve_reference(std::string_view base, std::string_view reference);

/// The path's dot segments removed ("/a/b/../c/./d" gives "/a/c/d").
std::string remove_dot_segments(std::string_view path);

}  // namespace vintrel::http
