// The nginx test server against a plain blocking client: exact bytes,
// ranges and their log lines, missing files, extra locations, rate limits,
// restarts on the same port, servers side by side, and the deterministic
// content helpers.

#include "support/nginx_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

namespace vintrel::testing {
namespace {

#define SKIP_WITHOUT_NGINX() \
  if (!NginxServer::available()) GTEST_SKIP() << NginxServer::why_unavailable()

int connect_loopback(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  // A hung server must fail the test, not hang it.
  timeval limit{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

struct Response {
  int status = 0;
  std::string head;
  std::string body;
  std::string header(const std::string& name) const {
    std::size_t at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos) return {};
    at += name.size() + 4;
    return head.substr(at, head.find("\r\n", at) - at);
  }
};

// Sends `extra_headers` (each ending in \r\n) with a GET and reads to EOF.
Response get(std::uint16_t port, const std::string& path, const std::string& extra_headers = {}) {
  Response response;
  int fd = connect_loopback(port);
  if (fd < 0) {
    ADD_FAILURE() << "connect to port " << port << " failed: errno " << errno;
    return response;
  }
  std::string request = "GET " + path + " HTTP/1.1\r\nHost: a\r\nConnection: close\r\n" + extra_headers + "\r\n";
  std::string_view left = request;
  while (!left.empty()) {
    ssize_t n = ::send(fd, left.data(), left.size(), MSG_NOSIGNAL);
    if (n <= 0) break;
    left.remove_prefix(static_cast<std::size_t>(n));
  }
  std::string all;
  char buffer[65536];
  while (true) {
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      if (n < 0) ADD_FAILURE() << "recv failed: errno " << errno;
      break;
    }
    all.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  std::size_t end = all.find("\r\n\r\n");
  if (end == std::string::npos) {
    ADD_FAILURE() << "no complete response head in " << all.size() << " bytes";
    return response;
  }
  response.head = all.substr(0, end + 2);
  response.body = all.substr(end + 4);
  if (response.head.rfind("HTTP/1.1 ", 0) == 0) response.status = std::atoi(response.head.c_str() + 9);
  return response;
}

TEST(NginxServerTest, ServesExactBytesAndLogsTheRequest) {
  SKIP_WITHOUT_NGINX();
  NginxServer server;
  // Not a multiple of any block size, so a short or padded tail shows.
  const std::size_t size = 3 * 1024 * 1024 + 13;
  make_file(server.file("x"), size, 7);
  server.start();
  ASSERT_NE(server.port(), 0);
  EXPECT_EQ(server.url("/x"), "http://127.0.0.1:" + std::to_string(server.port()) + "/x");

  Response response = get(server.port(), "/x");
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.header("Content-Length"), std::to_string(size));
  EXPECT_EQ(response.header("Content-Type"), "application/octet-stream");
  ASSERT_EQ(response.body.size(), size);
  EXPECT_TRUE(response.body == random_bytes(size, 7));

  auto log = server.wait_for_access_log(1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].request, "GET /x HTTP/1.1");
  EXPECT_EQ(log[0].status, 200);
  EXPECT_EQ(log[0].body_bytes_sent, static_cast<std::int64_t>(size));
  EXPECT_GE(log[0].request_time, 0.0);
  // Absent headers read as empty, not as nginx's "-".
  EXPECT_EQ(log[0].range, "");
  EXPECT_EQ(log[0].cookie, "");
  EXPECT_EQ(log[0].referer, "");
}

TEST(NginxServerTest, RangeRequestsGetPartialContentAndTheLogShowsThem) {
  SKIP_WITHOUT_NGINX();
  NginxServer server;
  const std::string content = random_bytes(100000, 3);
  write_file(server.file("x"), content);
  server.start();

  Response middle = get(server.port(), "/x",
                        "Range: bytes=1000-1999\r\nReferer: http://r.example/page\r\n"
                        "Cookie: a=\"b c\"; d=e\r\n");
  EXPECT_EQ(middle.status, 206);
  EXPECT_EQ(middle.header("Content-Range"), "bytes 1000-1999/100000");
  EXPECT_TRUE(middle.body == content.substr(1000, 1000));

  Response tail = get(server.port(), "/x", "Range: bytes=99990-\r\n");
  EXPECT_EQ(tail.status, 206);
  EXPECT_TRUE(tail.body == content.substr(99990));

  Response beyond = get(server.port(), "/x", "Range: bytes=200000-\r\n");
  EXPECT_EQ(beyond.status, 416);

  auto log = server.wait_for_access_log(3);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].status, 206);
  EXPECT_EQ(log[0].range, "bytes=1000-1999");
  EXPECT_EQ(log[0].body_bytes_sent, 1000);
  EXPECT_EQ(log[0].referer, "http://r.example/page");
  // nginx escapes the quotes in the log; they must come back unescaped.
  EXPECT_EQ(log[0].cookie, "a=\"b c\"; d=e");
  EXPECT_EQ(log[1].range, "bytes=99990-");
  EXPECT_EQ(log[1].body_bytes_sent, 10);
  EXPECT_EQ(log[2].status, 416);
  EXPECT_EQ(log[2].range, "bytes=200000-");
}

TEST(NginxServerTest, MissingFilesAndExtraLocations) {
  SKIP_WITHOUT_NGINX();
  NginxServer::Options options;
  options.extra_locations = {"location = /gone { return 410; }", "location = /moved { return 302 /x; }"};
  NginxServer server(options);
  write_file(server.file("x"), "content");
  server.start();

  EXPECT_EQ(get(server.port(), "/missing").status, 404);
  EXPECT_EQ(get(server.port(), "/gone").status, 410);
  Response moved = get(server.port(), "/moved");
  EXPECT_EQ(moved.status, 302);
  EXPECT_NE(moved.header("Location").find("/x"), std::string::npos);

  auto log = server.wait_for_access_log(3);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].request, "GET /missing HTTP/1.1");
  EXPECT_EQ(log[0].status, 404);
  EXPECT_EQ(log[1].status, 410);
  EXPECT_EQ(log[2].status, 302);
}

TEST(NginxServerTest, ServesAGivenRootFolder) {
  SKIP_WITHOUT_NGINX();
  TempFolder folder;
  write_file(folder.file("given"), "from the given root");
  NginxServer::Options options;
  options.root = folder.path().string();
  NginxServer server(options);
  EXPECT_EQ(server.root(), folder.path().string());
  server.start();
  Response response = get(server.port(), "/given");
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "from the given root");
}

TEST(NginxServerTest, RestartKeepsThePortAndIsDownInBetween) {
  SKIP_WITHOUT_NGINX();
  NginxServer server;
  write_file(server.file("x"), "hello");
  server.start();
  const std::uint16_t port = server.port();
  EXPECT_EQ(get(port, "/x").body, "hello");

  server.stop();
  EXPECT_FALSE(server.running());
  int fd = connect_loopback(port);
  EXPECT_LT(fd, 0) << "connected to a stopped server";
  if (fd >= 0)
    ::close(fd);
  else
    EXPECT_EQ(errno, ECONNREFUSED);

  server.start();
  EXPECT_EQ(server.port(), port);
  EXPECT_EQ(get(port, "/x").body, "hello");

  server.restart();
  EXPECT_TRUE(server.running());
  EXPECT_EQ(server.port(), port);
  EXPECT_EQ(get(port, "/x").body, "hello");
  // The log carries on over restarts.
  EXPECT_EQ(server.wait_for_access_log(3).size(), 3u);
}

TEST(NginxServerTest, TwoServersAtOnceGetTheirOwnPortsAndRoots) {
  SKIP_WITHOUT_NGINX();
  NginxServer first;
  NginxServer second;
  write_file(first.file("x"), "first");
  write_file(second.file("x"), "second");
  first.start();
  second.start();
  EXPECT_NE(first.port(), second.port());
  EXPECT_NE(first.root(), second.root());
  EXPECT_EQ(get(first.port(), "/x").body, "first");
  EXPECT_EQ(get(second.port(), "/x").body, "second");
  EXPECT_EQ(first.wait_for_access_log(1).size(), 1u);
  EXPECT_EQ(second.wait_for_access_log(1).size(), 1u);
}

TEST(NginxServerTest, LimitRateSlowsResponses) {
  SKIP_WITHOUT_NGINX();
  NginxServer::Options options;
  options.limit_rate = 20000;
  NginxServer server(options);
  const std::string content = random_bytes(30000, 9);
  write_file(server.file("x"), content);
  ASSERT_NO_THROW(server.start()) << server.error_log();

  const auto begin = std::chrono::steady_clock::now();
  Response response = get(server.port(), "/x");
  const auto elapsed = std::chrono::steady_clock::now() - begin;
  EXPECT_TRUE(response.body == content);
  // nginx lets the first second's worth through at once, so 30000 bytes at
  // 20000 B/s take about one second; unlimited they take microseconds.
  EXPECT_GE(elapsed, std::chrono::milliseconds(500));
}

TEST(NginxServerTest, StopIsSafeToRepeatAndTheDestructorEndsNginx) {
  SKIP_WITHOUT_NGINX();
  std::uint16_t port = 0;
  {
    NginxServer server;
    server.stop();  // never started
    server.start();
    server.start();  // already running
    port = server.port();
  }
  int fd = connect_loopback(port);
  EXPECT_LT(fd, 0) << "nginx outlived its server object";
  if (fd >= 0) ::close(fd);
}

TEST(NginxServerTest, NginxDoesNotHoldTheTestsDescriptors) {
  SKIP_WITHOUT_NGINX();
  // Deliberately without close-on-exec, like many sockets a test makes.
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  timeval limit{5, 0};
  ::setsockopt(pair[1], SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  NginxServer server;
  server.start();
  ::close(pair[0]);
  char byte;
  EXPECT_EQ(::recv(pair[1], &byte, 1, 0), 0) << "the closed end lives on in nginx";
  ::close(pair[1]);
}

TEST(NginxServerTest, RandomContentIsDeterministic) {
  EXPECT_EQ(random_bytes(0, 1), "");
  const std::string a = random_bytes(1001, 1);
  EXPECT_EQ(a.size(), 1001u);
  EXPECT_EQ(random_bytes(1001, 1), a);
  EXPECT_EQ(random_bytes(13, 1), a.substr(0, 13));
  EXPECT_NE(random_bytes(1001, 2), a);
  // Not some constant pattern: most byte values show up.
  const std::string many = random_bytes(100000, 0);
  bool seen[256] = {};
  int distinct = 0;
  for (char c : many) {
    auto& s = seen[static_cast<unsigned char>(c)];
    if (!s) ++distinct;
    s = true;
  }
  EXPECT_EQ(distinct, 256);

  // make_file writes in large blocks; the stream must carry on across them.
  TempFolder folder;
  const std::size_t size = (std::size_t{1} << 20) * 2 + 5;
  make_file(folder.file("f"), size, 42);
  const std::string written = read_file(folder.file("f"));
  ASSERT_EQ(written.size(), size);
  EXPECT_TRUE(written == random_bytes(size, 42));
  make_file(folder.file("empty"), 0, 42);
  EXPECT_EQ(read_file(folder.file("empty")), "");
}

}  // namespace
}  // namespace vintrel::testing
