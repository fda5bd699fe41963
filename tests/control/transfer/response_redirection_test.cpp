// Redirections: relative and absolute, across schemes, with TLS failures,
// and where they stop.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "control/transfer/response_rig.hpp"
#include "support/control_bytes.hpp"
#include "support/control_harness.hpp"
#include "support/temp_folder.hpp"
#include "support/user_control1_test_view.hpp"

namespace vintrel {
namespace {

using namespace response_rig;

TEST_F(Response, RelativeRedirectionMovesServerPathAndName) {
  connect();
  respond("HTTP/1.1 302 Found\r\nLocation: ../other/new.bin?v=2\r\n\r\n");
  EXPECT_EQ(status(), "pinged");
  EXPECT_TRUE(closed());
  EXPECT_EQ(engine.file(1).dlRemotePath, "/other/new.bin?v=2");
  EXPECT_EQ(h.file(1).localfilename, dir.file("new.bin"));
  EXPECT_EQ(engine.file(1).dlLocalFile, dir.file("new.bin"));
  EXPECT_EQ(connect().substr(0, 32), "GET /other/new.bin?v=2 HTTP/1.1\r");
  respond("HTTP/1.1 301 Moved\r\nLocation: http://mirror:8081/\r\n\r\n");
  EXPECT_EQ(engine.file(1).dlServName, "mirror");
  EXPECT_EQ(engine.file(1).dlPortNum, 8081);
  EXPECT_EQ(h.file(1).localfilename, dir.file("new.bin"));  // an empty name keeps the old one
  EXPECT_EQ(h.file(1).remoteServerLocs->Item(1).servName, "mirror");
  connect();
  EXPECT_EQ(h.winsock().element(1).host, "mirror");
  respond(ok("moved"));
  EXPECT_EQ(read_file(dir.file("new.bin")), "moved");
}

TEST_F(Response, RedirectionWithoutLocationOrToAnotherSchemeStops) {
  connect();
  respond("HTTP/1.1 302 Found\r\n\r\n");
  EXPECT_EQ(h.host.statuses().back(), "File Not Found");
  EXPECT_EQ(c.dErrorDesc(), "Redirection without a location");
  c.GotoFile(1);
  connect();
  respond("HTTP/1.1 307 Temporary\r\nLocation: ftp://srv/x\r\n\r\n");
  EXPECT_EQ(h.host.statuses().back(), "File Not Found");
}

TEST_F(Response, RedirectionsCrossBetweenHttpAndHttpsKeepingTheSchemeForRelativeOnes) {
  connect();
  respond("HTTP/1.1 301 Moved\r\nLocation: https://secure.example:8443/d/f.bin\r\n\r\n");
  ASSERT_EQ(status(), "pinged");
  auto request = connect();
  EXPECT_TRUE(h.winsock().element(1).secure);
  EXPECT_EQ(h.winsock().element(1).host, "secure.example");
  EXPECT_EQ(h.winsock().element(1).port, 8443);
  EXPECT_NE(request.find("GET /d/f.bin HTTP/1.1\r\n"), std::string::npos);
  EXPECT_NE(request.find("\r\nHost: secure.example:8443\r\n"), std::string::npos);
  EXPECT_TRUE(h.file(1).remoteServerLocs->Item(1).isSecure);

  // A relative Location stays on the secure server.
  respond("HTTP/1.1 302 Found\r\nLocation: /e/g.bin\r\n\r\n");
  request = connect();
  EXPECT_TRUE(h.winsock().element(1).secure);
  EXPECT_EQ(h.winsock().element(1).port, 8443);
  EXPECT_NE(request.find("GET /e/g.bin HTTP/1.1\r\n"), std::string::npos);

  // And back to plain http, as curl and wget follow it.
  respond("HTTP/1.1 302 Found\r\nLocation: http://srv/dir/file.bin\r\n\r\n");
  request = connect();
  EXPECT_FALSE(h.winsock().element(1).secure);
  EXPECT_EQ(h.winsock().element(1).port, 80);
  EXPECT_NE(request.find("\r\nHost: srv\r\n"), std::string::npos);
  respond(ok("done"));
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), "done");
}

TEST(ResponseTls, RedirectionToHttpsStopsOnAPlatformWithoutTls) {
  testing::TempFolder dir;
  testing::ControlHarness h;
  h.platform.tls = false;
  h.start({"http://srv/f.bin"}, dir.path().string());
  h.tick();
  h.winsock().accept(1);
  h.tick();
  h.winsock().deliver(1, "HTTP/1.1 302 Found\r\nLocation: https://srv/f.bin\r\n\r\n");
  EXPECT_EQ(h.host.statuses().back(), "File Not Found");
  EXPECT_EQ(h.control.theerrnumber, 302);
}

TEST_F(Response, CertificateFailuresStopTheFileAtOnceWhileHandshakeResetsAreRetried) {
  h.tick();
  h.winsock().fail(1, platform::sck_err::reset);
  EXPECT_EQ(status(), "pinged");
  EXPECT_EQ(h.host.statuses().back(), "Waiting for a connection");

  h.tick();
  h.host.clear();
  h.winsock().fail(1, platform::tls_err::untrusted);
  EXPECT_EQ(h.host.statuses(), Strings{"File Not Found"});
  EXPECT_EQ(c.theerrnumber, platform::tls_err::untrusted);
  EXPECT_EQ(c.dErrorDesc(), platform::socket_error_text(platform::tls_err::untrusted));
  EXPECT_EQ(status(), "downloading");
  EXPECT_TRUE(closed());
  // No new attempt follows: the next ticks leave the file where it is.
  h.tick();
  h.tick();
  EXPECT_EQ(h.winsock().element(1).connects, 2);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(Response, RedirectionCarryingALineEndIntoTheNextRequestStops) {
  connect();
  respond("HTTP/1.1 302 Found\r\nLocation: /x\rX-Injected: 1\r\n\r\n");
  EXPECT_EQ(h.host.statuses().back(), "File Not Found");
  EXPECT_EQ(c.theerrnumber, 302);
}

// A Location becomes the next request line and Host field: with a control
// byte anywhere in it the file stops, saying so, and nothing is requested.
TEST(ResponseLocation, EveryControlByteInALocationStopsTheFile) {
  for (const std::string& byte : testing::control_bytes()) {
    if (byte == "\r" || byte == "\n") continue;  // they end the header line
    for (const std::string& location :
         {"http://mirror:8081/a" + byte + "b.bin", "/a" + byte + "b?q", "http://mi" + byte + "rror/x.bin"}) {
      testing::TempFolder dir;
      testing::ControlHarness h;
      h.start({"http://srv/f.bin"}, dir.path().string());
      h.send_request();
      h.winsock().deliver(1, "HTTP/1.1 301 Moved\r\nLocation: " + location + "\r\n\r\n");
      EXPECT_EQ(h.host.statuses().back(), "File Not Found") << location;
      EXPECT_EQ(h.control.theerrnumber, 301);
      EXPECT_EQ(h.control.theerrdesc.rfind("Redirection refused: the Location holds " + testing::control_name(byte), 0),
                0u)
          << h.control.theerrdesc;
      EXPECT_EQ(h.control.theerrdesc.find(byte), std::string::npos) << "shown raw";
      EXPECT_EQ(h.winsock().element(1).connects, 1);
      EXPECT_EQ(h.file(1).remoteServerLocs->Item(1).servName, "srv");
    }
  }
}

TEST_F(Response, RedirectedRequestsNameTheNewPortInTheirHostField) {
  const std::pair<std::string, std::string> hops[] = {
      {"http://mirror:8081/a b.bin",
       "GET /a%20b.bin HTTP/1.1\r\nReferer: http://page.test/index.html\r\nHost: mirror:8081"},
      {"/c.bin", "GET /c.bin HTTP/1.1\r\nReferer: http://page.test/index.html\r\nHost: mirror:8081"},
      {"http://other/d.bin", "GET /d.bin HTTP/1.1\r\nReferer: http://page.test/index.html\r\nHost: other\r"},
      {"https://other:8443/e.bin", "GET /e.bin HTTP/1.1\r\nReferer: http://page.test/index.html\r\nHost: other:8443"},
  };
  connect();
  for (const auto& [location, request] : hops) {
    respond("HTTP/1.1 307 Temporary\r\nLocation: " + location + "\r\n\r\n");
    EXPECT_EQ(connect().rfind(request, 0), 0u) << location;
  }
}

TEST_F(Response, TwentyFirstRedirectionStops) {
  for (int n = 1; n <= 20; ++n) {
    connect();
    respond("HTTP/1.1 302 Found\r\nLocation: /loop" + std::to_string(n) + "\r\n\r\n");
    ASSERT_EQ(status(), "pinged") << n;
  }
  connect();
  respond("HTTP/1.1 302 Found\r\nLocation: /again\r\n\r\n");
  EXPECT_EQ(c.dErrorDesc(), "Too many redirections");
  EXPECT_EQ(h.host.statuses().back(), "File Not Found");
  // Starting the file again gives it a fresh count.
  c.GotoFile(1);
  connect();
  respond("HTTP/1.1 302 Found\r\nLocation: /x.bin\r\n\r\n");
  EXPECT_EQ(status(), "pinged");
}

}  // namespace
}  // namespace vintrel
