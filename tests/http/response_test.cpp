#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/control_harness.hpp"
#include "support/temp_folder.hpp"
#include "support/user_control1_test_view.hpp"

namespace vintrel {
namespace {

using Strings = std::vector<std::string>;
using testing::read_file;
using testing::write_file;

std::string content(std::size_t size, char seed = 'a') {
  std::string s(size, '\0');
  for (std::size_t n = 0; n < size; ++n) s[n] = static_cast<char>(seed + static_cast<char>(n % 23));
  return s;
}

std::string ok(const std::string& body, const std::string& extra = "") {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

// One file of a scripted server, downloaded into a temporary folder.
struct Response : ::testing::Test {
  testing::TempFolder dir;
  testing::ControlHarness h;
  control::UserControl1& c = h.control;
  const control::UserControl1TestView engine{c};
  std::string path = dir.file("file.bin");

  void SetUp() override { h.start({"http://srv/dir/file.bin"}, dir.path().string()); }

  // Connects the current attempt and sends its request; returns the request.
  std::string connect() { return h.send_request(); }
  // The server sends `bytes` in pieces of `piece` bytes (0: at once).
  void respond(const std::string& bytes, std::size_t piece = 0) {
    if (piece == 0) piece = bytes.size();
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      if (h.winsock().element(1).state != platform::sck::connected) return;
      h.winsock().deliver(1, std::string_view(bytes).substr(at, piece));
    }
  }
  bool closed() { return h.winsock().element(1).state == platform::sck::closed; }
  std::string status() { return h.file(1).downloadStatus; }
};

TEST_F(Response, NewFileArrivingWithItsHeaderCompletesAtOnce) {
  const auto body = content(1000);
  connect();
  respond(ok(body));
  EXPECT_EQ(status(), "Completed");
  EXPECT_TRUE(closed());
  EXPECT_EQ(read_file(path), body);
  EXPECT_EQ(h.file(1).downloadedbytes, 1000);
  EXPECT_EQ(c.dPercentComplete(), "100");
  h.host.clear();
  h.tick();
  EXPECT_EQ(h.host.events, (Strings{"OnStatusChange:Completed Downloading a File", "OnFileComplete:" + path}));
}

TEST(ResponseSplits, HeaderAndBodySplitAtEveryOffsetGiveTheSameFile) {
  const auto body = content(300);
  const std::string response = ok(body, "Server: test\r\n");
  for (std::size_t split = 1; split < response.size(); split += 1) {
    testing::TempFolder dir;
    testing::ControlHarness h;
    h.start({"http://srv/f.bin"}, dir.path().string());
    h.tick();
    h.winsock().accept(1);
    h.tick();
    h.winsock().deliver(1, std::string_view(response).substr(0, split));
    if (h.winsock().element(1).state == platform::sck::connected)
      h.winsock().deliver(1, std::string_view(response).substr(split));
    ASSERT_EQ(h.file(1).downloadStatus, "Completed") << split;
    ASSERT_EQ(read_file(dir.file("f.bin")), body) << split;
  }
}

TEST_F(Response, ByteByByteArrivalsGiveTheSameFile) {
  const auto body = content(500);
  connect();
  respond(ok(body), 1);
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), body);
}

TEST_F(Response, PartialLocalFileIsResumedFromItsSize) {
  const auto body = content(1000);
  write_file(path, body.substr(0, 300));
  EXPECT_EQ(connect().find("Range:"), std::string::npos);
  respond(ok(body));
  // The first answer only told the size: nothing of it was written.
  EXPECT_EQ(status(), "pinged");
  EXPECT_TRUE(closed());
  EXPECT_EQ(read_file(path), body.substr(0, 300));
  EXPECT_TRUE(h.file(1).isResumingDownload);
  EXPECT_NE(connect().find("\r\nRange: bytes=300-1000\r\n"), std::string::npos);
  respond("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 300-999/1000\r\nContent-Length: 700\r\n\r\n" +
          body.substr(300, 200));
  EXPECT_EQ(h.file(1).downloadedbytes, 500);
  EXPECT_EQ(h.file(1).contentlength, 1000);
  respond(body.substr(500));
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), body);
}

TEST_F(Response, WholeLocalFileIsAnswered416AndCompletedUntouched) {
  const auto body = content(5000);
  write_file(path, body);
  connect();
  respond(ok(body));
  EXPECT_NE(connect().find("Range: bytes=5000-5000"), std::string::npos);
  respond("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */5000\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), body);
  EXPECT_EQ(c.dPercentComplete(), "100");
}

TEST_F(Response, LocalFileOfAnotherSizeAnswered416IsFetchedAgain) {
  const auto body = content(4000);
  write_file(path, content(6000, 'k'));
  connect();
  respond(ok(body));
  connect();
  respond("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */4000\r\n\r\n");
  EXPECT_EQ(status(), "pinged");
  EXPECT_EQ(connect().find("Range:"), std::string::npos);
  respond(ok(body));
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), body);
}

// Found by fuzzing: after a redirection to a file not on disk, a 416 made
// the control report a file complete that did not exist.
TEST_F(Response, Answer416ToARequestWithoutRangeStopsTheFile) {
  EXPECT_EQ(connect().find("Range:"), std::string::npos);
  respond("HTTP/1.1 416 Requested Range Not Satisfiable\r\nServer: nginx\r\n\r\n");
  EXPECT_NE(status(), "Completed");
  EXPECT_TRUE(closed());
  EXPECT_EQ(c.theerrnumber, 416);
  EXPECT_EQ(c.theerrdesc, "Requested Range Not Satisfiable");
  EXPECT_FALSE(platform::file_exists(path));
  h.tick();
  EXPECT_TRUE(h.host.events.empty() || h.host.events.back().rfind("OnFileComplete", 0) != 0);
}

TEST_F(Response, Answer416AfterARedirectionToAFileNotOnDiskStopsTheFile) {
  const auto body = content(1000);
  write_file(path, body.substr(0, 999));
  connect();
  respond(ok(body));
  EXPECT_NE(connect().find("Range: bytes=999-1000"), std::string::npos);
  respond("HTTP/1.1 302 Found\r\nLocation: /loop\r\n\r\n");
  EXPECT_EQ(connect().find("Range:"), std::string::npos);
  respond("HTTP/1.1 416 Requested Range Not Satisfiable\r\n\r\n");
  EXPECT_NE(status(), "Completed");
  EXPECT_EQ(c.theerrnumber, 416);
  EXPECT_FALSE(platform::file_exists(dir.file("loop")));
  EXPECT_EQ(read_file(path), body.substr(0, 999));
}

// Found by fuzzing: an empty range starting inside the part on disk was
// taken for "everything is on disk" and the file called complete at the
// range's start while the whole part stayed on disk.
TEST_F(Response, EmptyRangeInsideThePartOnDiskStopsAndKeepsThePart) {
  const auto body = content(296);
  write_file(path, body);
  connect();
  respond("HTTP/1.1 200 OK\r\nContent-Length: 296\r\n\r\n" + body.substr(0, 100));
  EXPECT_NE(connect().find("Range: bytes=296-296"), std::string::npos);
  respond("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 5-295/296\r\nContent-Length: 0\r\n\r\n");
  EXPECT_NE(status(), "Completed");
  EXPECT_EQ(c.theerrnumber, 206);
  EXPECT_EQ(c.theerrdesc, "The server's range ends inside the part on disk");
  EXPECT_EQ(read_file(path), body);
}

TEST_F(Response, EmptyLocalFileIsNotResumedButStillAsksAgain) {
  write_file(path, "");
  connect();
  respond(ok("abc"));
  EXPECT_EQ(status(), "pinged");
  EXPECT_FALSE(h.file(1).isResumingDownload);
  EXPECT_EQ(connect().find("Range:"), std::string::npos);
  respond(ok("abc"));
  EXPECT_EQ(read_file(path), "abc");
}

TEST_F(Response, WholeAnswerToARangeRequestRewritesTheFileFromTheStart) {
  const auto body = content(800);
  write_file(path, content(300, 'z'));
  connect();
  respond(ok(body));
  connect();
  respond(ok(body));  // the server ignores the range
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), body);
  EXPECT_EQ(h.file(1).contentlength, 800);
}

TEST_F(Response, ConnectionClosedShortIsResumedToTheWholeFile) {
  const auto body = content(2000);
  connect();
  respond(ok(body).substr(0, ok(body).size() - 1200));
  h.winsock().peer_close(1);
  EXPECT_EQ(status(), "pinged");
  EXPECT_EQ(c.dErrorDesc(), "Connection closed before the whole file arrived");
  EXPECT_NE(connect().find("Range: bytes=800-2000"), std::string::npos);
  respond("HTTP/1.1 206 Partial Content\r\nContent-Length: 1200\r\n\r\n" + body.substr(800));
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), body);
}

TEST_F(Response, BytesBeyondTheAdvertisedLengthAreNotWritten) {
  const auto body = content(100);
  connect();
  respond(ok(body) + "surplus bytes");
  EXPECT_EQ(read_file(path), body);
  EXPECT_EQ(h.file(1).downloadedbytes, 100);
}

TEST_F(Response, BodyWithoutLengthEndsAtTheClose) {
  const auto body = content(3000);
  connect();
  respond("HTTP/1.1 200 OK\r\ncontent-length: 3000\r\n\r\n" + body, 700);
  EXPECT_EQ(status(), "downloading");  // other capitals: no length known
  EXPECT_EQ(c.dBytesTotal(), "0");
  h.winsock().peer_close(1);
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), body);
  EXPECT_EQ(c.dBytesTotal(), "3000");
}

TEST_F(Response, LengthLineWithoutSpaceIsNotANumber) {
  connect();
  respond("HTTP/1.1 200 OK\r\nContent-Length:5\r\n\r\nabcde");
  EXPECT_EQ(h.file(1).contentlength, 0);
  EXPECT_EQ(status(), "downloading");
  EXPECT_TRUE(std::find(h.host.events.begin(), h.host.events.end(), "OnStatusChange:Determining File Size") !=
              h.host.events.end());
}

TEST_F(Response, ZeroLengthCompletesWithAnEmptyFile) {
  connect();
  respond("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(status(), "Completed");
  EXPECT_TRUE(platform::file_exists(path));
  EXPECT_EQ(read_file(path), "");
}

TEST_F(Response, ChunkedBodyIsDecodedAndWinsOverALength) {
  connect();
  respond(
      "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n"
      "4\r\nWiki\r\n5\r\npedia\r\n0\r\n\r\n",
      3);
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), "Wikipedia");
  EXPECT_EQ(c.dBytesTotal(), "9");
}

TEST_F(Response, CutOffChunkedBodyKeepsItsDecodedPartAndResumes) {
  connect();
  respond("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nWiki\r\n5\r\npe");
  h.winsock().peer_close(1);
  EXPECT_EQ(status(), "pinged");
  EXPECT_EQ(read_file(path), "Wikipe");
  EXPECT_NE(connect().find("Range: bytes=6-"), std::string::npos);
  respond("HTTP/1.1 206 Partial Content\r\nContent-Length: 3\r\n\r\ndia");
  EXPECT_EQ(read_file(path), "Wikipedia");
}

TEST_F(Response, BadChunkSizeIsRetried) {
  connect();
  respond("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nxyz\r\n");
  EXPECT_EQ(status(), "pinged");
  EXPECT_NE(c.theerrdesc.find("Bad chunked body"), std::string::npos);
}

TEST_F(Response, ServerErrorIsRetriedAndItsPageNeverWritten) {
  connect();
  respond("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 5\r\n\r\noops!");
  EXPECT_EQ(status(), "pinged");
  EXPECT_EQ(c.dErrorNumber(), "503");
  EXPECT_EQ(c.dErrorDesc(), "Service Unavailable");
  EXPECT_FALSE(platform::file_exists(path));
  EXPECT_EQ(h.host.statuses().back(), "Waiting for a connection");
  connect();
  respond(ok("good"));
  EXPECT_EQ(read_file(path), "good");
}

TEST_F(Response, NotFoundAndOtherAnswersStopTheFile) {
  for (const auto& [answer, number] : std::vector<std::pair<std::string, std::string>>{
           {"HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nnop", "404"},
           {"HTTP/1.1 403 Forbidden\r\n\r\n", "403"},
           {"HTTP/1.1 204 No Content\r\n\r\n", "204"},
           {"HTTP/1.1 100 Continue\r\n\r\n", "100"},
           {"garbage\r\n\r\n", "0"}}) {
    h.host.clear();
    c.GotoFile(1);
    connect();
    respond(answer);
    EXPECT_TRUE(closed()) << answer;
    EXPECT_EQ(status(), "downloading") << answer;  // waits for the page
    EXPECT_EQ(c.dErrorNumber(), number);
    EXPECT_EQ(h.host.statuses().back(), "File Not Found");
    EXPECT_FALSE(platform::file_exists(path)) << answer;
    h.tick();
    EXPECT_EQ(h.host.statuses().back(), "File Not Found");  // the tick leaves it alone
  }
}

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

TEST_F(Response, HeadersUpTo256KiBAreReadAndLargerOnesStopTheFileSayingWhy) {
  connect();
  respond("HTTP/1.1 200 OK\r\nSet-Cookie: " + std::string(200 * 1024, 'x') + "\r\n" + ok("small").substr(17), 8192);
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), "small");

  c.GotoFile(1);
  std::filesystem::remove(path);
  connect();
  respond("HTTP/1.1 200 OK\r\nX-Big: " + std::string(300 * 1024, 'x'), 8192);
  EXPECT_EQ(h.host.statuses().back(), "File Not Found");
  EXPECT_EQ(c.dErrorDesc(), "The response header is too large (over 256 KiB)");
  EXPECT_TRUE(closed());
  EXPECT_FALSE(platform::file_exists(path));
}

TEST_F(Response, UnwritableLocalFileIsNeverReportedComplete) {
  // The queue's folder is gone: the file cannot be created.
  testing::ControlHarness other;
  other.start({"http://srv/f.bin"}, dir.file("missing-folder"));
  other.tick();
  other.winsock().accept(1);
  other.tick();
  other.winsock().deliver(1, ok("data"));
  EXPECT_EQ(other.file(1).downloadStatus, "downloading");
  EXPECT_EQ(other.control.theerrnumber, ENOENT);
  EXPECT_EQ(other.host.statuses().back(), "File Not Found");
  // A URL that names a folder asks to write into the folder itself.
  testing::ControlHarness folder;
  folder.start({"http://srv/dir/"}, dir.path().string());
  folder.tick();
  folder.winsock().accept(1);
  folder.tick();
  folder.winsock().deliver(1, ok("data"));
  EXPECT_EQ(folder.control.theerrnumber, EISDIR);
  EXPECT_EQ(folder.host.statuses().back(), "File Not Found");
}

TEST_F(Response, NewConnectionStartsCleanAfterCancelAndRestart) {
  const auto body = content(1000);
  connect();
  respond(ok(body).substr(0, 400));
  c.CancelQueue();
  EXPECT_TRUE(h.file(1).IsHeaderReceived);
  c.GotoFile(1);
  EXPECT_NE(connect().find("Range: bytes="), std::string::npos);
  const auto on_disk = read_file(path).size();
  respond("HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(1000 - on_disk) + "\r\n\r\n" +
          body.substr(on_disk));
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), body);
}

TEST_F(Response, ErrorMidBodyKeepsThePartAndTheNextAttemptResumes) {
  const auto body = content(4096);
  connect();
  respond(ok(body).substr(0, 1500));
  h.winsock().fail(1, platform::sck_err::reset);
  EXPECT_EQ(c.dErrorNumber(), "10054");
  EXPECT_FALSE(h.file(1).IsHeaderReceived);
  const auto on_disk = read_file(path).size();
  EXPECT_GT(on_disk, 0u);
  EXPECT_NE(connect().find("Range: bytes=" + std::to_string(on_disk) + "-4096"), std::string::npos);
  respond("HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(4096 - on_disk) + "\r\n\r\n" +
          body.substr(on_disk));
  EXPECT_EQ(read_file(path), body);
}

TEST_F(Response, EventsOfElementsWithoutARecordAreIgnored) {
  c.DownloadFiles = std::make_shared<queue::DownloadFileCollection>();
  h.winsock().accept(1);
  h.winsock().deliver(1, "HTTP/1.1 200 OK\r\n\r\n");
  h.winsock().fail(1, platform::sck_err::reset);
  h.winsock().peer_close(1);
  EXPECT_EQ(c.theerrnumber, 0);
  EXPECT_EQ(h.winsock().element(1).inbox.size(), 0u);
}

TEST(ResponseHeaderValue, FindsTheLineAfterALineEnd) {
  const std::string header = "HTTP/1.1 302 Found\r\nX: 1\r\nLocation: http://a/b";
  EXPECT_EQ(control::UserControl1::getHeaderValue(header, "Location"), "http://a/b");
  EXPECT_EQ(control::UserControl1::getHeaderValue(header, "X"), "1");
  EXPECT_EQ(control::UserControl1::getHeaderValue(header, "location"), "");
  EXPECT_EQ(control::UserControl1::getHeaderValue(header, "HTTP/1.1 302 Found"), "");
}

}  // namespace
}  // namespace vintrel
