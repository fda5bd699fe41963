// The proxy tunnel's request, and its answer read however it arrives.

#include "http/tunnel.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "http/response_header.hpp"
#include "support/grind.hpp"

namespace vintrel::http {
namespace {

TEST(ProxyTunnel, AsksForTheServerByNameAndPort) {
  EXPECT_EQ(connect_request("example.com", 443, ""),
            "CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n\r\n");
  EXPECT_EQ(connect_request("::1", 8443, "Basic dXNlcjpwYXNz"),
            "CONNECT [::1]:8443 HTTP/1.1\r\nHost: [::1]:8443\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n");
}

// What a proxy's answer came to, read as the bytes gather.
struct Read {
  std::optional<std::size_t> length;
  bool too_large = false;
  std::optional<int> status;
  std::string reason;
  bool operator==(const Read&) const = default;
};

void PrintTo(const Read& read, std::ostream* out) {
  *out << "length " << (read.length ? std::to_string(*read.length) : "none") << (read.too_large ? " too large" : "")
       << " status " << (read.status ? std::to_string(*read.status) : "none") << " \"" << read.reason << '"';
}

// Gathers the arrivals until the answer's head is in, as the proxy
// connection reads it.
Read read_arrivals(const std::vector<std::string_view>& arrivals) {
  std::string gathered;
  for (const auto arrival : arrivals) {
    gathered.append(arrival);
    const TunnelAnswer answer = read_tunnel_answer(gathered);
    if (answer.length || answer.too_large) return {answer.length, answer.too_large, answer.status, answer.reason};
  }
  return {};
}

// Every way the answer may be cut by the network reads the same once whole,
// and what follows the head is never counted in it; a cut-off or broken
// answer never passes for another's head.
TEST(ProxyTunnel, ReadsTheAnswerHoweverItArrives) {
  const std::string head =
      "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"x\"\r\nContent-Length: "
      "0\r\n\r\n";
  const std::string answer = head + "\x16\x03\x01";
  EXPECT_EQ(read_arrivals({answer}), (Read{head.size(), false, 407, "Proxy Authentication Required"}));
  EXPECT_EQ(testing::grind(answer, read_arrivals), std::nullopt);
  const auto no_head = [](const Read& read) { return !read.length; };
  const auto fault = [](const Read& read) -> std::optional<std::string> {
    if (read.status && (*read.status < 100 || *read.status > 999)) return "status " + std::to_string(*read.status);
    if (read.status && !read.length) return "a status before the head is in";
    return std::nullopt;
  };
  for (const std::string_view bytes : {std::string_view(answer), std::string_view("HTTP/1.0 200 OK\r\n\r\n\x16")})
    EXPECT_EQ(testing::failgrind(bytes, read_arrivals, no_head, fault), std::nullopt) << bytes;
  EXPECT_EQ(read_tunnel_answer("HTTP/1.0 200\r\n\r\n").status, 200);
  EXPECT_EQ(read_tunnel_answer("HTTP/1.0 200\r\n\r\n").reason, "");
  EXPECT_FALSE(read_tunnel_answer("SSH-2.0-OpenSSH\r\n\r\n").status);
  EXPECT_FALSE(read_tunnel_answer("HTTP/1.1 20x OK\r\n\r\n").status);
  EXPECT_FALSE(read_tunnel_answer("HTTP/1.1 2000 OK\r\n\r\n").status);
  EXPECT_EQ(read_tunnel_answer("HTTP/1.1 502 " + std::string(1000, 'r') + "\r\n\r\n").reason.size(), 200u);

  const std::string endless = "HTTP/1.1 200 OK\r\nX: " + std::string(max_header_size, 'a');
  EXPECT_TRUE(read_tunnel_answer(endless).too_large);
  EXPECT_TRUE(read_tunnel_answer(endless + "\r\n\r\n").too_large);
  EXPECT_FALSE(read_tunnel_answer(endless.substr(0, max_header_size - 4) + "\r\n\r\n").too_large);
}

}  // namespace
}  // namespace vintrel::http
