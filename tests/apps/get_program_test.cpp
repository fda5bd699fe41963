// `vintrel get` as users run it: the built program in a child process,
// fetching from real nginx servers on loopback.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "get_runs.hpp"
#include "terminal_lines.hpp"

namespace vintrel::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

NginxOptions limited(std::int64_t bytes_per_second, std::string root = {}) {
  NginxOptions options;
  options.limit_rate = bytes_per_second;
  options.root = std::move(root);
  return options;
}

NginxOptions serving(std::string root) { return limited(0, std::move(root)); }

ChildProcess::Options on_terminal(int columns) {
  ChildProcess::Options options;
  options.terminal = true;
  options.columns = columns;
  return options;
}

ChildProcess::Options working_in(std::string folder) {
  ChildProcess::Options options;
  options.working_directory = std::move(folder);
  return options;
}

TEST(GetProgram, FetchesEveryUrlGoesOnPastAMissingOneAndExitsWith1) {
  REQUIRE_NGINX();
  NginxServer server;
  const std::string a = serve(server, "a.bin", 300 * KiB, 1);
  const std::string c = serve(server, "c.bin", 70 * KiB + 3, 3);
  server.start();
  TempFolder folder;

  const ProgramRun run = run_program(
      get({"-d", folder.path().string(), server.url("/a.bin"), server.url("/missing.bin"), server.url("/c.bin")}));

  EXPECT_EQ(run.status, 1) << describe(run);
  EXPECT_TRUE(holds(folder.file("a.bin"), a));
  EXPECT_TRUE(holds(folder.file("c.bin"), c));
  EXPECT_FALSE(fs::exists(folder.file("missing.bin")) && fs::file_size(folder.file("missing.bin")) > 0);
  EXPECT_NE(run.out.find("Summary: 2 done, 1 failed; "), std::string::npos) << describe(run);
  EXPECT_NE(run.err.find("[2/3] failed: "), std::string::npos) << describe(run);
  EXPECT_NE(run.err.find("(error 404)"), std::string::npos) << describe(run);
  // The third file came after the failure: the queue went on.
  EXPECT_NE(run.out.find("[3/3] saved " + folder.file("c.bin") + " (70.0 KiB, 71683 bytes)"), std::string::npos)
      << describe(run);
}

TEST(GetProgram, PlainLinesWhenOutputIsNotATerminal) {
  REQUIRE_NGINX();
  NginxServer server;
  serve(server, "p.bin", 200 * KiB, 7);
  server.start();
  TempFolder folder;

  const ProgramRun run = run_program(get({"-d", folder.path().string(), server.url("/p.bin")}));

  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_EQ(run.out.find('\r'), std::string::npos) << describe(run);
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << describe(run);
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < run.out.size();) {
    const std::size_t end = run.out.find('\n', at);
    ASSERT_NE(end, std::string::npos) << "unfinished last line\n" << describe(run);
    lines.push_back(run.out.substr(at, end - at));
    at = end + 1;
  }
  ASSERT_GE(lines.size(), 6u) << describe(run);
  EXPECT_EQ(lines.front(), "[1/1] " + server.url("/p.bin"));
  // A status reported on every tick shows once; one that comes back after
  // another status shows again, since that is a change.
  for (std::size_t n = 1; n < lines.size(); ++n) EXPECT_NE(lines[n], lines[n - 1]) << describe(run);
  // The file's way, in order; how the ticks fell decides what else is seen
  // between these lines.
  const std::vector<std::string> milestones{
      "[1/1] Locating File", "[1/1] Downloading", "[1/1] Completed Downloading a File",
      "[1/1] saved " + folder.file("p.bin") + " (200.0 KiB, 204800 bytes) in ", "Completed All Transfers"};
  auto next = lines.begin();
  for (const auto& milestone : milestones) {
    next = std::find_if(next, lines.end(), [&](const std::string& line) {
      return line == milestone || (milestone.ends_with(" in ") && line.starts_with(milestone));
    });
    ASSERT_NE(next, lines.end()) << "missing or out of order: " << milestone << "\n" << describe(run);
  }
  EXPECT_TRUE(std::regex_match(lines.back(), std::regex("Summary: 1 done, 0 failed; 200\\.0 KiB received in "
                                                        "[0-9]+:[0-9]{2}:[0-9]{2} \\([0-9]+ KB/s\\)")))
      << describe(run);
  EXPECT_EQ(run.err, "");
}

TEST(GetProgram, LiveProgressLineOnATerminalIsRedrawnInPlace) {
  REQUIRE_NGINX();
  // Slow enough for many ticks while the body flows (nginx sends the first
  // second's worth at once).
  NginxServer server(limited(512 * KiB));
  serve(server, "t.bin", 768 * KiB, 9);
  server.start();
  TempFolder folder;

  const ProgramRun run = run_program(get({"-d", folder.path().string(), server.url("/t.bin")}), on_terminal(90));

  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_GE(count(run.out, "\r\x1b[K[1/1] t.bin"), 5u) << describe(run);
  // The statuses show inside the live line, never as lines of their own.
  EXPECT_EQ(count(run.out, "Downloading\n"), 0u) << describe(run);
  EXPECT_NE(run.out.find("\r\x1b[K[1/1] t.bin: Locating File"), std::string::npos) << describe(run);
  // Every drawing: name, percent, bar, amounts, rate, remaining time, and
  // narrower than the terminal so that it never wraps.
  // (Until the response has told the size, "--%" and "?" stand for it.)
  const std::regex drawing(
      R"(\[1/1\] t\.bin +([0-9]{1,3}|--)% \[[#.]{20}\] [0-9.]+ (B|KiB|MiB) / (768\.0 KiB|\?)  [0-9]+ KB/s  )"
      R"(([0-9]+:[0-9]{2}:[0-9]{2}|--:--:--))");
  std::size_t drawings = 0;
  for (std::size_t at = run.out.find("\r\x1b[K"); at != std::string::npos;) {
    const std::size_t begin = at + 4;
    const std::size_t end = run.out.find_first_of("\r\n", begin);
    const std::string piece = run.out.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    at = end == std::string::npos ? end : run.out.find("\r\x1b[K", end);
    if (!piece.starts_with("[1/1] t.bin") || piece.starts_with("[1/1] t.bin: ")) continue;
    ++drawings;
    EXPECT_LT(piece.size(), 90u) << piece;
    EXPECT_TRUE(std::regex_match(piece, drawing)) << piece;
  }
  EXPECT_GE(drawings, 5u);
  // The last bytes may come between two ticks: the result line, not a
  // drawing at 100%, is what stays.
  EXPECT_NE(run.out.find("[1/1] saved " + folder.file("t.bin") + " (768.0 KiB, 786432 bytes) in "), std::string::npos)
      << describe(run);
  EXPECT_NE(run.out.find("Summary: 1 done, 0 failed"), std::string::npos) << describe(run);
}

TEST(GetProgram, OnATerminalEachFileLeavesOneLineWithItsAverageRate) {
  REQUIRE_NGINX();
  NginxServer server;
  serve(server, "a.bin", 300 * KiB, 1);
  serve(server, "b.bin", 5 * KiB, 2);
  server.start();
  TempFolder folder;

  const ProgramRun run = run_program(
      get({"-d", folder.path().string(), server.url("/a.bin"), server.url("/gone.bin"), server.url("/b.bin")}),
      on_terminal(200));

  EXPECT_EQ(run.status, 1) << describe(run);
  const auto kept = lines_kept(run.out);
  ASSERT_EQ(kept.size(), 4u) << describe(run);
  const std::regex saved(
      R"(\[([13])/3\] saved .*\.bin \([0-9.]+ KiB, [0-9]+ bytes\) in [0-9]+\.[0-9]{2} s(, [0-9]+ KB/s)?)");
  EXPECT_TRUE(std::regex_match(kept[0], saved)) << kept[0];
  EXPECT_NE(kept[0].find("[1/3] saved " + folder.file("a.bin")), std::string::npos) << kept[0];
  EXPECT_TRUE(std::regex_match(kept[1], saved)) << kept[1];
  EXPECT_NE(kept[1].find("[3/3] saved " + folder.file("b.bin")), std::string::npos) << kept[1];
  EXPECT_EQ(kept[2], "Completed All Transfers");
  EXPECT_TRUE(kept[3].starts_with("Summary: 2 done, 1 failed")) << kept[3];
  EXPECT_NE(run.err.find("[2/3] failed: "), std::string::npos) << describe(run);
  EXPECT_NE(run.err.find("404"), std::string::npos) << describe(run);
}

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

TEST(GetProgram, BadUsageExitsWith2AndShowsTheUsage) {
  const std::vector<std::vector<std::string>> mistakes{
      {},
      {"get"},
      {"fetch", "http://127.0.0.1/a"},
      {"get", "--no-such-option", "http://127.0.0.1/a"},
      {"get", "--tries", "0", "http://127.0.0.1/a"},
      {"get", "--tries", "many", "http://127.0.0.1/a"},
      {"get", "HTTPS://127.0.0.1/a"},
      {"get", "--ca-file", "/no/such/file.pem", "https://127.0.0.1/a"},
      {"get", "http://127.0.0.1/dir/"},
      {"get", "-m", "http://127.0.0.2/a", "http://127.0.0.1/a"},
      {"get", "http://127.0.0.1/a", "-m", "ftp://127.0.0.2/a"},
      {"get", "http://127.0.0.1/a", "-d"},
  };
  for (const auto& mistake : mistakes) {
    std::vector<std::string> arguments{VINTREL_PROGRAM};
    arguments.insert(arguments.end(), mistake.begin(), mistake.end());
    const ProgramRun run = run_program(arguments, {}, 10s);
    std::string shown;
    for (const auto& word : mistake) shown += " " + word;
    EXPECT_EQ(run.status, 2) << shown << "\n" << describe(run);
    EXPECT_TRUE(run.err.starts_with("vintrel: ")) << shown << "\n" << describe(run);
    EXPECT_NE(run.err.find("Usage:"), std::string::npos) << shown << "\n" << describe(run);
    EXPECT_EQ(run.out, "") << shown;
  }
}

TEST(GetProgram, HelpAndVersionGoToStandardOutput) {
  const ProgramRun help = run_program({VINTREL_PROGRAM, "get", "--help"}, {}, 10s);
  EXPECT_EQ(help.status, 0) << describe(help);
  for (const char* option :
       {"--directory", "--mirror", "--referer", "--cookie", "--title", "--quiet", "--tries", "--tick-interval", "URL"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option << "\n" << help.out;

  const ProgramRun top = run_program({VINTREL_PROGRAM, "--help"}, {}, 10s);
  EXPECT_EQ(top.status, 0) << describe(top);
  EXPECT_NE(top.out.find("get"), std::string::npos) << top.out;

  const ProgramRun version = run_program({VINTREL_PROGRAM, "--version"}, {}, 10s);
  EXPECT_EQ(version.status, 0) << describe(version);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("vintrel [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;
}

}  // namespace
}  // namespace vintrel::testing
