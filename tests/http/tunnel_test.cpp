// The proxy tunnel's request, and its answer read however it arrives.

#include "http/tunnel.hpp"

#include <gtest/gtest.h>

#include <string>

#include "http/response_header.hpp"

namespace vintrel::http {
namespace {

TEST(ProxyTunnel, AsksForTheServerByNameAndPort) {
  EXPECT_EQ(connect_request("example.com", 443, ""),
            "CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n\r\n");
  EXPECT_EQ(connect_request("::1", 8443, "Basic dXNlcjpwYXNz"),
            "CONNECT [::1]:8443 HTTP/1.1\r\nHost: [::1]:8443\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n");
}

// Every way the answer may be cut by the network reads the same once whole,
// and what follows the head is never counted in it.
TEST(ProxyTunnel, ReadsTheAnswerHoweverItArrives) {
  const std::string head =
      "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"x\"\r\nContent-Length: "
      "0\r\n\r\n";
  const std::string answer = head + "\x16\x03\x01";
  for (std::size_t cut = 0; cut < head.size(); ++cut) {
    const TunnelAnswer part = read_tunnel_answer(std::string_view(answer).substr(0, cut));
    EXPECT_FALSE(part.length) << cut;
    EXPECT_FALSE(part.status) << cut;
  }
  for (std::size_t cut = head.size(); cut <= answer.size(); ++cut) {
    const TunnelAnswer whole = read_tunnel_answer(std::string_view(answer).substr(0, cut));
    EXPECT_EQ(whole.length, head.size());
    EXPECT_EQ(whole.status, 407);
    EXPECT_EQ(whole.reason, "Proxy Authentication Required");
    EXPECT_FALSE(whole.too_large);
  }
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
