// The rate cap on a transfer: what arrives ahead of the budget waits on the
// socket until the pacing timer takes it, whole and in order; lifting the
// cap takes it on the next loop turn; probes are never held but count.

#include <gtest/gtest.h>

#include "control/transfer/response_rig.hpp"

namespace vintrel {
namespace {

using namespace response_rig;

struct RateCap : Response {
  platform::ManualTimer& pacing() { return h.platform.pacing_timer(); }
  void later(std::int64_t ms) { h.platform.clock_.advance_milliseconds(ms); }
  std::int32_t waiting() { return h.winsock().BytesReceived(1); }
  std::size_t on_disk() { return read_file(path).size(); }
};

TEST_F(RateCap, ArrivalsAheadOfTheBudgetWaitForThePacingTimer) {
  const std::string body = content(3000);
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n";
  c.set_max_rate(static_cast<std::int32_t>(head.size()) + 1000);  // the head and 1000 bytes a second
  connect();
  respond(head + body.substr(0, 1000));  // within the budget: taken at once
  EXPECT_EQ(on_disk(), 1000u);
  EXPECT_FALSE(pacing().enabled());
  EXPECT_EQ(h.winsock().element(1).read_size, 4096) << "a low cap is read in small steps";

  respond(body.substr(1000, 500));
  respond(body.substr(1500, 500));  // more comes while the first waits
  EXPECT_EQ(waiting(), 1000);
  EXPECT_EQ(on_disk(), 1000u);
  ASSERT_TRUE(pacing().enabled());
  EXPECT_EQ(pacing().interval(), 1000);

  later(600);
  pacing().tick();  // early (a slow loop, a timer that ticks again): still held
  EXPECT_EQ(waiting(), 1000);
  EXPECT_EQ(pacing().interval(), 400);
  later(400);
  pacing().tick();
  EXPECT_EQ(waiting(), 0);
  EXPECT_EQ(on_disk(), 2000u);
  EXPECT_FALSE(pacing().enabled());

  // Lifted while bytes wait: they are taken on the timer's next turn, and
  // nothing after them is held.
  respond(body.substr(2000, 500));
  EXPECT_EQ(waiting(), 500);
  c.set_max_rate(0);
  EXPECT_EQ(waiting(), 500) << "not inside the call that lifted it";
  EXPECT_EQ(pacing().interval(), 1);
  pacing().tick();
  respond(body.substr(2500));
  EXPECT_EQ(status(), queue::status::completed);
  EXPECT_EQ(read_file(path), body);
}

TEST_F(RateCap, HeldBytesOfAClosedConnectionAreNotTakenLater) {
  c.set_max_rate(100);
  connect();
  respond("HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\n" + content(100));
  respond(content(100));
  EXPECT_EQ(waiting(), 100);
  c.CancelQueue();
  later(10000);
  pacing().tick();
  EXPECT_FALSE(pacing().enabled());
  EXPECT_EQ(on_disk(), 100u);
}

TEST_F(RateCap, ANegativeCapFailsAndKeepsTheOldOne) {
  c.set_max_rate(5000);
  EXPECT_EQ(testing::error_of([&] { c.set_max_rate(-1); }), 5);
  EXPECT_EQ(c.maxRate, 5000);
}

}  // namespace
}  // namespace vintrel
