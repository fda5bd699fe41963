// `vintrel get` as users run it: the built program in a child process,
// fetching from real nginx servers on loopback; what it prints, and its usage.

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
#include "support/control_bytes.hpp"
#include "terminal_lines.hpp"

namespace vintrel::testing {
namespace {

using namespace get_program_rig;

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

  const ProgramRun run = run_program(get({"-j", "1", "-d", folder.path().string(), server.url("/a.bin"),
                                          server.url("/gone.bin"), server.url("/b.bin")}),
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

TEST(GetProgram, BadUsageExitsWith2AndShowsTheUsage) {
  const std::vector<std::vector<std::string>> mistakes{
      {},
      {"get"},
      {"fetch", "http://127.0.0.1/a"},
      {"get", "--no-such-option", "http://127.0.0.1/a"},
      {"get", "--tries", "0", "http://127.0.0.1/a"},
      {"get", "--tries", "many", "http://127.0.0.1/a"},
      {"get", "http://127.0.0.1:/a"},
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

// Whatever would reach a request with a control byte in it is a usage
// error, told without echoing the byte; each byte is tried in one place in
// turn (an argument cannot hold a NUL, an input file can).
TEST(GetProgram, ControlBytesInAddressesCookieOrRefererAreUsageErrors) {
  TempFolder folder;
  const std::string list = folder.file("list.txt");
  int turn = 0;
  for (const std::string& byte : control_bytes()) {
    const std::string bad = "http://127.0.0.1/a" + byte + "b";
    const int place = byte == std::string(1, '\0') ? 4 : turn++ % 5;
    std::vector<std::string> arguments{VINTREL_PROGRAM, "get", "-d", folder.path().string()};
    if (place == 0) arguments.insert(arguments.end(), {bad});
    if (place == 1) arguments.insert(arguments.end(), {"http://127.0.0.1/a", "-m", bad});
    if (place == 2) arguments.insert(arguments.end(), {"--cookie", "s=1" + byte + "X: 1", "http://127.0.0.1/a"});
    if (place == 3) arguments.insert(arguments.end(), {"--referer", "http://p/" + byte, "http://127.0.0.1/a"});
    if (place == 4) {
      write_file(list, "http://127.0.0.1/ok\n" + bad + "\n");
      arguments.insert(arguments.end(), {"-i", list});
    }
    const ProgramRun run = run_program(arguments, {}, 10s);
    EXPECT_EQ(run.status, 2) << control_name(byte) << " in place " << place << "\n" << describe(run);
    EXPECT_NE(run.err.find("Usage:"), std::string::npos) << describe(run);
    if (byte != "\n") {
      EXPECT_EQ(run.err.find(byte), std::string::npos) << control_name(byte) << " echoed";
    }
    EXPECT_EQ(run.out, "");
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
