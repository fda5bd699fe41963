// How a file's answer arrives and resumes: whole or in pieces, over a part
// already on disk, and the 416 answers to a range.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "control/transfer/response_rig.hpp"
#include "support/control_harness.hpp"
#include "support/grind.hpp"
#include "support/temp_folder.hpp"
#include "support/user_control1_test_view.hpp"

namespace vintrel {
namespace {

using namespace response_rig;

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
  // The file's status and its bytes once the answer has come in these
  // arrivals (each delivered while the connection stays open).
  const auto download = [](const std::vector<std::string_view>& arrivals) {
    testing::TempFolder dir;
    testing::ControlHarness h;
    h.start({"http://srv/f.bin"}, dir.path().string());
    h.tick();
    h.winsock().accept(1);
    h.tick();
    for (const auto arrival : arrivals)
      if (h.winsock().element(1).state == platform::sck::connected) h.winsock().deliver(1, arrival);
    return std::make_pair(h.file(1).downloadStatus, read_file(dir.file("f.bin")));
  };
  EXPECT_EQ(download({response}), std::make_pair(std::string("Completed"), body));
  EXPECT_EQ(testing::grind(response, download), std::nullopt);
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
  own_part(body.substr(0, 300));
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

TEST_F(Response, WholeOwnPartIsCompletedUntouchedAtTheFirstAnswer) {
  const auto body = content(5000);
  own_part(body);
  connect();
  respond(ok(body));
  EXPECT_EQ(status(), "Completed");
  EXPECT_TRUE(closed());
  EXPECT_EQ(read_file(path), body);
  EXPECT_EQ(c.dPercentComplete(), "100");
  EXPECT_TRUE(testing::part_record_of(path)->complete);
}

// A part adopted on the user's word (--continue) that is already whole is
// answered 416 once the first answer gave no length.
TEST_F(Response, WholeAdoptedFileIsAnswered416AndCompletedUntouched) {
  const auto body = content(5000);
  write_file(path, body);
  c.set_adopt_foreign_parts(true);
  connect();
  respond("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
  EXPECT_NE(connect().find("Range: bytes=5000-\r\n"), std::string::npos);
  respond("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */5000\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), body);
  EXPECT_EQ(c.dPercentComplete(), "100");
}

TEST_F(Response, AdoptedFileOfAnotherSizeAnswered416IsFetchedAgain) {
  const auto body = content(4000);
  write_file(path, content(3000, 'k'));
  c.set_adopt_foreign_parts(true);
  connect();
  respond("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
  connect();
  respond("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */2000\r\n\r\n");
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
  own_part(body.substr(0, 999));
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
  own_part(body);
  connect();
  respond("HTTP/1.1 200 OK\r\nContent-Length: 297\r\n\r\n" + body.substr(0, 100));
  EXPECT_NE(connect().find("Range: bytes=296-297"), std::string::npos);
  respond("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 5-295/296\r\nContent-Length: 0\r\n\r\n");
  EXPECT_NE(status(), "Completed");
  EXPECT_EQ(c.theerrnumber, 206);
  EXPECT_EQ(c.theerrdesc, "The server's range ends inside the part on disk");
  EXPECT_EQ(read_file(path), body);
}

TEST_F(Response, EmptyOwnPartIsWrittenFromTheFirstAnswer) {
  own_part("");
  EXPECT_EQ(connect().find("Range:"), std::string::npos);
  respond(ok("abc"));
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), "abc");
}

TEST_F(Response, WholeAnswerToARangeRequestRewritesTheFileFromTheStart) {
  const auto body = content(800);
  own_part(content(300, 'z'));
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

}  // namespace
}  // namespace vintrel
