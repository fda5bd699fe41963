// "Location" values resolved against the URL a request went to, and the
// result read as the next request's address. Input: the base URL, a line
// end, the reference; without a line end the whole input is the reference
// against a fixed base.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http/url.hpp"

namespace {

[[noreturn]] void fail(const std::string& what, std::string_view base, std::string_view reference) {
  std::fprintf(stderr, "INVARIANT BROKEN: %s\n  base: %.*s\n  reference: %.*s\n", what.c_str(),
               static_cast<int>(base.size()), base.data(), static_cast<int>(reference.size()), reference.data());
  std::abort();
}

// A path whose dot segments are all gone: none inside and none at the end.
bool has_dot_segment(std::string_view path) {
  return path.find("/../") != std::string_view::npos || path.find("/./") != std::string_view::npos || path == "/.." ||
         path == "/." || (path.size() >= 3 && path.substr(path.size() - 3) == "/..") ||
         (path.size() >= 2 && path.substr(path.size() - 2) == "/.");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view base = "http://srv.example:8080/dir/sub/file.bin?x=1";
  std::string_view reference = input;
  if (const auto line = input.find('\n'); line != std::string_view::npos) {
    base = input.substr(0, line);
    reference = input.substr(line + 1);
  }

  if (!reference.empty() && reference[0] == '/') {
    const std::string clean = vintrel::http::remove_dot_segments(reference);
    if (has_dot_segment(clean)) fail("dot segments left: " + clean, base, reference);
    if (vintrel::http::remove_dot_segments(clean) != clean)
      fail("removing dot segments twice changed " + clean, base, reference);
  }

  const std::string resolved = vintrel::http::resolve_reference(base, reference);
  const auto url = vintrel::http::parse_http_url(resolved);
  if (!url) return 0;
  if (url->port < 1 || url->port > 65535) fail("port " + std::to_string(url->port), base, reference);
  if (url->host.empty()) fail("empty host", base, reference);
  if (url->path.empty() || url->path[0] != '/') fail("path " + url->path, base, reference);
  const std::string_view path = std::string_view(url->path).substr(0, url->path.find('?'));
  if (has_dot_segment(path)) fail("dot segments left in " + resolved, base, reference);

  // The result is already resolved: resolving it again, from anywhere,
  // gives it back unchanged.
  const bool blank_ends =
      resolved.front() == ' ' || resolved.front() == '\t' || resolved.back() == ' ' || resolved.back() == '\t';
  if (!blank_ends && vintrel::http::resolve_reference(base, resolved) != resolved)
    fail("resolving " + resolved + " again gave " + vintrel::http::resolve_reference(base, resolved), base, reference);
  return 0;
}
