// URLs: absolute http and https URLs read for a request, and references
// resolved against them.

#include "http/url.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "support/grind.hpp"

namespace vintrel::http {
namespace {

TEST(Url, ReferencesResolveAsBrowsersResolveThem) {
  const std::string base = "http://srv:8080/a/b/c.zip?q=1";
  EXPECT_EQ(resolve_reference(base, "d.zip"), "http://srv:8080/a/b/d.zip");
  EXPECT_EQ(resolve_reference(base, "../x"), "http://srv:8080/a/x");
  EXPECT_EQ(resolve_reference(base, "../../../x"), "http://srv:8080/x");
  EXPECT_EQ(resolve_reference(base, "/x?y=2"), "http://srv:8080/x?y=2");
  EXPECT_EQ(resolve_reference(base, "//other/x"), "http://other/x");
  EXPECT_EQ(resolve_reference(base, "?z"), "http://srv:8080/a/b/c.zip?z");
  EXPECT_EQ(resolve_reference(base, ""), "http://srv:8080/a/b/c.zip?q=1");
  EXPECT_EQ(resolve_reference(base, "./d/./e/../f#frag"), "http://srv:8080/a/b/d/f");
  EXPECT_EQ(resolve_reference(base, "http://h2:81/p?u=http://x/y"), "http://h2:81/p?u=http://x/y");
  EXPECT_EQ(resolve_reference(base, "https://h/p"), "https://h/p");
  EXPECT_EQ(remove_dot_segments("/a/b/../c/./d"), "/a/c/d");
}

TEST(Url, BlanksBeforeAFragmentLeaveNoDotSegmentBehind) {
  const std::string base = "http://srv.example:8080/dir/sub/file.bin?x=1";
  // Found by fuzzing: the blank kept "/.." from being read as a dot segment
  // until the URL was parsed and trimmed.
  const auto resolved = resolve_reference(base, "//./.../..//.. ####\xff\xe2/../.../../..//");
  EXPECT_EQ(resolved, "http://./");
  const auto url = parse_http_url(resolved);
  ASSERT_TRUE(url);
  EXPECT_EQ(url->path, "/");
  EXPECT_EQ(resolve_reference(base, "../x/.. #frag"), "http://srv.example:8080/dir/");
}

// Found by fuzzing: a reference without a path kept the dot segments of a
// base made from a page's URL.
TEST(Url, AReferenceWithoutPathLeavesNoDotSegmentOfTheBase) {
  EXPECT_EQ(resolve_reference("http://srv.exampl/./653inttp://srv.exampl?x=1", ""),
            "http://srv.exampl/653inttp://srv.exampl?x=1");
  EXPECT_EQ(resolve_reference("http://srv/a/../b/./c.zip?q=1", "?z"), "http://srv/b/c.zip?z");
  EXPECT_EQ(resolve_reference("http://srv/a/../b/./c.zip?q=1", "#top"), "http://srv/b/c.zip?q=1");
  EXPECT_EQ(resolve_reference("http://v//. ", ""), "http://v//");
  EXPECT_EQ(resolve_reference("http://v/a/.. #x", "?q"), "http://v/?q");
}

TEST(Url, HttpUrlsSplitIntoHostPortAndPath) {
  auto u = parse_http_url("HTTP://user@Srv:8080/p/q.bin?x=1");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->host, "Srv");
  EXPECT_EQ(u->port, 8080);
  EXPECT_EQ(u->path, "/p/q.bin?x=1");
  u = parse_http_url("http://[::1]:9/x");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->host, "::1");
  EXPECT_EQ(u->port, 9);
  EXPECT_EQ(parse_http_url("http://srv")->path, "/");
  EXPECT_EQ(parse_http_url("http://srv?a")->path, "/?a");
  u = parse_http_url("HTTPS://srv/x");
  ASSERT_TRUE(u);
  EXPECT_TRUE(u->secure);
  EXPECT_EQ(u->port, 443);
  EXPECT_EQ(parse_http_url("https://[::1]:8443/x")->port, 8443);
  EXPECT_FALSE(parse_http_url("http://srv/x")->secure);
  EXPECT_FALSE(parse_http_url("ftp://srv/x"));
  EXPECT_FALSE(parse_http_url("http:///x"));
  EXPECT_FALSE(parse_http_url("http://srv:0/x"));
  EXPECT_FALSE(parse_http_url("http://srv:99999/x"));
  EXPECT_FALSE(parse_http_url("http://srv:8a/x"));
  EXPECT_FALSE(parse_http_url("/relative"));
  EXPECT_FALSE(parse_http_url("http://srv/x\rEvil: 1"));
  EXPECT_FALSE(parse_http_url("http://srv/x\nEvil: 1"));
  EXPECT_FALSE(parse_http_url(std::string("http://srv/x\0y", 14)));
}

// A URL read for a request, as a value that compares.
using ReadUrl = std::optional<std::tuple<std::string, std::int32_t, std::string, bool>>;

ReadUrl read_url(std::string_view text) {
  const auto url = parse_http_url(text);
  if (!url) return std::nullopt;
  return std::make_tuple(url->host, url->port, url->path, url->secure);
}

// Whatever is cut off or broken in a URL, what is read from it is a request
// that can be sent: a host, a port in range, a path from "/", and no byte
// that would end or break the request line.
TEST(Url, CutOrBrokenUrlsAreRefusedOrReadAsSendableRequests) {
  const auto refused = [](const ReadUrl& url) { return !url; };
  const auto fault = [](const ReadUrl& url) -> std::optional<std::string> {
    if (!url) return std::nullopt;
    const auto& [host, port, path, secure] = *url;
    const auto control = [](std::string_view text) {
      return std::any_of(text.begin(), text.end(),
                         [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
    };
    if (host.empty()) return "no host";
    if (port < 1 || port > 65535) return "port " + std::to_string(port);
    if (path.empty() || path.front() != '/') return "path " + path;
    if (control(host) || control(path)) return "a control byte in " + host + path;
    return std::nullopt;
  };
  for (const std::string_view url :
       {"http://user@srv:8080/p/q.bin?x=1", "HTTPS://[::1]:8443/a b", "http://srv", "https://h.example/?q=/x#f"})
    EXPECT_EQ(testing::failgrind(url, read_url, refused, fault), std::nullopt) << url;
}

TEST(Url, HostFieldCarriesEveryPortThatIsNotTheSchemesDefault) {
  // Servers build absolute redirections from it: a port left out would
  // send the client to port 80.
  const struct {
    const char* host;
    std::int32_t port;
    bool secure;
    const char* field;
  } cases[] = {
      {"srv", 80, false, "srv"},
      {"srv", 8080, false, "srv:8080"},
      {"srv", 443, false, "srv:443"},
      {"srv", 443, true, "srv"},
      {"srv", 8443, true, "srv:8443"},
      {"srv", 80, true, "srv:80"},
      {"127.0.0.1", 81, false, "127.0.0.1:81"},
      {"::1", 80, false, "[::1]"},
      {"::1", 8080, false, "[::1]:8080"},
      {"::1", 443, true, "[::1]"},
  };
  for (const auto& c : cases) EXPECT_EQ(host_field(c.host, c.port, c.secure), c.field) << c.host << ":" << c.port;
  EXPECT_EQ(request_url("::1", 8443, true, "/a?b"), "https://[::1]:8443/a?b");
  EXPECT_EQ(request_url("srv", 80, false, "/a"), "http://srv/a");
}

TEST(Url, RequestTargetEncodesSpacesAndHighBytesOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"/a b/c d.zip?q=x y", "/a%20b/c%20d.zip?q=x%20y"},
      {"/caf\xC3\xA9/\xE2\x82\xAC.txt?n=\xC3\xBC", "/caf%C3%A9/%E2%82%AC.txt?n=%C3%BC"},
      {"/already%20encoded%C3%A9/%zz%", "/already%20encoded%C3%A9/%zz%"},
      {"/x?u=http://b/y&a=1#f", "/x?u=http://b/y&a=1#f"},
      {"/\x80\xFF", "/%80%FF"},
      {"", ""},
  };
  for (const auto& [path, target] : cases) EXPECT_EQ(request_target(path), target) << path;
}

TEST(Url, EveryControlByteInAnAbsoluteUrlRefusesIt) {
  for (int byte = 0; byte < 0x80; ++byte) {
    if (byte >= 0x20 && byte != 0x7F && byte != '~') continue;
    const std::string c(1, static_cast<char>(byte));
    for (const std::string& url : {"http://s" + c + "rv/x", "http://srv/x" + c + "y", "http://srv/x?q=" + c})
      EXPECT_EQ(parse_http_url(url).has_value(), byte == '~') << "byte " << byte << " in " << url;
  }
}

}  // namespace
}  // namespace vintrel::http
