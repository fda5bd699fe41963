// Failed attempts: a file is given up after maxTries attempts in a row that
// brought no byte of its body, whatever ended them, with the last failure
// as its error and the events of a missing file; a byte of the body and
// each start of the file count afresh.

#include <gtest/gtest.h>

#include <functional>

#include "control/transfer/response_rig.hpp"

namespace vintrel {
namespace {

using namespace response_rig;
using testing::ControlHarness;

// One failed attempt of file 1, from its connect on.
struct Failure {
  const char* what;
  std::function<void(ControlHarness&)> fail;
  std::int32_t number;
  std::string description;
};

const Failure failures[] = {
    {"refused", [](ControlHarness& h) { h.tick(), h.winsock().fail(1, platform::sck_err::refused); },
     platform::sck_err::refused, platform::socket_error_text(platform::sck_err::refused)},
    {"503",
     [](ControlHarness& h) {
       h.send_request();
       h.winsock().deliver(1, "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n");
     },
     503, "Service Unavailable"},
    {"closed after the head",
     [](ControlHarness& h) {
       h.send_request();
       h.winsock().deliver(1, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n");
       h.winsock().peer_close(1);
     },
     platform::sck_err::aborted, "Connection closed before the whole file arrived"},
};

std::string gave_up(int tries, const std::string& description) {
  return "Gave up after " + std::to_string(tries) + (tries == 1 ? " attempt: " : " attempts: ") + description;
}

TEST(GiveUp, AFileIsGivenUpAfterMaxTriesFruitlessAttemptsOfAnyKind) {
  for (const int tries : {1, 3, 20}) {
    for (const Failure& failure : failures) {
      testing::TempFolder dir;
      ControlHarness h;
      if (tries != 20) h.control.maxTries = static_cast<std::int16_t>(tries);  // 20 unless told
      h.start({"http://srv/f.bin"}, dir.path().string());
      for (int k = 1; k < tries; ++k) {
        failure.fail(h);
        ASSERT_EQ(h.host.statuses().back(), "Waiting for a connection") << failure.what << " " << k;
        EXPECT_EQ(h.control.failed_attempts(1), k);
      }
      h.host.clear();
      failure.fail(h);
      EXPECT_EQ(h.host.statuses().back(), "File Not Found") << failure.what;
      EXPECT_EQ(std::count(h.host.events.begin(), h.host.events.end(), "OnStatusChange:Waiting for a connection"), 0);
      EXPECT_EQ(h.control.theerrnumber, failure.number) << failure.what;
      EXPECT_EQ(h.control.theerrdesc, gave_up(tries, failure.description));
      // Stopped: later ticks connect no more.
      for (int k = 0; k < 3; ++k) h.tick();
      EXPECT_EQ(h.winsock().element(1).connects, tries) << failure.what;
      EXPECT_EQ(h.winsock().element(1).state, platform::sck::closed);
    }
  }
}

TEST(GiveUp, ABodyByteAndEachStartOfTheFileCountAfresh) {
  testing::TempFolder dir;
  ControlHarness h;
  h.control.maxTries = 3;
  h.start({"http://srv/f.bin"}, dir.path().string());
  const Failure& refused = failures[0];
  refused.fail(h);
  refused.fail(h);
  // Four bytes of ten, then the connection breaks: the server works.
  h.send_request();
  h.winsock().deliver(1, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd");
  h.winsock().peer_close(1);
  EXPECT_EQ(h.control.failed_attempts(1), 1);
  refused.fail(h);
  EXPECT_EQ(h.host.statuses().back(), "Waiting for a connection");
  refused.fail(h);
  EXPECT_EQ(h.host.statuses().back(), "File Not Found");
  EXPECT_EQ(h.control.theerrdesc, gave_up(3, refused.description));
  EXPECT_EQ(read_file(dir.file("f.bin")), "abcd");

  h.control.GotoFile(1);
  EXPECT_EQ(h.control.failed_attempts(1), 0);
  refused.fail(h);
  refused.fail(h);
  EXPECT_EQ(h.host.statuses().back(), "Waiting for a connection");
}

TEST(GiveUp, NoLimitAtZeroOrBelow) {
  for (const int limit : {0, -1}) {
    ControlHarness h;
    h.control.maxTries = static_cast<std::int16_t>(limit);
    h.start({"http://srv/f.bin"}, "/dl");
    for (int k = 0; k < 100; ++k) failures[k % 2].fail(h);
    EXPECT_EQ(h.host.statuses().back(), "Waiting for a connection");
    EXPECT_EQ(h.file(1).downloadStatus, "pinged");
    EXPECT_EQ(h.control.failed_attempts(1), 100);
  }
}

}  // namespace
}  // namespace vintrel
