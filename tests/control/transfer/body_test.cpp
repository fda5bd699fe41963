// Where a body ends and what stops a file: lengths, chunks, error answers,
// oversized headers, unwritable files and errors in mid-body.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "control/transfer/response_rig.hpp"
#include "support/control_harness.hpp"
#include "support/temp_folder.hpp"
#include "support/user_control1_test_view.hpp"

namespace vintrel {
namespace {

using namespace response_rig;

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
