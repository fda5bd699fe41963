#include <gtest/gtest.h>

#include "http/chunked.hpp"
#include "http/response_header.hpp"
#include "http/url.hpp"

namespace vintrel::http {
namespace {

std::span<const std::uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Decodes `body` fed in pieces of `piece` bytes (0: whole).
std::pair<ChunkedDecoder::Result, std::string> decode(std::string_view body, std::size_t piece = 0) {
  ChunkedDecoder decoder;
  std::string out;
  auto result = ChunkedDecoder::Result::need_more;
  const std::size_t step = piece == 0 ? body.size() : piece;
  for (std::size_t at = 0; at < body.size() && result == ChunkedDecoder::Result::need_more; at += step)
    result = decoder.feed(bytes_of(body.substr(at, step)),
                          [&](std::span<const std::uint8_t> p) { out.append(p.begin(), p.end()); });
  return {result, out};
}

TEST(ChunkedDecoder, DecodesWholeByteByByteAndSplitAtEveryOffset) {
  const std::string body =
      "5\r\nhello\r\n1;ext=1\r\n \r\n10\r\n0123456789abcdef\r\n0\r\nX-Trailer: 1\r\n\r\ntrailing junk";
  const std::string expected = "hello 0123456789abcdef";
  EXPECT_EQ(decode(body), std::make_pair(ChunkedDecoder::Result::done, expected));
  EXPECT_EQ(decode(body, 1), std::make_pair(ChunkedDecoder::Result::done, expected));
  for (std::size_t split = 1; split < body.size(); ++split) {
    ChunkedDecoder decoder;
    std::string out;
    auto sink = [&](std::span<const std::uint8_t> p) { out.append(p.begin(), p.end()); };
    auto first = decoder.feed(bytes_of(std::string_view(body).substr(0, split)), sink);
    if (first == ChunkedDecoder::Result::need_more)
      first = decoder.feed(bytes_of(std::string_view(body).substr(split)), sink);
    EXPECT_EQ(first, ChunkedDecoder::Result::done) << split;
    EXPECT_EQ(out, expected) << split;
  }
}

TEST(ChunkedDecoder, CutOffBodyWaitsForMore) {
  const auto [result, out] = decode("5\r\nhel");
  EXPECT_EQ(result, ChunkedDecoder::Result::need_more);
  EXPECT_EQ(out, "hel");
}

TEST(ChunkedDecoder, BadSizeLinesAndOverflowAreErrors) {
  EXPECT_EQ(decode("zz\r\nhello\r\n0\r\n\r\n").first, ChunkedDecoder::Result::error);
  EXPECT_EQ(decode("\r\n").first, ChunkedDecoder::Result::error);
  EXPECT_EQ(decode("3\r\nabcdef\r\n").first, ChunkedDecoder::Result::error);  // longer than its size
  EXPECT_EQ(decode("10000000000000000\r\n").first, ChunkedDecoder::Result::error);
  // Sixteen hex digits still fit.
  EXPECT_EQ(decode("FFFFFFFFFFFFFFFF\r\nab").first, ChunkedDecoder::Result::need_more);
  EXPECT_EQ(decode("00000000000000000003\r\nabc\r\n0\r\n\r\n").second, "abc");
}

TEST(ResponseHeader, StatusCodeIsTheSecondPieceAndTheVersionIsNeverExamined) {
  EXPECT_EQ(status_code("HTTP/1.1 206 Partial Content Here"), 206);
  EXPECT_EQ(status_code("ICY 200 OK"), 200);
  EXPECT_EQ(status_code("HTTP/1.1 404"), 404);
  EXPECT_EQ(status_code("HTTP/1.1"), std::nullopt);
  EXPECT_EQ(status_code("HTTP/1.1  200 OK"), std::nullopt);  // split at single spaces
  EXPECT_EQ(status_code("HTTP/1.1 OK 200"), std::nullopt);
  EXPECT_EQ(reason_phrase("HTTP/1.1 404 Not Found"), "Not Found");
  EXPECT_EQ(reason_phrase("HTTP/1.1 404"), "");
}

TEST(ResponseHeader, FieldsByNameInAnyCaseAndChunkedCoding) {
  const std::string header = "HTTP/1.1 200 OK\r\nlocation:  /x \r\nTransfer-Encoding: gzip, Chunked";
  EXPECT_EQ(field_value(header, "Location"), "/x");
  EXPECT_EQ(field_value(header, "Content-Length"), std::nullopt);
  EXPECT_TRUE(is_chunked(header));
  EXPECT_FALSE(is_chunked("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip"));
  EXPECT_FALSE(is_chunked("HTTP/1.1 200 OK\r\nX-Transfer-Encoding: chunked"));
  EXPECT_EQ(find_header_end("HTTP/1.1 200 OK\r\nA: b\r\n\r\nbody"), 21u);
  EXPECT_EQ(find_header_end("HTTP/1.1 200 OK\r\n\r"), std::string::npos);
}

TEST(ResponseHeader, ContentRangeForms) {
  const auto r = parse_content_range("bytes 100-199/1000");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->first, 100);
  EXPECT_EQ(r->last, 199);
  EXPECT_EQ(r->total, 1000);
  const auto star = parse_content_range("bytes */5000");
  ASSERT_TRUE(star);
  EXPECT_EQ(star->first, std::nullopt);
  EXPECT_EQ(star->total, 5000);
  EXPECT_EQ(parse_content_range("bytes 0-99/*")->total, std::nullopt);
  EXPECT_FALSE(parse_content_range("items 0-1/2"));
  EXPECT_FALSE(parse_content_range("bytes 9-1/20"));
  EXPECT_FALSE(parse_content_range("bytes x-1/20"));
}

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
