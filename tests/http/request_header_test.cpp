// Header lines the user adds: which are taken, which refused, and the
// lines they become.

#include <gtest/gtest.h>

#include <string>

#include "http/request_header.hpp"

namespace vintrel::http {
namespace {

TEST(ExtraHeader, TakenLinesKeepTheirNameAndLoseTheBlanksAroundTheValue) {
  const struct {
    std::string text, name, value;
  } cases[] = {
      {"X-Trace: 42", "X-Trace", "42"},   {"Accept-Language:en", "Accept-Language", "en"},
      {"x-empty:", "x-empty", ""},        {"A!#$%&'*+-.^_`|~z:  two  words  ", "A!#$%&'*+-.^_`|~z", "two  words"},
      {"X-Colon: a:b", "X-Colon", "a:b"}, {"X-Bytes: caf\xC3\xA9", "X-Bytes", "caf\xC3\xA9"},
  };
  for (const auto& c : cases) {
    std::string why;
    const auto header = parse_extra_header(c.text, why);
    ASSERT_TRUE(header) << c.text << ": " << why;
    EXPECT_EQ(header->name, c.name);
    EXPECT_EQ(header->value, c.value);
  }
}

TEST(ExtraHeader, RefusedLinesSayWhy) {
  const struct {
    std::string text, why;
  } cases[] = {
      {"X-A: 1\r\nX-B: 2", "control character 0x0D"},
      {"X-A: 1\nHost: evil", "control character 0x0A"},
      {std::string("X-A: \0", 6), "control character 0x00"},
      {"X-A: \t1", "control character 0x09"},
      {"X-A: 1\x7F", "control character 0x7F"},
      {"no colon here", "\"Name: value\""},
      {": value", "not a header name"},
      {"X A: 1", "not a header name"},
      {"X-A : 1", "not a header name"},
      {"X(A): 1", "not a header name"},
      {"caf\xC3\xA9: 1", "not a header name"},
      {"Host: elsewhere", "Host is written by Vintrel"},
      {"range: bytes=0-", "Range is written by Vintrel"},
      {"CONNECTION: keep-alive", "Connection is written"},
      {"If-Range: \"e\"", "If-Range is written"},
      {"Content-Length: 5", "Content-Length is written"},
      {"Transfer-Encoding: chunked", "Transfer-Encoding is written"},
      {"Referer: http://p/", "--referer"},
      {"cookie: a=1", "--cookie"},
      {"User-Agent: me", "--user-agent"},
      {"Proxy-Authorization: Basic eA==", "--proxy"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_FALSE(parse_extra_header(c.text, why)) << c.text;
    EXPECT_NE(why.find(c.why), std::string::npos) << c.text << " gave: " << why;
  }
}

TEST(ExtraHeader, LinesGoOutAgentFirstThenInTheOrderGiven) {
  EXPECT_EQ(extra_header_lines("", {}), "");
  EXPECT_EQ(extra_header_lines("fetch/1.0", {}), "User-Agent: fetch/1.0\r\n");
  EXPECT_EQ(extra_header_lines("fetch/1.0", {{"X-B", "2"}, {"X-A", ""}}),
            "User-Agent: fetch/1.0\r\nX-B: 2\r\nX-A: \r\n");
  EXPECT_EQ(extra_header_lines("", {{"X-A", "1"}}), "X-A: 1\r\n");
}

}  // namespace
}  // namespace vintrel::http
