// The one reading of a server part, shared by URLs, proxies, no_proxy
// entries and origins.

#include "http/authority.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/grind.hpp"

namespace vintrel::http {
namespace {

TEST(Authority, SplitsHostAndPortWithIpv6InBrackets) {
  struct Row {
    const char* text;
    std::optional<Authority> split;
  };
  const Row rows[] = {
      {"example.org", Authority{"example.org", std::nullopt}},
      {"example.org:8080", Authority{"example.org", "8080"}},
      {"example.org:", Authority{"example.org", ""}},
      {"example.org:x", Authority{"example.org", "x"}},  // read_port refuses it
      {"[::1]", Authority{"::1", std::nullopt}},
      {"[::1]:8443", Authority{"::1", "8443"}},
      {"[::1]:", Authority{"::1", ""}},
      {"::1", Authority{"::1", std::nullopt}},  // bare, as no_proxy lists write it
      {"fe80::1:80", Authority{"fe80::1:80", std::nullopt}},
      {"", Authority{"", std::nullopt}},
      {"[::1", std::nullopt},
      {"[::1]x", std::nullopt},
      {"[::1]8080", std::nullopt},
  };
  for (const Row& row : rows) EXPECT_EQ(split_authority(row.text), row.split) << row.text;
}

TEST(Authority, PortsAreDigitsFrom1To65535) {
  for (const char* good : {"1", "80", "065535", "65535"}) EXPECT_TRUE(read_port(good)) << good;
  for (const char* bad : {"", "0", "65536", "+80", "-1", "8o", "80 ", " 80", "99999999999"})
    EXPECT_FALSE(read_port(bad)) << bad;
  EXPECT_EQ(read_port("065535"), 65535);
}

TEST(Authority, WritesIpv6InBracketsOnce) {
  EXPECT_EQ(host_and_port("example.org", 443), "example.org:443");
  EXPECT_EQ(host_and_port("::1", 8443), "[::1]:8443");
  EXPECT_EQ(host_and_port("[::1]", 8443), "[::1]:8443");
  EXPECT_EQ(bracketed("127.0.0.1"), "127.0.0.1");
}

// Whatever is cut off or broken in a server part, a host it splits into is
// read back the same once written again: one reading, whoever writes it.
// (Hosts left holding brackets or control bytes are refused by the
// resolver, ports that are no number by read_port.)
TEST(Authority, CutOrBrokenServerPartsSplitAsTheirWrittenFormDoes) {
  const auto refused = [](const std::optional<Authority>& split) { return !split; };
  const auto fault = [](const std::optional<Authority>& split) -> std::optional<std::string> {
    if (!split || split->host.find_first_of(std::string("[]\0\r\n", 5)) != std::string::npos ||
        (split->port && !read_port(*split->port)))
      return std::nullopt;
    const std::string written = (is_ipv6_literal(split->host) ? "[" + split->host + "]" : split->host) +
                                (split->port ? ":" + *split->port : "");
    if (split_authority(written) != split) return "read otherwise once written: " + written;
    return std::nullopt;
  };
  for (const std::string_view text : {"example.org:8080", "[::1]:8443", "::1", "[fe80::1]"})
    EXPECT_EQ(testing::failgrind(text, split_authority, refused, fault), std::nullopt) << text;
}

}  // namespace
}  // namespace vintrel::http
