// What a server cannot do to a file: advertise more than the disk holds,
// advertise lengths a double cannot carry, make a step fail half-way, or
// go silent. Each ends with the file stopped and the reason given, or with
// the transfer tried again from the disk.

#include <gtest/gtest.h>

#include <cerrno>
#include <limits>

#include "support/control_harness.hpp"
#include "support/hostile_server.hpp"
#include "support/live_control.hpp"
#include "support/temp_folder.hpp"

namespace vintrel {
namespace {

using namespace std::chrono_literals;
using testing::read_file;

const std::string largest_length = "9223372036854775807";

struct Limits : ::testing::Test {
  testing::TempFolder dir;
  testing::ControlHarness h;
  control::UserControl1& c = h.control;
  std::string path = dir.file("big.bin");
  std::uint64_t free_bytes = 1 << 20;
  std::string asked_about;

  void SetUp() override {
    c.freeSpaceQuery = [this](const std::string& folder) {
      asked_about = folder;
      return platform::FreeSpace{free_bytes, free_bytes};
    };
    h.start({"http://srv/big.bin"}, dir.path().string());
  }
  std::string connect() { return h.send_request(); }
};

TEST_F(Limits, ALengthBeyondTheFreeSpaceStopsAtOnceWithoutWriting) {
  connect();
  h.winsock().deliver(1, "HTTP/1.1 200 OK\r\nContent-Length: " + largest_length + "\r\n\r\nsix by");
  EXPECT_EQ(h.host.statuses().back(), "File Not Found");
  EXPECT_EQ(c.theerrnumber, ENOSPC);
  EXPECT_EQ(c.dErrorDesc(), "Not enough free space: " + largest_length + " bytes to fetch, 1048576 bytes free in " +
                                dir.path().string() + "/");
  EXPECT_EQ(asked_about, dir.path().string() + "/");
  EXPECT_FALSE(platform::file_exists(path));
  EXPECT_EQ(h.winsock().element(1).state, platform::sck::closed);
}

TEST_F(Limits, ALengthThatFitsButIsNotDeliveredIsAskedForAgainExactly) {
  free_bytes = std::numeric_limits<std::uint64_t>::max();
  connect();
  h.winsock().deliver(1, "HTTP/1.1 200 OK\r\nContent-Length: " + largest_length + "\r\n\r\nsix by");
  h.winsock().peer_close(1);
  EXPECT_EQ(h.file(1).downloadStatus, "pinged");
  EXPECT_EQ(read_file(path), "six by");
  // The retry's range names the server's own total, digit for digit: a
  // double would have made it 2^63, which no request can carry.
  const std::string request = connect();
  EXPECT_NE(request.find("\r\nRange: bytes=6-" + largest_length + "\r\n"), std::string::npos) << request;
  EXPECT_EQ(h.winsock().element(1).connects, 2);
  EXPECT_EQ(h.host.statuses().back(), "Downloading");
}

TEST_F(Limits, AFailingTickStepStopsTheFileWithItsErrorInsteadOfLeavingItStuck) {
  // Two servers, so the tick judges probes; a counter script left at its
  // largest value makes that step fail with 6.
  auto mirror = std::make_shared<queue::remoteServerLoc>();
  mirror->servName = "m";
  mirror->host = "m";
  mirror->PortNum = 80;
  mirror->remoteFilePath = "/big.bin";
  h.file(1).remoteServerLocs->Add(mirror);
  c.GotoFile(1);
  const auto probe = h.file(1).remoteServerLocs->Item(1).pingSock;
  h.pings().accept(probe);
  h.pings().deliver(probe, "HTTP/1.1 200 OK\r\n\r\nbytes");
  h.file(1).remoteServerLocs->Item(1).timeInterval = std::numeric_limits<std::int32_t>::max();
  h.host.clear();
  h.platform.timer().tick();  // through the timer, as the loop runs it
  EXPECT_EQ(h.host.statuses(), (std::vector<std::string>{"Connecting", "File Not Found"}));
  EXPECT_EQ(c.theerrnumber, automation::err::overflow);
  EXPECT_NE(c.theerrdesc, "No Error");
}

TEST(SilentServer, NoAnswerAfterTheRequestIsTimedOutAndTriedAgain) {
  testing::TempFolder dir;
  const std::string content(5000, 'q');
  testing::HostileServer server({testing::Script().wait_request().stall(),
                                 testing::Script().wait_request().send(testing::http_response(
                                     200, "OK", {{"Content-Length", std::to_string(content.size())}}, content))});
  testing::LiveControl live(platform::SocketTimeouts{5s, 300ms});
  live.start({server.url("/quiet.bin")}, dir.path().string());
  ASSERT_TRUE(live.run_until_finished(10s)) << ::testing::PrintToString(live.host.events);
  EXPECT_TRUE(live.saw("OnStatusChange:Waiting for a connection"));
  EXPECT_TRUE(live.saw("OnFileComplete:" + dir.file("quiet.bin")));
  EXPECT_EQ(read_file(dir.file("quiet.bin")), content);
  EXPECT_EQ(server.requests().size(), 2U);
}

}  // namespace
}  // namespace vintrel
