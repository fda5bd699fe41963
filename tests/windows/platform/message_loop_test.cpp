// The loop on the caller's thread: handlers and ticks run only while the
// thread pumps messages, on that thread, one at a time, never inside
// another handler (except through run_until, which is made for it).

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/clock.hpp"
#include "platform/event_loop.hpp"
#include "platform/platform.hpp"
#include "platform/windows/message_loop.hpp"
#include "pump.hpp"

namespace vintrel::windows_tests {
namespace {

using namespace std::chrono_literals;

// Counts how deep handlers are nested and on which threads they ran.
struct Deliveries {
  int depth = 0;
  int deepest = 0;
  int count = 0;
  std::vector<DWORD> threads;

  // Wraps `body` as a handler that records itself.
  std::function<void()> handler(std::function<void()> body = {}) {
    return [this, body = std::move(body)] {
      ++depth;
      if (depth > deepest) deepest = depth;
      threads.push_back(GetCurrentThreadId());
      if (body) body();
      ++count;
      --depth;
    };
  }
};

TEST(WindowsEventLoop, PostedHandlersRunOnlyWhileTheThreadPumpsMessages) {
  platform::EventLoop loop;
  Deliveries seen;
  loop.post(seen.handler());
  loop.post(seen.handler());
  // Neither inside post() nor while the thread does anything else.
  EXPECT_EQ(seen.count, 0);
  Sleep(50);
  EXPECT_EQ(seen.count, 0);
  ASSERT_TRUE(pump_until([&] { return seen.count == 2; }));
  for (DWORD thread : seen.threads) EXPECT_EQ(thread, GetCurrentThreadId());
  EXPECT_EQ(seen.deepest, 1);
}

TEST(WindowsEventLoop, AHandlerThatPumpsMessagesGetsNoHandlerInsideIt) {
  platform::EventLoop loop;
  Deliveries seen;
  int ran_inside = -1;
  // The first handler pumps messages itself, as a script's event handler
  // does while it waits: the second must wait until it has returned.
  loop.post(seen.handler([&] {
    pump_for(100ms);
    ran_inside = seen.count;
  }));
  loop.post(seen.handler());
  ASSERT_TRUE(pump_until([&] { return seen.count == 2; }));
  EXPECT_EQ(ran_inside, 0);
  EXPECT_EQ(seen.deepest, 1);
}

TEST(WindowsEventLoop, PostsFromOtherThreadsRunOnTheLoopsThread) {
  platform::EventLoop loop;
  Deliveries seen;
  std::thread other([&] {
    for (int k = 0; k < 5; ++k) loop.post(seen.handler());
  });
  other.join();
  EXPECT_EQ(seen.count, 0);
  ASSERT_TRUE(pump_until([&] { return seen.count == 5; }));
  for (DWORD thread : seen.threads) EXPECT_EQ(thread, GetCurrentThreadId());
}

TEST(WindowsEventLoop, RunUntilDeliversFromInsideAHandlerAndStopsWhenDone) {
  platform::EventLoop loop;
  Deliveries seen;
  bool answered = false;
  bool waited = false;
  loop.post(seen.handler([&] {
    // A folder dialog's wait: the answer comes from the loop.
    loop.post([&] { answered = true; });
    waited = loop.run_until([&] { return answered; });
  }));
  ASSERT_TRUE(pump_until([&] { return seen.count == 1; }));
  EXPECT_TRUE(waited);
  EXPECT_TRUE(answered);
  // A bounded wait for something that never comes gives up.
  EXPECT_FALSE(loop.run_until([] { return false; }, 30ms));
  loop.stop();
  EXPECT_TRUE(loop.stopped());
  EXPECT_FALSE(loop.run_until([] { return false; }));
}

TEST(WindowsEventLoop, TimerTicksOnlyWhilePumpingAndStopsWhenDisabled) {
  platform::EventLoop loop;
  platform::AsioPlatform machine(loop);
  auto timer = machine.make_timer();
  Deliveries seen;
  timer->on_tick(seen.handler());
  timer->set_interval(20);
  timer->set_enabled(true);
  Sleep(100);
  EXPECT_EQ(seen.count, 0);
  ASSERT_TRUE(pump_until([&] { return seen.count >= 3; }));
  for (DWORD thread : seen.threads) EXPECT_EQ(thread, GetCurrentThreadId());
  EXPECT_EQ(seen.deepest, 1);
  timer->set_enabled(false);
  const int ticks = seen.count;
  pump_for(100ms);
  EXPECT_EQ(seen.count, ticks);
}

TEST(WindowsEventLoop, PlatformPostAndWaitUntilGoThroughTheLoop) {
  platform::EventLoop loop;
  platform::AsioPlatform machine(loop);
  Deliveries seen;
  bool finished = false;
  machine.post(seen.handler([&] {
    machine.post(seen.handler());
    // Not run inside this handler until it waits for it.
    EXPECT_EQ(seen.count, 0);
    EXPECT_TRUE(machine.wait_until([&] { return seen.count == 1; }));
    finished = true;
  }));
  EXPECT_EQ(seen.count, 0);
  ASSERT_TRUE(pump_until([&] { return finished; }));
  EXPECT_EQ(seen.count, 2);
}

TEST(WindowsEventLoop, HandlersQueuedWhenTheLoopGoesAwayNeverRun) {
  Deliveries seen;
  {
    platform::EventLoop loop;
    loop.post(seen.handler());
  }
  pump_for(50ms);
  EXPECT_EQ(seen.count, 0);
  // Two loops on one thread each deliver their own.
  platform::EventLoop first;
  platform::EventLoop second;
  first.post(seen.handler());
  second.post(seen.handler());
  ASSERT_TRUE(pump_until([&] { return seen.count == 2; }));
}

TEST(WindowsEventLoop, AModalWaitInsideAHandlerLetsTicksAndEventsGoOn) {
  platform::EventLoop loop;
  Deliveries seen;
  int ran_inside = 0;
  // A modal dialog's own message loop, shown from a handler: the loop's
  // window delivers meanwhile, and stops again once it has closed.
  loop.post(seen.handler([&] {
    loop.post(seen.handler());
    platform::windows::deliver_during(loop, [&] { pump_until([&] { return seen.count == 1; }, 5s); });
    ran_inside = seen.count;
    loop.post(seen.handler());
    pump_for(50ms);
    EXPECT_EQ(seen.count, 1);
  }));
  ASSERT_TRUE(pump_until([&] { return seen.count == 3; }));
  EXPECT_EQ(ran_inside, 1);
  EXPECT_EQ(seen.deepest, 2);
}

TEST(WindowsEventLoop, AThrowingHandlerDoesNotTakeTheMessageLoopWithIt) {
  platform::EventLoop loop;
  Deliveries seen;
  loop.post([] { throw std::runtime_error("lost"); });
  loop.post(seen.handler());
  ASSERT_TRUE(pump_until([&] { return seen.count == 1; }));
}

TEST(WindowsEventLoop, AQuitMessageEndsAWaitAndIsLeftForTheHostsLoop) {
  platform::EventLoop loop;
  PostQuitMessage(7);
  EXPECT_FALSE(loop.run_until([] { return false; }, 5s));
  // The host's own loop still sees it, with its code.
  MSG message{};
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 7u);
  // The loop itself goes on.
  Deliveries seen;
  loop.post(seen.handler());
  ASSERT_TRUE(pump_until([&] { return seen.count == 1; }));
}

TEST(WindowsClock, NowIsTheLocalTimeOfTheMachine) {
  SYSTEMTIME before{};
  GetLocalTime(&before);
  platform::SystemClock clock;
  const automation::Date now = clock.Now();
  SYSTEMTIME after{};
  GetLocalTime(&after);
  const auto date_of = [](const SYSTEMTIME& t) {
    return platform::make_date(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  };
  EXPECT_GE(platform::seconds_between(date_of(before), now), 0);
  EXPECT_GE(platform::seconds_between(now, date_of(after)), 0);
}

}  // namespace
}  // namespace vintrel::windows_tests
