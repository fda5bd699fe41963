// The scripted hostile server against a plain blocking client: bytes and
// pieces in order, orderly close versus reset, scripts per connection,
// recorded requests, speaking first, and a destructor that does not wait for
// stalled, delayed or blocked connections.

#include "support/hostile_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace vintrel::testing {
namespace {

using namespace std::chrono_literals;

const std::string get_request = "GET /x HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n";

std::string random_body(std::size_t size) {
  std::string body(size, '\0');
  std::uint32_t x = 2463534242u;
  for (auto& c : body) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x & 0xffu);
  }
  return body;
}

// A blocking client socket, closed with the object.
class Client {
 public:
  // `receive_buffer` > 0 shrinks the socket's receive buffer (and so the
  // window the server may fill) before connecting.
  explicit Client(std::uint16_t port, int receive_buffer = 0) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receive_buffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    // A script that goes wrong must fail the test, not hang it.
    timeval limit{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Client() { ::close(fd_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connected() const { return connected_; }

  bool send_all(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  // One recv: > 0 bytes appended to `data`, 0 at EOF, -1 with `error` set.
  ssize_t read_once(std::size_t at_most = 65536) {
    std::string buffer(at_most, '\0');
    ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
    if (n > 0) data.append(buffer, 0, static_cast<std::size_t>(n));
    if (n < 0) error = errno;
    return n;
  }

  // True when nothing has arrived yet (without waiting).
  bool nothing_arrived() {
    char byte;
    return ::recv(fd_, &byte, 1, MSG_DONTWAIT | MSG_PEEK) < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }

  // Reads until EOF or an error; the number of reads that brought bytes.
  int read_to_end() {
    int reads = 0;
    while (read_once() > 0) ++reads;
    return reads;
  }

  // Reads until `count` bytes are there, EOF or an error.
  void read_exactly(std::size_t count) {
    while (data.size() < count && read_once(count - data.size()) > 0) {
    }
  }

  std::string data;
  int error = 0;

 private:
  int fd_ = -1;
  bool connected_ = false;
};

TEST(HostileServerTest, ScriptedBytesArriveInOrderThenEof) {
  HostileServer server({Script().send("HTTP/1.1 200 OK\r\n").send("Content-Length: 5\r\n\r\n").send("hello").close()});
  EXPECT_NE(server.port(), 0);
  EXPECT_EQ(server.url("/a"), "http://127.0.0.1:" + std::to_string(server.port()) + "/a");
  Client client(server.port());
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.send_all(get_request));
  client.read_to_end();
  EXPECT_EQ(client.error, 0) << "an orderly close must read as EOF, not as an error";
  EXPECT_EQ(client.data, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
  EXPECT_EQ(server.requests(), std::vector<std::string>{get_request});
  EXPECT_EQ(server.connections(), 1);
}

TEST(HostileServerTest, PiecesArriveSeparatelyAndWhole) {
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes.push_back(static_cast<char>('a' + i % 26));
  HostileServer server({Script().send(bytes, 20, 20ms).close()});
  Client client(server.port());
  ASSERT_TRUE(client.send_all(get_request));
  int reads = client.read_to_end();
  EXPECT_EQ(client.error, 0);
  EXPECT_EQ(client.data, bytes);
  EXPECT_GE(reads, 2) << "pieces paused 20 ms apart came in one read";
}

TEST(HostileServerTest, NothingIsSentBeforeTheRequestUnlessUnprompted) {
  HostileServer server({Script().send("reply").close(), Script().unprompted().send("greeting").close()});

  Client waits(server.port());
  ASSERT_TRUE(server.wait_for_connections(1));
  // The reply only comes after a full request head; half a head is not one.
  ASSERT_TRUE(waits.send_all("GET /x HTTP/1.1\r\nHost: a\r\n"));
  Client speaks_first(server.port());
  speaks_first.read_exactly(8);
  EXPECT_EQ(speaks_first.data, "greeting");
  EXPECT_TRUE(server.requests().empty());
  EXPECT_TRUE(waits.nothing_arrived());

  ASSERT_TRUE(waits.send_all("\r\n"));
  waits.read_to_end();
  EXPECT_EQ(waits.data, "reply");
  EXPECT_EQ(server.requests(), std::vector<std::string>{"GET /x HTTP/1.1\r\nHost: a\r\n\r\n"});
}

TEST(HostileServerTest, CloseWithUnreadInputStillDeliversEverythingThenEof) {
  // The client's bytes sent during the delay are never read by the script.
  // Closing a socket with unread input makes the kernel drop what is still
  // queued to send and reset the connection, so a body that has not left
  // yet (the client's small window keeps it queued) would be cut short.
  const std::string body = random_body(1024 * 1024);
  HostileServer server({Script().send("go").delay(200ms).send(body).close()});
  Client client(server.port(), 4096);
  ASSERT_TRUE(client.send_all(get_request));
  client.read_exactly(2);
  ASSERT_TRUE(client.send_all(std::string(10000, 'x')));
  client.read_to_end();
  EXPECT_EQ(client.error, 0);
  EXPECT_EQ(client.data.size(), body.size() + 2);
  EXPECT_TRUE(client.data == "go" + body);
}

TEST(HostileServerTest, ResetReachesTheClientAsConnectionReset) {
  HostileServer server({Script().reset(), Script().send("HTTP/1.1 200 OK\r\n").reset()});
  {
    Client client(server.port());
    ASSERT_TRUE(client.send_all(get_request));
    client.read_to_end();
    EXPECT_EQ(client.error, ECONNRESET);
    EXPECT_EQ(client.data, "");
  }
  {
    // Bytes sent before the reset may or may not survive it, but nothing
    // else may appear, and the end must be a reset, not EOF.
    Client client(server.port());
    ASSERT_TRUE(client.send_all(get_request));
    client.read_to_end();
    EXPECT_EQ(client.error, ECONNRESET);
    EXPECT_EQ(std::string("HTTP/1.1 200 OK\r\n").rfind(client.data, 0), 0u) << client.data;
  }
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST(HostileServerTest, ConnectionsRunTheirScriptsInOrderAndTheLastOneRepeats) {
  HostileServer server({Script().send("one").close(), Script().send("two").close()});
  std::vector<std::string> seen;
  for (int i = 0; i < 4; ++i) {
    Client client(server.port());
    ASSERT_TRUE(client.send_all("GET /" + std::to_string(i) + " HTTP/1.1\r\nHost: a\r\n\r\n"));
    client.read_to_end();
    seen.push_back(client.data);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"one", "two", "two", "two"}));
  EXPECT_EQ(server.connections(), 4);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i], "GET /" + std::to_string(i) + " HTTP/1.1\r\nHost: a\r\n\r\n");
  }
}

TEST(HostileServerTest, RecordsBodiesAndPipelinedRequests) {
  HostileServer server({Script().wait_request().send("first;").wait_request().send("second;").close()});
  const std::string post = "POST /p HTTP/1.1\r\nHost: a\r\ncontent-length: 7\r\n\r\npayload";
  Client client(server.port());
  // Both requests in one write: the second must not be lost in the buffer of
  // the first.
  ASSERT_TRUE(client.send_all(post + get_request));
  client.read_to_end();
  EXPECT_EQ(client.data, "first;second;");
  EXPECT_EQ(server.requests(), (std::vector<std::string>{post, get_request}));
}

TEST(HostileServerTest, ClientClosingBeforeTheRequestEndsTheScript) {
  HostileServer server({Script().send("never").close()});
  {
    Client client(server.port());
    ASSERT_TRUE(client.send_all("GET /x HTTP/1.1\r\n"));
  }
  // A later connection still gets served.
  Client client(server.port());
  ASSERT_TRUE(client.send_all(get_request));
  client.read_to_end();
  EXPECT_EQ(client.data, "never");
  EXPECT_EQ(server.requests(), std::vector<std::string>{get_request});
  EXPECT_EQ(server.connections(), 2);
}

TEST(HostileServerTest, DestructorReturnsPromptlyWhateverTheConnectionsAreDoing) {
  auto server = std::make_unique<HostileServer>(std::vector<Script>{
      Script().send("head").stall(),
      Script().delay(60s).send("late"),
      // More than the socket buffers hold (the send buffer tops out at 4 MiB
      // by default), to a client that never reads.
      Script().send(std::string(6 * 1024 * 1024, 'z')),
      // Last script, so later connections wait for a request that never comes.
      Script().send("unreachable"),
  });
  Client stalled(server->port());
  Client delayed(server->port());
  Client blocked(server->port(), 4096);
  Client silent(server->port());
  ASSERT_TRUE(stalled.send_all(get_request));
  ASSERT_TRUE(delayed.send_all(get_request));
  ASSERT_TRUE(blocked.send_all(get_request));
  stalled.read_exactly(4);
  EXPECT_EQ(stalled.data, "head");
  ASSERT_TRUE(server->wait_for_requests(3));
  ASSERT_TRUE(server->wait_for_connections(4));

  const auto begin = std::chrono::steady_clock::now();
  server.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 2s);

  // The stalled connection ends without more bytes.
  stalled.read_to_end();
  EXPECT_EQ(stalled.data, "head");
  delayed.read_to_end();
  EXPECT_EQ(delayed.data, "");
}

TEST(HostileServerTest, ResponseHelpersAddNothingImplicitly) {
  EXPECT_EQ(http_response(200, "OK", {}, ""), "HTTP/1.1 200 OK\r\n\r\n");
  EXPECT_EQ(http_response(206, "Partial Content", {{"Content-Length", "3"}, {"X-A", "b"}}, "abc"),
            "HTTP/1.1 206 Partial Content\r\nContent-Length: 3\r\nX-A: b\r\n\r\nabc");
  EXPECT_EQ(chunked("hello world", 4), "4\r\nhell\r\n4\r\no wo\r\n3\r\nrld\r\n0\r\n\r\n");
  EXPECT_EQ(chunked("hello", 0), "5\r\nhello\r\n0\r\n\r\n");
  EXPECT_EQ(chunked("", 4), "0\r\n\r\n");
  EXPECT_EQ(chunked(std::string(26, 'q'), 100), "1a\r\n" + std::string(26, 'q') + "\r\n0\r\n\r\n");
}

TEST(HostileServerTest, RejectsAnEmptyScriptList) {
  EXPECT_THROW(HostileServer(std::vector<Script>{}), std::invalid_argument);
}

}  // namespace
}  // namespace vintrel::testing
