// `vintrel get -j N`: several files at once, each whole under its own name
// whatever order they end in, never more than six connections to a server,
// one summary and one exit status.

#include <signal.h>

#include <algorithm>
#include <filesystem>

#include "get_program_rig.hpp"
#include "support/counting_relay.hpp"

namespace vintrel::testing {
namespace {

using namespace get_program_rig;

TEST(GetConcurrent, FilesEndingOutOfOrderKeepTheirBytesAndNamesAndAFailureStopsOnlyItsFile) {
  REQUIRE_NGINX();
  NginxServer server(limited(512 * KiB));
  const std::vector<std::pair<std::string, std::int64_t>> files{
      {"a.bin", 700 * KiB}, {"b.bin", 20 * KiB}, {"c.bin", 300 * KiB}, {"gone.bin", 0}, {"d.bin", 60 * KiB}};
  std::vector<std::string> arguments{"-j", "3"};
  std::vector<std::string> contents;
  for (std::size_t k = 0; k < files.size(); ++k) {
    const auto& [name, size] = files[k];
    contents.push_back(size > 0 ? serve(server, name, size, static_cast<std::uint32_t>(k + 1)) : "");
  }
  server.start();
  TempFolder folder;
  arguments.insert(arguments.end(), {"-d", folder.path().string()});
  for (const auto& [name, size] : files) arguments.push_back(server.url("/" + name));

  const ProgramRun run = run_program(get(arguments), {}, 60s);

  EXPECT_EQ(run.status, 1) << describe(run);
  for (std::size_t k = 0; k < files.size(); ++k) {
    const std::string& name = files[k].first;
    const std::string line = "[" + std::to_string(k + 1) + "/5] ";
    if (files[k].second == 0) {
      EXPECT_NE(run.err.find(line + "failed: "), std::string::npos) << describe(run);
      EXPECT_FALSE(fs::exists(folder.file(name)));
      continue;
    }
    EXPECT_TRUE(holds(folder.file(name), contents[k]));
    EXPECT_NE(run.out.find(line + "saved " + folder.file(name)), std::string::npos) << describe(run);
  }
  // The small files ended while the first was still coming.
  EXPECT_LT(run.out.find("[2/5] saved"), run.out.find("[1/5] saved")) << describe(run);
  EXPECT_EQ(count(run.out, "Summary: "), 1u);
  EXPECT_NE(run.out.find("Summary: 4 done, 1 failed"), std::string::npos) << describe(run);
  EXPECT_EQ(count(run.out, "Completed All Transfers"), 1u) << describe(run);
}

// The same name twice: the second waits for the first, then finds its file
// whole; a file of another server under that name goes beside it.
TEST(GetConcurrent, FilesOfOneNameNeverShareTheLocalFile) {
  REQUIRE_NGINX();
  NginxServer server(limited(256 * KiB));
  NginxServer other;
  const std::string content = serve(server, "same.bin", 512 * KiB, 5);
  const std::string elsewhere = serve(other, "same.bin", 3 * KiB, 6);
  server.start();
  other.start();
  TempFolder folder;
  const ProgramRun run = run_program(get({"-j", "3", "-d", folder.path().string(), server.url("/same.bin"),
                                          server.url("/same.bin"), other.url("/same.bin")}),
                                     {}, 60s);
  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_TRUE(holds(folder.file("same.bin"), content));
  EXPECT_NE(run.out.find("[2/3] already complete: " + folder.file("same.bin")), std::string::npos) << describe(run);
  EXPECT_TRUE(holds(folder.file("same (1).bin"), elsewhere));
}

// Counted at a relay in front of nginx, so that connections opened ahead of
// need count too: at -j 10 six lanes run and no spare fits; at -j 5 the
// sixth connection is the next file's, opened ahead, and every one opened
// carried a file.
TEST(GetConcurrent, NoMoreThanSixConnectionsGoToOneServer) {
  REQUIRE_NGINX();
  struct Case {
    int jobs;
    int most;  // connections at once, counted at the relay
  };
  for (const Case c : {Case{10, 6}, Case{5, 6}}) {
    SCOPED_TRACE(c.jobs);
    // nginx lets the first second's bytes go at once, then holds to the
    // rate: each file takes about a second.
    NginxServer server(limited(128 * KiB));
    TempFolder folder;
    std::vector<std::string> arguments{"-j", std::to_string(c.jobs), "-d", folder.path().string()};
    for (int n = 1; n <= 12; ++n)
      serve(server, "f" + std::to_string(n) + ".bin", 200 * KiB, static_cast<std::uint32_t>(n));
    server.start();
    const CountingRelay relay(server.port());
    for (int n = 1; n <= 12; ++n)
      arguments.push_back("http://127.0.0.1:" + std::to_string(relay.port()) + "/f" + std::to_string(n) + ".bin");

    const ProgramRun run = run_program(get(arguments), {}, 60s);

    ASSERT_EQ(run.status, 0) << describe(run);
    EXPECT_EQ(relay.most_at_once(), c.most);
    EXPECT_EQ(relay.accepted(), 12);
    // The most responses nginx was sending at any one moment.
    const auto log = server.wait_for_access_log(12);
    int most = 0;
    for (const auto& probe : log) {
      const double moment = probe.finished - probe.request_time + 0.002;
      most = std::max<int>(most, static_cast<int>(std::count_if(log.begin(), log.end(), [&](const AccessLogEntry& e) {
                             return e.finished - e.request_time <= moment && moment < e.finished;
                           })));
    }
    EXPECT_LE(most, 6);
    EXPECT_GE(most, 2) << "the files did not overlap at all";
  }
}

TEST(GetConcurrent, InterruptStopsEveryFileAndKeepsEveryPart) {
  REQUIRE_NGINX();
  NginxServer server(limited(128 * KiB));
  TempFolder folder;
  std::vector<std::string> arguments{"-j", "3", "-d", folder.path().string()};
  for (const char* name : {"x.bin", "y.bin", "z.bin"}) serve(server, name, 4 * MiB, 9);
  server.start();
  for (const char* name : {"x.bin", "y.bin", "z.bin"}) arguments.push_back(server.url(std::string("/") + name));
  ChildProcess child(get(arguments));
  const auto started = [&] {
    for (const char* name : {"x.bin", "y.bin", "z.bin"}) {
      std::error_code error;
      if (fs::file_size(folder.file(name), error) < 16 * KiB || error) return false;
    }
    return true;
  };
  ASSERT_TRUE(child.wait_until(started, 10s)) << child.out() << child.err();
  child.send_signal(SIGINT);
  EXPECT_EQ(child.wait_for_exit(10s), 130) << child.out() << child.err();
  EXPECT_EQ(count(child.err(), "partial file kept for the next run"), 3u) << child.err();
  EXPECT_NE(child.out().find("0 done, 0 failed, 3 not finished"), std::string::npos) << child.out();
  for (const char* name : {"x.bin", "y.bin", "z.bin"}) EXPECT_LT(fs::file_size(folder.file(name)), 4u * MiB);
}

TEST(GetConcurrent, TerminalShowsALineForEachRunningFile) {
  REQUIRE_NGINX();
  NginxServer server(limited(256 * KiB));
  serve(server, "p.bin", 1 * MiB, 1);
  serve(server, "q.bin", 1 * MiB, 2);
  server.start();
  TempFolder folder;
  ChildProcess child(get({"-j", "2", "-d", folder.path().string(), server.url("/p.bin"), server.url("/q.bin")}),
                     on_terminal(120));
  const auto both_shown = [&] {
    const auto screen = lines_kept(child.out());
    return screen.size() == 2 && screen[0].starts_with("[1/2] p.bin") && screen[1].starts_with("[2/2] q.bin") &&
           screen[1].ends_with(" <live>");
  };
  EXPECT_TRUE(child.wait_until(both_shown, 10s)) << ::testing::PrintToString(lines_kept(child.out()));
  ASSERT_EQ(child.wait_for_exit(30s), 0) << child.out() << child.err();
  const auto screen = lines_kept(child.out());
  ASSERT_EQ(screen.size(), 4u) << ::testing::PrintToString(screen);
  EXPECT_EQ(std::count_if(screen.begin(), screen.end(),
                          [](const std::string& line) { return line.find("] saved ") != std::string::npos; }),
            2);
  EXPECT_EQ(screen[2], "Completed All Transfers");
  EXPECT_TRUE(screen[3].starts_with("Summary: 2 done")) << screen[3];
}

}  // namespace
}  // namespace vintrel::testing
