// The console facilities of command-line hosts: Ctrl-C arrives on the loop
// (and keeps arriving), and terminals are told apart from pipes with their
// width read from the terminal itself.

#include "platform/console.hpp"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include "platform/event_loop.hpp"

namespace vintrel::platform {
namespace {

using namespace std::chrono_literals;

TEST(InterruptHandler, DeliversEachSignalOnTheLoopInsteadOfEndingTheProcess) {
  EventLoop loop;
  std::vector<int> seen;
  {
    InterruptHandler interrupts(loop, [&](int number) { seen.push_back(number); });
    ASSERT_EQ(std::raise(SIGINT), 0);
    ASSERT_TRUE(loop.run_until([&] { return seen.size() == 1; }, 5s));
    // Still armed after the first one: a second Ctrl-C is not lost.
    ASSERT_EQ(std::raise(SIGTERM), 0);
    ASSERT_TRUE(loop.run_until([&] { return seen.size() == 2; }, 5s));
  }
  EXPECT_EQ(seen, (std::vector<int>{SIGINT, SIGTERM}));
  // Gone with its owner: nothing more is queued for a handler that is gone.
  loop.run_until([] { return false; }, 20ms);
  EXPECT_EQ(seen.size(), 2u);
}

TEST(Terminal, TellsAPseudoTerminalFromAPipeAndReadsItsWidth) {
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  EXPECT_FALSE(is_terminal(pipe_fds[1]));
  EXPECT_EQ(terminal_columns(pipe_fds[1]), 0);
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);

  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  struct winsize size {};
  size.ws_col = 97;
  size.ws_row = 31;
  ASSERT_EQ(::ioctl(terminal, TIOCSWINSZ, &size), 0);
  EXPECT_TRUE(is_terminal(terminal));
  EXPECT_EQ(terminal_columns(terminal), 97);
  ::close(terminal);
  ::close(master);
}

TEST(Stopwatch, MeasuresElapsedTimeFromItsStartOrRestart) {
  Stopwatch watch;
  std::this_thread::sleep_for(30ms);
  const double before = watch.seconds();
  EXPECT_GE(before, 0.03);
  watch.restart();
  EXPECT_LT(watch.seconds(), before);
}

}  // namespace
}  // namespace vintrel::platform
