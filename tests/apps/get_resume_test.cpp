// `vintrel get` over runs that end half-way: a killed run's part is resumed
// only while nginx holds the same version, a stranger's file keeps its
// name, and a finished file is recognised.

#include <signal.h>

#include <filesystem>

#include "get_program_rig.hpp"

namespace vintrel::testing {
namespace {

using namespace get_program_rig;

// Runs `vintrel get` until some of `path` is on disk, then kills it as a
// crash or a power cut would: no chance to tidy up.
void kill_mid_body(const std::vector<std::string>& arguments, const std::string& path) {
  ChildProcess child(get(arguments));
  ASSERT_TRUE(child.wait_until(
      [&] {
        std::error_code error;
        return fs::file_size(path, error) >= 64 * KiB && !error;
      },
      10s))
      << child.out() << child.err();
  child.send_signal(SIGKILL);
  child.wait_for_exit(5s);
  ASSERT_LT(fs::file_size(path), static_cast<std::uintmax_t>(384 * KiB));
}

TEST(GetResume, KilledRunIsResumedOnlyWhileTheServersFileIsTheSame) {
  REQUIRE_NGINX();
  for (const bool changed : {false, true}) {
    NginxServer server(limited(128 * KiB));
    const std::string old_version = serve(server, "f.bin", 384 * KiB, 7);
    server.start();
    TempFolder folder;
    const std::string path = folder.file("f.bin");
    const std::vector<std::string> arguments{"-d", folder.path().string(), server.url("/f.bin")};
    kill_mid_body(arguments, path);
    const auto part = fs::file_size(path);
    std::string now = old_version;
    if (changed) {
      // Same size, other bytes, a later date: nginx's ETag changes.
      now = serve(server, "f.bin", 384 * KiB, 8);
      fs::last_write_time(server.file("f.bin"), fs::last_write_time(server.file("f.bin")) + std::chrono::hours(1));
    }

    const ProgramRun run = run_program(get(arguments));
    ASSERT_EQ(run.status, 0) << describe(run);
    EXPECT_TRUE(holds(path, now)) << (changed ? "changed" : "unchanged");
    EXPECT_EQ(run.out.find("The file changed on the server") != std::string::npos, changed) << run.out;
    const auto log = server.wait_for_access_log(3);
    ASSERT_FALSE(log.empty());
    if (changed) {
      EXPECT_EQ(log.back().status, 200);
    } else {
      EXPECT_EQ(log.back().status, 206);
      EXPECT_EQ(log.back().range, "bytes=" + std::to_string(part) + "-" + std::to_string(384 * KiB));
    }
  }
}

TEST(GetResume, StrangersFileKeepsItsNameAndAFinishedFileIsNotFetchedAgain) {
  REQUIRE_NGINX();
  NginxServer server;
  const std::string content = serve(server, "f.bin", 100 * KiB, 3);
  server.start();
  TempFolder folder;
  write_file(folder.file("f.bin"), "not a download");
  const std::vector<std::string> arguments{"-d", folder.path().string(), server.url("/f.bin")};

  ProgramRun run = run_program(get(arguments));
  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_EQ(read_file(folder.file("f.bin")), "not a download");
  EXPECT_TRUE(holds(folder.file("f (1).bin"), content));
  EXPECT_NE(run.out.find("saved " + folder.file("f (1).bin")), std::string::npos) << run.out;

  const auto written = fs::last_write_time(folder.file("f (1).bin"));
  run = run_program(get(arguments));
  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_NE(run.out.find("already complete: " + folder.file("f (1).bin")), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(folder.file("f (2).bin")));
  EXPECT_EQ(fs::last_write_time(folder.file("f (1).bin")), written);
}

}  // namespace
}  // namespace vintrel::testing
