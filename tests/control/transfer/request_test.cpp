#include <gtest/gtest.h>

#include <functional>

#include "support/control_bytes.hpp"
#include "support/control_harness.hpp"
#include "support/user_control1_test_view.hpp"

namespace vintrel {
namespace {

struct RequestBuilding : ::testing::Test {
  testing::ControlHarness h;
  control::UserControl1& c = h.control;
  const control::UserControl1TestView engine{c};

  void SetUp() override {
    h.start({"http://srv/dir/file.zip?x=1"}, "/dl");
    c.containerURL = "http://page/";
    c.cookielist = "a=1; b=2";
  }
};

TEST_F(RequestBuilding, FileRequestWithoutRangeLine) {
  h.file(1).bytesondisk = 5000;  // not resuming: no range whatever is on disk
  c.buildRequest(1);
  EXPECT_EQ(engine.file(1).dlRequest,
            "GET /dir/file.zip?x=1 HTTP/1.1\r\n"
            "Referer: http://page/\r\n"
            "Host: srv\r\n"
            "Connection: close\r\n"
            "Accept: */*\r\n"
            "Cookie: a=1; b=2\r\n"
            "\r\n");
}

TEST_F(RequestBuilding, RangeLineOpenAndClosed) {
  auto& f = h.file(1);
  f.isResumingDownload = true;
  f.bytesondisk = 5000;
  c.buildRequest(1);
  EXPECT_NE(engine.file(1).dlRequest.find("Host: srv\r\nRange: bytes=5000-\r\nConnection: close\r\n"),
            std::string::npos);
  f.contentlength = 20000;
  c.buildRequest(1);
  EXPECT_NE(engine.file(1).dlRequest.find("\r\nRange: bytes=5000-20000\r\n"), std::string::npos);
  // Large byte counts go out as plain digits.
  f.bytesondisk = 5368709120.0;
  f.contentlength = 0;
  c.buildRequest(1);
  EXPECT_NE(engine.file(1).dlRequest.find("\r\nRange: bytes=5368709120-\r\n"), std::string::npos);
}

TEST_F(RequestBuilding, EmptyCookieAndReferrerStillGiveTheirLines) {
  c.containerURL.clear();
  c.cookielist.clear();
  c.buildRequest(1);
  EXPECT_EQ(engine.file(1).dlRequest,
            "GET /dir/file.zip?x=1 HTTP/1.1\r\nReferer: \r\nHost: srv\r\nConnection: close\r\n"
            "Accept: */*\r\nCookie: \r\n\r\n");
}

TEST_F(RequestBuilding, PingRequestAndSlotBounds) {
  c.buildPingRequest(7, "/x.bin", "mirror");
  EXPECT_EQ(engine.probe(7).psRequest,
            "GET /x.bin HTTP/1.1\r\nHost: mirror\r\nConnection: close\r\nAccept: */*\r\n\r\n");
  c.buildPingRequest(7, "/y", "m");
  EXPECT_EQ(engine.probe(7).psRequest, "GET /y HTTP/1.1\r\nHost: m\r\nConnection: close\r\nAccept: */*\r\n\r\n");
  EXPECT_EQ(testing::error_of([&] { c.buildPingRequest(101, "/", "h"); }), automation::err::subscript);
  EXPECT_EQ(testing::error_of([&] { c.buildRequest(0); }), automation::err::subscript);
}

// A plain request to a proxy names the server in full and carries the
// proxy's credentials; the rest is what the server has always been sent.
// Secure requests travel inside a tunnel and stay as they are.
TEST_F(RequestBuilding, ThroughAProxyAPlainRequestNamesItsServer) {
  h.platform.proxies.http = platform::ProxyServer{.host = "proxy", .port = 3128, .user = "u", .password = "p"};
  c.buildRequest(1);
  EXPECT_EQ(engine.file(1).dlRequest,
            "GET http://srv:80/dir/file.zip?x=1 HTTP/1.1\r\n"
            "Referer: http://page/\r\n"
            "Host: srv\r\n"
            "Proxy-Authorization: Basic dTpw\r\n"
            "Connection: close\r\n"
            "Accept: */*\r\n"
            "Cookie: a=1; b=2\r\n"
            "\r\n");

  queue::remoteServerLoc mirror;
  mirror.servName = "::1";
  mirror.PortNum = 8080;
  c.buildPingRequest(7, "/x.bin", "[::1]:8080", &mirror);
  EXPECT_EQ(engine.probe(7).psRequest,
            "GET http://[::1]:8080/x.bin HTTP/1.1\r\nHost: [::1]:8080\r\nProxy-Authorization: Basic dTpw\r\n"
            "Connection: close\r\nAccept: */*\r\n\r\n");
  mirror.isSecure = true;
  c.buildPingRequest(7, "/x.bin", "m", &mirror);
  EXPECT_EQ(engine.probe(7).psRequest, "GET /x.bin HTTP/1.1\r\nHost: m\r\nConnection: close\r\nAccept: */*\r\n\r\n");

  h.platform.proxies.direct = platform::NoProxy("srv");
  c.buildRequest(1);
  EXPECT_EQ(engine.file(1).dlRequest.rfind("GET /dir/file.zip?x=1 HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(engine.file(1).dlRequest.find("Proxy-"), std::string::npos);
}

// The host's added lines follow the control's own in both kinds of request,
// through a proxy and on a resume alike.
TEST_F(RequestBuilding, AddedLinesFollowTheControlsOwnInFileRequestsAndProbes) {
  const std::string added = "User-Agent: fetch/1\r\nX-A: 1\r\n";
  c.set_extra_header_lines(added);
  c.buildRequest(1);
  EXPECT_EQ(engine.file(1).dlRequest,
            "GET /dir/file.zip?x=1 HTTP/1.1\r\nReferer: http://page/\r\nHost: srv\r\nConnection: close\r\n"
            "Accept: */*\r\nCookie: a=1; b=2\r\n" +
                added + "\r\n");
  h.file(1).isResumingDownload = true;
  h.file(1).bytesondisk = 10;
  c.buildRequest(1);
  EXPECT_TRUE(
      engine.file(1).dlRequest.ends_with("Range: bytes=10-\r\nConnection: close\r\nAccept: */*\r\n"
                                         "Cookie: a=1; b=2\r\n" +
                                         added + "\r\n"));
  c.buildPingRequest(7, "/x.bin", "mirror");
  EXPECT_EQ(engine.probe(7).psRequest,
            "GET /x.bin HTTP/1.1\r\nHost: mirror\r\nConnection: close\r\nAccept: */*\r\n" + added + "\r\n");
  h.platform.proxies.http = platform::ProxyServer{.host = "proxy", .port = 3128, .user = std::nullopt, .password = ""};
  queue::remoteServerLoc mirror;
  mirror.servName = "m";
  mirror.PortNum = 80;
  c.buildPingRequest(7, "/x.bin", "m", &mirror);
  EXPECT_EQ(engine.probe(7).psRequest,
            "GET http://m:80/x.bin HTTP/1.1\r\nHost: m\r\nConnection: close\r\n"
            "Accept: */*\r\n" +
                added + "\r\n");
}

// What reaches the wire for a URL: path and query with spaces and bytes
// from 0x80 up encoded, the Host field with every port that is not the
// scheme's default; the local file keeps the name as written.
TEST(RequestLine, SpacesAndHighBytesAreEncodedAndTheHostNamesItsPort) {
  const struct {
    const char* url;
    const char* line;
    const char* host;
    const char* name;
  } cases[] = {
      {"http://srv/a b/c d.zip?q=1 2", "GET /a%20b/c%20d.zip?q=1%202", "srv", "c d.zip"},
      {"http://srv:8080/caf\xC3\xA9/\xE2\x82\xAC.txt", "GET /caf%C3%A9/%E2%82%AC.txt", "srv:8080", "\xE2\x82\xAC.txt"},
      {"http://srv/x%20y.bin?a=%41", "GET /x%20y.bin?a=%41", "srv", "x%20y.bin"},
      {"http://srv:80/x?u=http://b/y", "GET /x?u=http://b/y", "srv", "y"},
      {"srv:81/plain.bin", "GET /plain.bin", "srv:81", "plain.bin"},
      {"http://127.0.0.1:8080/f", "GET /f", "127.0.0.1:8080", "f"},
      {"https://srv:443/s p.bin", "GET /s%20p.bin", "srv", "s p.bin"},
      {"https://srv:8443/t.bin", "GET /t.bin", "srv:8443", "t.bin"},
      {"http://[::1]:8080/v6 x", "GET /v6%20x", "[::1]:8080", "v6 x"},
  };
  for (const auto& c : cases) {
    testing::ControlHarness h;
    h.start({c.url}, "/dl");
    const std::string request = h.send_request();
    EXPECT_EQ(request.rfind(std::string(c.line) + " HTTP/1.1\r\n", 0), 0u) << c.url << "\n" << request;
    EXPECT_NE(request.find(std::string("\r\nHost: ") + c.host + "\r\n"), std::string::npos) << c.url << "\n" << request;
    EXPECT_EQ(h.file(1).localfilename, std::string("/dl/") + c.name) << c.url;
  }
}

TEST(RequestLine, ProbesNameThePortAndAProbeWithAControlByteIsNeverSent) {
  testing::ControlHarness h;
  const control::UserControl1TestView engine{h.control};
  h.start({"http://srv:8080/a b.bin"}, "/dl");
  auto mirror = std::make_shared<queue::remoteServerLoc>();
  mirror->servName = "m";
  mirror->PortNum = 80;
  mirror->host = "m";
  mirror->remoteFilePath = "/a\r\nX-Injected: 1";
  h.file(1).remoteServerLocs->Add(mirror);
  h.control.GotoFile(1);
  const std::int32_t first = h.file(1).remoteServerLocs->Item(1).pingSock;
  h.pings().accept(first);
  EXPECT_EQ(h.pings().element(first).sent,
            "GET /a%20b.bin HTTP/1.1\r\nHost: srv:8080\r\nConnection: close\r\nAccept: */*\r\n\r\n");
  const std::int32_t second = mirror->pingSock;
  EXPECT_EQ(h.pings().element(second).connects, 0);
  EXPECT_TRUE(engine.probe(second).psRequest.empty());
}

// Whatever a member holds by the time the request is built, no control
// byte goes out: the file stops with the reason and nothing is connected.
TEST(RequestLine, AControlByteInAnyOfItsPartsStopsTheFileUnsent) {
  using Write = std::function<void(testing::ControlHarness&, const std::string&)>;
  const auto server = [](testing::ControlHarness& h) -> queue::remoteServerLoc& {
    return h.file(1).remoteServerLocs->Item(1);
  };
  const struct {
    const char* part;
    std::int32_t number;
    Write write;
  } parts[] = {
      {"the page address", 5, [](auto& h, const auto& v) { h.control.containerURL = v; }},
      {"the cookie text", 5, [](auto& h, const auto& v) { h.control.cookielist = v; }},
      {"the path", 13, [&](auto& h, const auto& v) { server(h).remoteFilePath = "/" + v; }},
      {"the host", 13, [&](auto& h, const auto& v) { server(h).host = v; }},
      {"the server name", 13, [&](auto& h, const auto& v) { server(h).servName = v; }},
  };
  for (const auto& part : parts) {
    for (const std::string& byte : testing::control_bytes()) {
      testing::ControlHarness h;
      h.start({"http://srv/f.bin"}, "/dl");
      part.write(h, "a" + byte + "b");
      h.control.GotoFile(1);  // the chosen server is copied from the record
      h.host.clear();
      h.platform.timer().tick();
      EXPECT_EQ(h.host.statuses(), (std::vector<std::string>{"Locating File", "File Not Found"})) << part.part;
      EXPECT_EQ(h.control.theerrnumber, part.number) << part.part;
      EXPECT_EQ(h.control.theerrdesc,
                std::string("Request not sent: ") + part.part + " holds " + testing::control_name(byte));
      EXPECT_EQ(h.winsock().element(1).connects, 0) << part.part;
      EXPECT_TRUE(h.winsock().element(1).sent.empty()) << part.part;
    }
  }
}

}  // namespace
}  // namespace vintrel
