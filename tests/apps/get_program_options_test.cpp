// `vintrel get` run with its options against real nginx servers on loopback:
// input files, folders, request headers, mirrors, interrupts and tries.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "get_program_rig.hpp"
#include "get_runs.hpp"
#include "terminal_lines.hpp"

namespace vintrel::testing {
namespace {

using namespace get_program_rig;

TEST(GetProgram, InputFileListsUrlsWithMirrorsAndComments) {
  REQUIRE_NGINX();
  NginxServer first;
  NginxServer second;
  const std::string a = serve(first, "a.bin", 40 * KiB, 4);
  make_file(second.file("a.bin"), 40 * KiB, 4);
  const std::string b = serve(first, "b.bin", 2 * KiB, 5);
  first.start();
  second.start();
  TempFolder folder;
  const std::string list = folder.file("list.txt");
  write_file(list, "# the files\n\n" + first.url("/a.bin") + " \t" + second.url("/a.bin") + "\n  \n#" +
                       first.url("/not-this.bin") + "\n" + first.url("/b.bin") + "\n");
  const std::string out = folder.file("out");

  const ProgramRun run = run_program(get({"-d", out, "-i", list}), {}, 60s);

  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_TRUE(holds(folder.file("out/a.bin"), a));
  EXPECT_TRUE(holds(folder.file("out/b.bin"), b));
  EXPECT_FALSE(fs::exists(folder.file("out/not-this.bin")));
  EXPECT_NE(run.out.find("[2/2] saved"), std::string::npos) << describe(run);
  // Both servers of a.bin were asked for it: the mirror was probed.
  const auto asked = second.wait_for_access_log(1);
  EXPECT_TRUE(std::any_of(asked.begin(), asked.end(), [](const AccessLogEntry& e) {
    return e.request.starts_with("GET /a.bin ");
  })) << describe(run);
}

TEST(GetProgram, LongListRunsThroughSeveralControlsWithOneNumberingAndOneSummary) {
  REQUIRE_NGINX();
  NginxServer server;
  for (int n = 1; n <= 120; ++n)
    serve(server, "f" + std::to_string(n) + ".bin", 512 + n, static_cast<std::uint32_t>(n));
  server.start();
  std::string list;
  for (int n = 1; n <= 120; ++n) list += server.url("/f" + std::to_string(n) + ".bin") + "\n";
  TempFolder folder;
  const std::string list_file = folder.file("list.txt");
  write_file(list_file, list);

  const ProgramRun run = run_program(get({"-d", folder.file("out"), "--input-file", list_file}), {}, 120s);

  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_EQ(count(run.out, "] saved "), 120u) << describe(run);
  EXPECT_NE(run.out.find("[100/120] saved " + folder.file("out/f100.bin")), std::string::npos) << describe(run);
  EXPECT_NE(run.out.find("[101/120] saved " + folder.file("out/f101.bin")), std::string::npos) << describe(run);
  EXPECT_NE(run.out.find("[120/120] saved " + folder.file("out/f120.bin")), std::string::npos) << describe(run);
  EXPECT_EQ(count(run.out, "Summary: "), 1u) << describe(run);
  EXPECT_NE(run.out.find("Summary: 120 done, 0 failed"), std::string::npos) << describe(run);
  EXPECT_EQ(count(run.out, "Completed All Transfers"), 1u) << describe(run);
  EXPECT_EQ(read_file(folder.file("out/f120.bin")).size(), 632u);
}

TEST(GetProgram, QuietPrintsOnlyTheSummary) {
  REQUIRE_NGINX();
  NginxServer server;
  serve(server, "q.bin", 10 * KiB, 4);
  server.start();
  TempFolder folder;

  const ProgramRun run = run_program(get({"-q", "-d", folder.path().string(), server.url("/q.bin")}));

  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_TRUE(run.out.starts_with("Summary: 1 done, 0 failed; 10.0 KiB received")) << describe(run);
  EXPECT_EQ(count(run.out, "\n"), 1u) << describe(run);
  EXPECT_EQ(run.err, "");
}

TEST(GetProgram, DirectoryIsCreatedAndRelativeOnesAreMadeAbsolute) {
  REQUIRE_NGINX();
  NginxServer server;
  const std::string content = serve(server, "d.bin", 5 * KiB, 5);
  server.start();
  TempFolder folder;

  const ProgramRun run =
      run_program(get({"-d", "new/deeper", server.url("/d.bin")}), working_in(folder.path().string()));

  ASSERT_EQ(run.status, 0) << describe(run);
  const std::string saved = folder.file("new/deeper/d.bin");
  EXPECT_TRUE(holds(saved, content));
  EXPECT_NE(run.out.find("saved " + saved + " "), std::string::npos) << describe(run);
}

TEST(GetProgram, RefererAndCookieGoOutWithTheRequest) {
  REQUIRE_NGINX();
  NginxServer server;
  serve(server, "r.bin", 4 * KiB, 6);
  server.start();
  TempFolder folder;

  const ProgramRun run = run_program(get({"-d", folder.path().string(), "--referer", "http://pages.test/list.html",
                                          "--cookie", "session=abc; lang=en", server.url("/r.bin")}));

  ASSERT_EQ(run.status, 0) << describe(run);
  const auto log = server.wait_for_access_log(1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].request, "GET /r.bin HTTP/1.1");
  EXPECT_EQ(log[0].referer, "http://pages.test/list.html");
  EXPECT_EQ(log[0].cookie, "session=abc; lang=en");
}

TEST(GetProgram, MirrorsAreProbedAndTheFastestServesTheFile) {
  REQUIRE_NGINX();
  // The same file on both; the slow one could not deliver it within the
  // seconds of probing.
  constexpr std::int64_t size = 4 * MiB;
  NginxServer slow(limited(64 * KiB));
  NginxServer fast;
  const std::string content = serve(slow, "m.bin", size, 11);
  serve(fast, "m.bin", size, 11);
  slow.start();
  fast.start();
  TempFolder folder;

  // The slow server is named first: picking it would be the default.
  const ProgramRun run = run_program(get({"-d", folder.path().string(), "--referer", "http://pages.test/m.html",
                                          slow.url("/m.bin"), "-m", fast.url("/m.bin")}));

  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_TRUE(holds(folder.file("m.bin"), content));
  EXPECT_NE(run.out.find("[1/1] Connecting\n"), std::string::npos) << describe(run);

  // The slow server's probe ended with the program; nginx logs it then.
  const auto slow_log = slow.wait_for_access_log(1);
  ASSERT_EQ(slow_log.size(), 1u);
  EXPECT_EQ(slow_log[0].referer, "") << "only the probe, which carries no page address";
  EXPECT_LT(slow_log[0].body_bytes_sent, size);

  const auto fast_log = fast.wait_for_access_log(2);
  ASSERT_EQ(fast_log.size(), 2u);
  std::size_t transfers = 0;
  for (const auto& entry : fast_log) {
    EXPECT_EQ(entry.request, "GET /m.bin HTTP/1.1");
    if (entry.referer == "http://pages.test/m.html") {
      ++transfers;
      EXPECT_EQ(entry.body_bytes_sent, size);
    }
  }
  EXPECT_EQ(transfers, 1u);
}

TEST(GetProgram, InterruptKeepsThePartialFileAndTheNextRunResumesIt) {
  REQUIRE_NGINX();
  constexpr std::int64_t size = 2 * MiB;
  TempFolder shared;  // both servers serve the same folder
  NginxServer slow(limited(128 * KiB, shared.path().string()));
  NginxServer fast(serving(shared.path().string()));
  const std::string content = serve(slow, "big.bin", size, 21);
  slow.start();
  fast.start();
  TempFolder folder;
  const std::string local = folder.file("big.bin");

  {
    ChildProcess child(get({"-d", folder.path().string(), slow.url("/big.bin")}));
    const auto on_disk = [&] { return fs::exists(local) ? static_cast<std::int64_t>(fs::file_size(local)) : 0; };
    ASSERT_TRUE(child.wait_until([&] { return on_disk() >= 32 * KiB; }, 10s)) << child.out() << child.err();
    child.send_signal(SIGINT);
    EXPECT_EQ(child.wait_for_exit(10s), 130) << child.out() << child.err();
    EXPECT_NE(child.err().find("partial file kept for the next run: " + local), std::string::npos) << child.err();
    EXPECT_NE(child.out().find("Summary: 0 done, 0 failed, 1 not finished"), std::string::npos) << child.out();
  }
  const std::string partial = read_file(local);
  ASSERT_GT(partial.size(), 0u);
  ASSERT_LT(partial.size(), content.size());
  EXPECT_TRUE(partial == content.substr(0, partial.size())) << "the part kept is not the start of the file";

  const ProgramRun run = run_program(get({"-d", folder.path().string(), fast.url("/big.bin")}));

  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_TRUE(holds(local, content));
  bool resumed = false;
  for (const auto& entry : fast.wait_for_access_log(1))
    resumed |= entry.range.starts_with("bytes=" + std::to_string(partial.size()) + "-");
  EXPECT_TRUE(resumed) << "no request for the rest of the file";
}

TEST(GetProgram, GivesAFileUpAfterItsTriesAndGoesOn) {
  REQUIRE_NGINX();
  NginxServer server;
  const std::string content = serve(server, "ok.bin", 3 * KiB, 8);
  server.start();
  // A port where nobody listens any more.
  NginxServer gone;
  gone.start();
  const std::string unreachable = gone.url("/x.bin");
  gone.stop();
  TempFolder folder;

  const ProgramRun run =
      run_program(get({"--tries", "3", "-d", folder.path().string(), unreachable, server.url("/ok.bin")}));

  EXPECT_EQ(run.status, 1) << describe(run);
  EXPECT_NE(run.err.find("[1/2] failed: gave up after 3 attempts: "), std::string::npos) << describe(run);
  EXPECT_TRUE(holds(folder.file("ok.bin"), content));
  EXPECT_NE(run.out.find("Summary: 1 done, 1 failed"), std::string::npos) << describe(run);
}

}  // namespace
}  // namespace vintrel::testing
