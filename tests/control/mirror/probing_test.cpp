#include <gtest/gtest.h>

#include "support/control_harness.hpp"
#include "support/user_control1_test_view.hpp"

namespace vintrel {
namespace {

using testing::error_of;

// A queued file with candidate servers a, b, c... started again so that
// every candidate is probed. Probe indexes: 1 went to the single-server start.
struct Probing : ::testing::Test {
  testing::ControlHarness h;
  control::UserControl1& c = h.control;
  const control::UserControl1TestView engine{c};

  void start_with_mirrors(int count) {
    h.start({"http://a/file.bin"}, "/dl");
    for (int n = 1; n < count; ++n) {
      auto server = std::make_shared<queue::remoteServerLoc>();
      const std::string name(1, static_cast<char>('a' + n));
      server->servName = name;
      server->host = name;
      server->PortNum = 80;
      server->remoteFilePath = "/mirror/file.bin";
      h.file(1).remoteServerLocs->Add(server);
    }
    c.GotoFile(1);
    for (int n = 0; n < count; ++n) h.pings().accept(probe(n + 1));
  }
  // The probe index of server j.
  std::int32_t probe(std::int32_t j) { return h.file(1).remoteServerLocs->Item(j).pingSock; }
  void deliver(std::int32_t j, std::size_t bytes) { h.pings().deliver(probe(j), std::string(bytes, 'x')); }
};

TEST_F(Probing, SingleServerIsNeverProbed) {
  h.start({"http://a/file.bin"}, "/dl");
  EXPECT_EQ(h.file(1).downloadStatus, "pinged");
  EXPECT_EQ(c.psIndex, 1);
  EXPECT_EQ(h.pings().element(1).connects, 0);
  EXPECT_TRUE(h.pings().element(1).loaded);
  EXPECT_EQ(engine.file(1).dlServName, "a");
}

TEST_F(Probing, EveryCandidateIsAskedForTheWholeFile) {
  start_with_mirrors(2);
  EXPECT_EQ(h.file(1).downloadStatus, "pinging");
  EXPECT_EQ(probe(1), 2);
  EXPECT_EQ(probe(2), 3);
  EXPECT_EQ(h.pings().element(3).host, "b");
  EXPECT_EQ(h.pings().element(3).sent,
            "GET /mirror/file.bin HTTP/1.1\r\nHost: b\r\nConnection: close\r\nAccept: */*\r\n\r\n");
}

TEST_F(Probing, SecureMirrorIsProbedAndFetchedOverTls) {
  h.start({"http://a/file.bin"}, "/dl");
  auto server = std::make_shared<queue::remoteServerLoc>();
  server->put("servName", automation::Variant("b"));
  server->put("host", automation::Variant("b"));
  server->put("PortNum", automation::Variant(443));
  server->put("remoteFilePath", automation::Variant("/file.bin"));
  server->put("isSecure", automation::Variant(true));
  h.file(1).remoteServerLocs->Add(server);
  c.GotoFile(1);
  EXPECT_FALSE(h.pings().element(probe(1)).secure);
  EXPECT_TRUE(h.pings().element(probe(2)).secure);
  h.pings().accept(probe(1));
  h.pings().accept(probe(2));
  deliver(1, 3000);
  deliver(2, 3000);
  h.advance(2);
  deliver(2, 90000);
  h.tick();
  EXPECT_EQ(engine.file(1).dlServName, "b");
  EXPECT_TRUE(h.winsock().element(1).secure);
  EXPECT_EQ(h.winsock().element(1).port, 443);
}

TEST_F(Probing, FasterMirrorIsChosenAndMeasuredProbesAreClosed) {
  start_with_mirrors(2);
  deliver(1, 3000);
  deliver(2, 3000);
  h.advance(2);
  deliver(1, 50000);
  deliver(2, 200000);
  h.host.clear();
  h.tick();
  EXPECT_EQ(h.file(1).bestPingTime, 99);  // 203000 bytes in 2 s
  EXPECT_EQ(engine.file(1).dlServName, "b");
  EXPECT_EQ(engine.file(1).dlRemotePath, "/mirror/file.bin");
  EXPECT_EQ(h.pings().element(probe(1)).state, 0);
  EXPECT_EQ(h.pings().element(probe(2)).state, 0);
  // Chosen in the probing step, connected in the same tick.
  EXPECT_EQ(h.host.statuses(), (std::vector<std::string>{"Connecting", "Locating File"}));
  EXPECT_EQ(h.winsock().element(1).host, "b");
}

TEST_F(Probing, MeasureIsWholeKilobytesPerSecondSinceTheFirstByte) {
  start_with_mirrors(2);
  deliver(1, 1000);
  h.advance(4);
  deliver(1, 408600);
  h.tick();
  EXPECT_EQ(h.file(1).bestPingTime, 100);
  EXPECT_EQ(h.file(1).numServersChecked, 1);
  EXPECT_EQ(h.file(1).downloadStatus, "pinging");  // b is not judged yet
}

// What hosts show of a file: the server its mirrors' probing chose.
TEST_F(Probing, HostsReadTheChosenServerOfAFileAndNothingOutsideTheSlots) {
  start_with_mirrors(2);
  auto server = c.chosen_server(1);
  ASSERT_TRUE(server);
  EXPECT_EQ(server->servName, "a");  // as the single-server start chose it
  EXPECT_EQ(server->PortNum, 80);
  deliver(1, 3000);
  deliver(2, 3000);
  h.advance(2);
  deliver(2, 200000);
  h.tick();
  server = c.chosen_server(1);
  ASSERT_TRUE(server);
  EXPECT_EQ(server->servName, engine.file(1).dlServName);
  EXPECT_EQ(server->servName, "b");
  EXPECT_EQ(server->PortNum, 80);
  // A file that has no slot has no server, and asking raises nothing.
  EXPECT_FALSE(c.chosen_server(0));
  EXPECT_FALSE(c.chosen_server(101));
  EXPECT_FALSE(c.chosen_server(-1));
  ASSERT_TRUE(c.chosen_server(100));
  EXPECT_EQ(c.chosen_server(100)->servName, "");
}

TEST_F(Probing, EqualMeasuresTheLaterWins) {
  start_with_mirrors(2);
  deliver(1, 102400);
  deliver(2, 102400);
  h.advance(2);
  h.tick();
  EXPECT_EQ(engine.file(1).dlServName, "b");
  EXPECT_EQ(h.file(1).downloadStatus, "downloading");
}

TEST_F(Probing, SilentCandidatesEndTheProbingWithTheFirstOne) {
  start_with_mirrors(3);
  for (int s = 0; s < 10; ++s) {
    h.advance(1);
    h.tick();
    EXPECT_EQ(h.file(1).downloadStatus, "pinging");
  }
  h.advance(1);
  h.tick();
  EXPECT_EQ(engine.file(1).dlServName, "a");
  EXPECT_EQ(h.file(1).numServersChecked, 3);  // each silent probe counted once
  h.tick();
  EXPECT_EQ(h.file(1).numServersChecked, 3);
}

TEST_F(Probing, TrickleEndsAfterFifteenSecondsWithTheMostBytesAndClosesTheProbes) {
  start_with_mirrors(3);
  deliver(1, 500);
  deliver(2, 1500);
  deliver(3, 1500);
  for (int s = 0; s < 14; ++s) {
    h.advance(1);
    h.tick();
  }
  EXPECT_EQ(h.file(1).downloadStatus, "pinging");
  h.advance(1);
  h.tick();
  EXPECT_EQ(engine.file(1).dlServName, "b");  // the first of the two that delivered most
  for (int j = 1; j <= 3; ++j) EXPECT_EQ(h.pings().element(probe(j)).state, 0);
  EXPECT_EQ(h.file(1).downloadStatus, "downloading");
}

TEST_F(Probing, OneMeasuredAndOneSilentChoosesTheMeasured) {
  start_with_mirrors(2);
  deliver(2, 5000);
  h.advance(2);
  h.tick();
  EXPECT_EQ(h.file(1).downloadStatus, "pinging");
  for (int s = 0; s < 9; ++s) {
    h.advance(1);
    h.tick();
  }
  EXPECT_EQ(h.file(1).downloadStatus, "downloading");
  EXPECT_EQ(engine.file(1).dlServName, "b");
}

TEST_F(Probing, SecondProbingIsNotSkewedByTheFirst) {
  start_with_mirrors(2);
  deliver(1, 1024);
  deliver(2, 1024);
  h.advance(2);
  deliver(2, 1024 * 1000);
  h.tick();
  ASSERT_EQ(engine.file(1).dlServName, "b");
  ASSERT_EQ(h.file(1).bestPingTime, 500);

  c.GotoFile(1);
  h.pings().accept(probe(1));
  h.pings().accept(probe(2));
  deliver(1, 1024);
  deliver(2, 1024);
  h.advance(2);
  deliver(1, 1024 * 100);
  deliver(2, 1024 * 40);
  h.tick();
  EXPECT_EQ(engine.file(1).dlServName, "a");
  EXPECT_EQ(h.file(1).bestPingTime, 50);
  EXPECT_EQ(h.file(1).numServersChecked, 2);
}

TEST_F(Probing, ProbeIndexBeyondTheSlotsFailsTheStartAndNoTickFails) {
  h.start({"http://a/file.bin"}, "/dl");
  for (int n = 0; n < 2; ++n) h.file(1).remoteServerLocs->Add(std::make_shared<queue::remoteServerLoc>());
  c.psIndex = 99;
  EXPECT_EQ(error_of([&] { c.GotoFile(1); }), automation::err::subscript);
  EXPECT_EQ(h.file(1).downloadStatus, "pinging");
  EXPECT_EQ(probe(2), 101);
  for (int s = 0; s < 20; ++s) {
    h.advance(1);
    EXPECT_EQ(error_of([&] { h.tick(); }), 0);
  }
  EXPECT_EQ(h.file(1).downloadStatus, "pinging");
}

TEST_F(Probing, ProbeEventsOfAClosedProbeAndErrorsChangeNothing) {
  start_with_mirrors(2);
  h.pings().fail(probe(1), platform::sck_err::refused);
  EXPECT_EQ(c.theerrnumber, 0);
  h.pings().deliver(probe(1), "late");  // not connected: not counted
  EXPECT_EQ(engine.probe(probe(1)).psBytes, 0);
  deliver(2, 1);
  EXPECT_EQ(engine.probe(probe(2)).psBytes, 1);
  EXPECT_EQ(engine.probe(probe(2)).psFirstDataTime, h.platform.clock_.Now());
}

}  // namespace
}  // namespace vintrel
