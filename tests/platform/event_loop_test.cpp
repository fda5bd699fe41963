// The loop and the timer: the loop runs handlers one at a time on its thread,
// waits can nest inside handlers, and timers tick there until disabled.

#include "platform/event_loop.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/platform.hpp"
#include "platform/resolver.hpp"
#include "platform/timer.hpp"

namespace vintrel::platform {
namespace {

using namespace std::chrono_literals;

constexpr auto generous = 10s;

TEST(EventLoop, RunUntilRunsPostedHandlersInOrderUntilDone) {
  EventLoop loop;
  std::vector<int> order;
  for (int i = 0; i < 5; ++i) loop.post([&order, i] { order.push_back(i); });
  ASSERT_TRUE(loop.run_until([&] { return order.size() == 5; }, generous));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(EventLoop, RunUntilReportsTimeoutWhenNothingMakesItDone) {
  EventLoop loop;
  EXPECT_FALSE(loop.run_until([] { return false; }, 20ms));
  EXPECT_FALSE(loop.stopped());
}

TEST(EventLoop, RunUntilAlreadyDoneRunsNothing) {
  EventLoop loop;
  bool ran = false;
  loop.post([&] { ran = true; });
  EXPECT_TRUE(loop.run_until([] { return true; }, generous));
  EXPECT_FALSE(ran);
}

TEST(EventLoop, NestedRunUntilInsideHandlerRunsOtherHandlers) {
  EventLoop loop;
  bool inner_ran = false;
  bool nested_result = false;
  bool outer_finished = false;
  loop.post([&] {
    // Posted from inside the handler that then waits for it: the nested
    // wait must see it.
    loop.post([&] { inner_ran = true; });
    nested_result = loop.run_until([&] { return inner_ran; }, generous);
    outer_finished = true;
  });
  ASSERT_TRUE(loop.run_until([&] { return outer_finished; }, generous));
  EXPECT_TRUE(nested_result);
  EXPECT_TRUE(inner_ran);
}

TEST(EventLoop, NestedRunUntilGoesOnDeliveringTimerTicks) {
  EventLoop loop;
  AsioPlatform platform(loop, nullptr);
  auto timer = platform.make_timer();
  int ticks = 0;
  timer->on_tick([&] { ++ticks; });
  timer->set_interval(5);
  bool nested_result = false;
  bool outer_finished = false;
  loop.post([&] {
    timer->set_enabled(true);
    nested_result = platform.wait_until([&] { return ticks >= 3; });
    outer_finished = true;
  });
  ASSERT_TRUE(loop.run_until([&] { return outer_finished; }, generous));
  EXPECT_TRUE(nested_result);
}

TEST(EventLoop, StopEndsRunAndMakesRunUntilGiveUp) {
  EventLoop loop;
  bool after_stop_result = true;
  loop.post([&] {
    loop.stop();
    after_stop_result = loop.run_until([] { return false; }, generous);
  });
  loop.run();  // returns only because of stop()
  EXPECT_TRUE(loop.stopped());
  EXPECT_FALSE(after_stop_result);
  EXPECT_FALSE(loop.run_until([] { return false; }, generous));
}

TEST(EventLoop, RunWaitsForWorkPostedFromAnotherThread) {
  EventLoop loop;
  std::thread::id ran_on;
  std::thread poster([&] {
    loop.post([&] {
      ran_on = std::this_thread::get_id();
      loop.stop();
    });
  });
  loop.run();
  poster.join();
  EXPECT_EQ(ran_on, std::this_thread::get_id());
}

TEST(EventLoop, FixedResolverAnswersLaterNeverInline) {
  EventLoop loop;
  FixedResolver resolver([&loop](std::function<void()> fn) { loop.post(std::move(fn)); });
  resolver.add("Files.Example.Test", "127.0.0.1");

  struct Result {
    bool answered = false;
    std::int16_t error = -1;
    std::vector<std::string> addresses;
  };
  Result literal, named, upper, unknown, literal6;
  auto ask = [&resolver](const std::string& host, Result& into) {
    resolver.resolve(host, [&into](std::int16_t error, std::vector<std::string> addresses) {
      into = {true, error, std::move(addresses)};
    });
  };
  ask("127.0.0.1", literal);
  ask("::1", literal6);
  ask("files.example.test", named);
  ask("FILES.EXAMPLE.TEST", upper);
  ask("nowhere.example.test", unknown);
  EXPECT_FALSE(literal.answered || named.answered || unknown.answered);

  ASSERT_TRUE(loop.run_until(
      [&] { return literal.answered && literal6.answered && named.answered && upper.answered && unknown.answered; },
      generous));
  EXPECT_EQ(literal.error, 0);
  EXPECT_EQ(literal.addresses, std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(literal6.addresses, std::vector<std::string>{"::1"});
  EXPECT_EQ(named.addresses, std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(upper.addresses, std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(unknown.error, 11001);
  EXPECT_TRUE(unknown.addresses.empty());
}

// --- Timer ------------------------------------------------------------------

struct TimerRig {
  EventLoop loop;
  AsioPlatform platform{loop, nullptr};
};

TEST(Timer, TicksRepeatedlyOnTheLoopThread) {
  TimerRig rig;
  auto timer = rig.platform.make_timer();
  std::vector<std::thread::id> threads;
  timer->on_tick([&] { threads.push_back(std::this_thread::get_id()); });
  timer->set_interval(5);
  EXPECT_FALSE(timer->enabled());
  timer->set_enabled(true);
  EXPECT_TRUE(threads.empty());  // never inline
  ASSERT_TRUE(rig.loop.run_until([&] { return threads.size() >= 4; }, generous));
  for (auto id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(Timer, StopsTickingWhenDisabled) {
  TimerRig rig;
  auto stopped = rig.platform.make_timer();
  auto witness = rig.platform.make_timer();
  int stopped_ticks = 0;
  int witness_ticks = 0;
  stopped->on_tick([&] {
    // Disabled from its own tick, as the control does when the queue ends.
    if (++stopped_ticks == 2) stopped->set_enabled(false);
  });
  witness->on_tick([&] { ++witness_ticks; });
  stopped->set_interval(5);
  stopped->set_enabled(true);
  ASSERT_TRUE(rig.loop.run_until([&] { return stopped_ticks == 2; }, generous));
  // A second timer at the same interval shows that time went on.
  witness->set_interval(5);
  witness->set_enabled(true);
  ASSERT_TRUE(rig.loop.run_until([&] { return witness_ticks >= 5; }, generous));
  EXPECT_EQ(stopped_ticks, 2);
  EXPECT_FALSE(stopped->enabled());
}

TEST(Timer, ZeroIntervalNeverTicksAndSettingOneStartsIt) {
  TimerRig rig;
  auto idle = rig.platform.make_timer();
  auto witness = rig.platform.make_timer();
  int idle_ticks = 0;
  int witness_ticks = 0;
  idle->on_tick([&] { ++idle_ticks; });
  witness->on_tick([&] { ++witness_ticks; });
  idle->set_enabled(true);  // interval 0: enabled but silent
  witness->set_interval(5);
  witness->set_enabled(true);
  ASSERT_TRUE(rig.loop.run_until([&] { return witness_ticks >= 3; }, generous));
  EXPECT_EQ(idle_ticks, 0);
  idle->set_interval(5);
  ASSERT_TRUE(rig.loop.run_until([&] { return idle_ticks >= 2; }, generous));
}

TEST(Timer, DestroyedWhileEnabledTicksNoMore) {
  TimerRig rig;
  auto timer = rig.platform.make_timer();
  auto witness = rig.platform.make_timer();
  int ticks = 0;
  int ticks_at_destruction = -1;
  int witness_ticks = 0;
  timer->on_tick([&] { ++ticks; });
  witness->on_tick([&] {
    if (++witness_ticks == 1) {
      ticks_at_destruction = ticks;
      timer.reset();  // from another handler, while its next tick is queued
    }
  });
  timer->set_interval(1);
  timer->set_enabled(true);
  witness->set_interval(5);
  witness->set_enabled(true);
  ASSERT_TRUE(rig.loop.run_until([&] { return witness_ticks >= 4; }, generous));
  EXPECT_EQ(timer, nullptr);
  EXPECT_EQ(ticks, ticks_at_destruction);
}

}  // namespace
}  // namespace vintrel::platform
