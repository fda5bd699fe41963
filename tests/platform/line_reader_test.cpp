#include "platform/line_reader.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/event_loop.hpp"

namespace vintrel::platform {
namespace {

using namespace std::chrono_literals;

struct Pipe {
  int fds[2] = {-1, -1};
  Pipe() { EXPECT_EQ(::pipe(fds), 0); }
  ~Pipe() {
    close_write();
    ::close(fds[0]);
  }
  void write(const std::string& text) { ASSERT_EQ(::write(fds[1], text.data(), text.size()), ssize_t(text.size())); }
  void close_write() {
    if (fds[1] >= 0) ::close(fds[1]);
    fds[1] = -1;
  }
};

TEST(LineReader, LinesArriveInsideAHandlerThatWaitsAndTheOwnersDescriptorStaysBlocking) {
  EventLoop loop;
  Pipe input;
  std::vector<std::string> seen;
  bool ended = false;
  bool waited = false;
  LineReader reader(
      loop, input.fds[0],
      [&](std::string line) {
        seen.push_back(line);
        // The first line waits for the next one with the loop running, as
        // a dialog does; the second must still come.
        if (line == "first") waited = loop.run_until([&] { return seen.size() >= 2; }, 5s);
      },
      [&] {
        ended = true;
        loop.stop();
      });
  reader.start();
  input.write("first\nsecond\r\n");
  input.write("third, with no newline");
  input.close_write();
  loop.run_until([&] { return ended; }, 5s);

  EXPECT_TRUE(waited);
  EXPECT_EQ(seen, (std::vector<std::string>{"first", "second", "third, with no newline"}));
  EXPECT_TRUE(ended);
  EXPECT_EQ(::fcntl(input.fds[0], F_GETFL) & O_NONBLOCK, 0);
}

}  // namespace
}  // namespace vintrel::platform
