// The one reader of standard input: reads never block and never leave the
// owner's descriptor non-blocking; waits end on the loop, once.

#include "platform/input_reader.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/event_loop.hpp"
#include "support/pipe.hpp"
#include "support/temp_folder.hpp"

namespace vintrel::platform {
namespace {

using namespace std::chrono_literals;

constexpr auto generous = 10s;

using testing::Pipe;

TEST(InputReader, ReadsWhatIsThereAndSaysLaterInsteadOfBlocking) {
  EventLoop loop;
  Pipe input;
  InputReader reader(loop, input.read_end);
  ASSERT_TRUE(reader.usable());
  std::string got = "kept:";
  EXPECT_EQ(reader.read(got, 4096), InputReader::Read::later);
  EXPECT_EQ(got, "kept:");
  input.write("abcdef");
  EXPECT_EQ(reader.read(got, 4), InputReader::Read::data);
  EXPECT_EQ(got, "kept:abcd");
  EXPECT_EQ(reader.read(got, 4096), InputReader::Read::data);
  EXPECT_EQ(got, "kept:abcdef");
  EXPECT_EQ(reader.read(got, 4096), InputReader::Read::later);
  // The owner's descriptor is open and as blocking as it was.
  EXPECT_GE(::fcntl(input.read_end, F_GETFD), 0);
  EXPECT_EQ(::fcntl(input.read_end, F_GETFL) & O_NONBLOCK, 0);
}

TEST(InputReader, EndOfInputEndsTheReads) {
  EventLoop loop;
  Pipe input;
  InputReader reader(loop, input.read_end);
  input.write("last");
  input.close_write();
  std::string got;
  EXPECT_EQ(reader.read(got, 4096), InputReader::Read::data);
  EXPECT_EQ(reader.read(got, 4096), InputReader::Read::ended);
  EXPECT_EQ(got, "last");
}

TEST(InputReader, WaitEndsOnTheLoopOnceInputComesAndRunsTheLatestHandlerOnce) {
  EventLoop loop;
  Pipe input;
  InputReader reader(loop, input.read_end);
  int first = 0;
  int second = 0;
  std::optional<bool> ended;
  reader.wait([&](bool) { ++first; });
  reader.wait([&](bool end) {
    ++second;
    ended = end;
  });
  input.write("x");
  EXPECT_EQ(second, 0);  // never inside the call
  ASSERT_TRUE(loop.run_until([&] { return second > 0; }, generous));
  bool drained = false;
  loop.post([&] { drained = true; });
  ASSERT_TRUE(loop.run_until([&] { return drained; }, generous));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  EXPECT_EQ(ended, false);
  std::string got;
  EXPECT_EQ(reader.read(got, 16), InputReader::Read::data);
  EXPECT_EQ(got, "x");
}

TEST(InputReader, DestroyedReaderNeverRunsItsHandler) {
  EventLoop loop;
  Pipe input;
  bool ran = false;
  {
    InputReader reader(loop, input.read_end);
    reader.wait([&](bool) { ran = true; });
  }
  input.write("x");
  bool drained = false;
  loop.post([&] { drained = true; });
  ASSERT_TRUE(loop.run_until([&] { return drained; }, generous));
  EXPECT_FALSE(ran);
}

TEST(InputReader, RegularFileIsReadToItsEnd) {
  vintrel::testing::TempFolder temp;
  vintrel::testing::write_file(temp.file("input"), "from a file\n");
  const int file = ::open(temp.file("input").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(file, 0);
  EventLoop loop;
  std::optional<bool> ended;
  std::string got;
  {
    InputReader reader(loop, file);
    reader.wait([&](bool end) { ended = end; });
    ASSERT_TRUE(loop.run_until([&] { return ended.has_value(); }, generous));
    while (reader.read(got, 4) == InputReader::Read::data) {
    }
  }
  ::close(file);
  EXPECT_EQ(ended, false);  // a file cannot be watched, but is always ready
  EXPECT_EQ(got, "from a file\n");
}

TEST(InputReader, DescriptorThatCannotBeTakenIsNotUsable) {
  EventLoop loop;
  InputReader reader(loop, -1);
  EXPECT_FALSE(reader.usable());
}

}  // namespace
}  // namespace vintrel::platform
