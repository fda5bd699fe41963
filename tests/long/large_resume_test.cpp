// A 5 GiB file resumed from a 3 GiB part: past 2 GiB on disk the control
// writes through its file object. Left out of the default run (label
// "long"); run it with: ctest --test-dir build -L long

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "support/live_control.hpp"
#include "support/nginx_server.hpp"
#include "support/part_files.hpp"
#include "support/temp_folder.hpp"

namespace vintrel {
namespace {

constexpr std::int64_t GiB = 1024LL * 1024 * 1024;

// Distinct bytes at a few places of an otherwise sparse file, so that a
// misplaced write shows.
const std::vector<std::int64_t> marks{0, 2 * GiB - 4096, 3 * GiB - 100000, 3 * GiB + 12345, 4 * GiB, 5 * GiB - 70000};

void make_sparse(const std::string& path, std::int64_t size, std::int64_t marked_below) {
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, size), 0);
  std::uint32_t seed = 1;
  for (const auto at : marks) {
    const auto bytes = testing::random_bytes(65536, seed++);
    if (at + 65536 > marked_below) continue;
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), at), static_cast<ssize_t>(bytes.size()));
  }
  ::close(fd);
}

bool same_content(const std::string& a, const std::string& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  std::vector<char> ba(1 << 20), bb(1 << 20);
  while (fa && fb) {
    fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
    fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
    if (fa.gcount() != fb.gcount() || !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin())) return false;
  }
  return fa.eof() && fb.eof();
}

TEST(LargeResume, FiveGibibyteFileResumedFromThreeThroughTheFileObject) {
  if (!testing::NginxServer::available()) GTEST_SKIP() << testing::NginxServer::why_unavailable();
  testing::TempFolder dir;
  testing::NginxServer server;
  server.start();
  make_sparse(server.file("huge.bin"), 5 * GiB, 5 * GiB);
  make_sparse(dir.file("huge.bin"), 3 * GiB, 3 * GiB);
  // The part is this download's own, as a run killed at 3 GiB leaves it.
  platform::write_file_note(dir.file("huge.bin"),
                            queue::format_part_record({server.url("/huge.bin"), {}, {}, -1, false}));

  testing::LiveControl live;
  live.start({server.url("/huge.bin")}, dir.path().string());
  ASSERT_TRUE(live.run_until_finished(std::chrono::minutes(10)));
  EXPECT_TRUE(live.saw("OnFileComplete:" + dir.file("huge.bin")));
  EXPECT_TRUE(live.control.DownloadFiles->Item(1).isLarge);
  EXPECT_EQ(server.access_log().back().range, "bytes=3221225472-5368709120");
  EXPECT_EQ(platform::file_size_of(dir.file("huge.bin")), 5 * GiB);
  EXPECT_TRUE(same_content(dir.file("huge.bin"), server.file("huge.bin")));
  EXPECT_EQ(live.control.dBytesTotal(), "5368709120");
}

}  // namespace
}  // namespace vintrel
