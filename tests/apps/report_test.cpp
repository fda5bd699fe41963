// What `vintrel get` prints, piece by piece: sizes and times in the units a
// user reads, a progress line that never outgrows the terminal, status
// repeats dropped, failures kept apart on standard error, quiet mode quiet.

#include "apps/report.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "apps/download_url.hpp"
#include "terminal_lines.hpp"

namespace vintrel::apps {
namespace {

using testing::lines_kept;

TEST(Format, BytesSwitchUnitsAtWhole1024s) {
  EXPECT_EQ(format_bytes(0), "0 B");
  EXPECT_EQ(format_bytes(1023), "1023 B");
  EXPECT_EQ(format_bytes(1024), "1.0 KiB");
  EXPECT_EQ(format_bytes(1536), "1.5 KiB");
  // Never "1024.0 KiB": the next unit takes over where rounding would say so.
  EXPECT_EQ(format_bytes(1048575), "1.0 MiB");
  EXPECT_EQ(format_bytes(4.0 * 1024 * 1024), "4.0 MiB");
  EXPECT_EQ(format_bytes(3.0 * 1024 * 1024 * 1024), "3.0 GiB");
  EXPECT_EQ(format_bytes(-5), "0 B");
}

TEST(Format, DurationsAsHoursMinutesSecondsOrUnknown) {
  EXPECT_EQ(format_duration(0), "0:00:00");
  EXPECT_EQ(format_duration(59.6), "0:01:00");
  EXPECT_EQ(format_duration(3661), "1:01:01");
  EXPECT_EQ(format_duration(100 * 3600 + 5), "100:00:05");
  EXPECT_EQ(format_duration(-1), "--:--:--");
  EXPECT_EQ(format_duration(std::numeric_limits<double>::quiet_NaN()), "--:--:--");
}

Progress sample() {
  Progress p;
  p.file = 2;
  p.files = 3;
  p.name = "debian-12.5.0-amd64-netinst.iso";
  p.done = 1.5 * 1024 * 1024;
  p.size = 6.0 * 1024 * 1024;
  p.percent = 25;
  p.rate = 512;
  p.remaining = 9;
  return p;
}

TEST(ProgressLine, ShowsEveryPartWhenThereIsRoom) {
  const std::string line = progress_line(sample(), 120);
  EXPECT_EQ(line,
            "[2/3] debian-12.5.0-amd64-netinst.iso  25% [#####...............] 1.5 MiB / 6.0 MiB  512 KB/s  0:00:09");
}

TEST(ProgressLine, NeverReachesTheLastColumn) {
  Progress p = sample();
  p.name = std::string(300, 'n');
  for (const int columns : {20, 40, 60, 80, 100, 200}) {
    const std::string line = progress_line(p, columns);
    EXPECT_LT(line.size(), static_cast<std::size_t>(columns)) << columns;
    EXPECT_EQ(line.rfind("[2/3] ", 0), 0u) << line;
  }
  // A long name gives way first, then the bar; the numbers stay.
  const std::string shortened = progress_line(p, 100);
  EXPECT_NE(shortened.find("n...  25% [#####"), std::string::npos) << shortened;
  const std::string narrow = progress_line(sample(), 60);
  EXPECT_EQ(narrow.find('#'), std::string::npos) << narrow;
  EXPECT_NE(narrow.find("25%"), std::string::npos) << narrow;
  EXPECT_NE(narrow.find("512 KB/s"), std::string::npos) << narrow;
}

TEST(ProgressLine, UnknownSizeAndStalledRateShowNoGuesses) {
  Progress p = sample();
  p.size = 0;
  p.percent = 0;
  p.remaining = -40;  // what the control computes against a size of 0
  const std::string unknown = progress_line(p, 120);
  EXPECT_NE(unknown.find("--% [....................] 1.5 MiB / ?"), std::string::npos) << unknown;
  EXPECT_NE(unknown.find("--:--:--"), std::string::npos) << unknown;

  p = sample();
  p.rate = 0;  // the control keeps an old estimate while the rate is 0
  EXPECT_NE(progress_line(p, 120).find("0 KB/s  --:--:--"), std::string::npos);

  p = sample();
  p.percent = 140;  // the control reports more than 100 when a file outgrows its size
  p.done = 1.4 * p.size;
  const std::string over = progress_line(p, 120);
  EXPECT_NE(over.find("140% [####################]"), std::string::npos) << over;
}

TEST(Summary, CountsBytesTimeAndAverageRate) {
  EXPECT_EQ(summary_line({2, 1, 0, 8.0 * 1024 * 1024, 2.0}),
            "Summary: 2 done, 1 failed; 8.0 MiB received in 0:00:02 (4096 KB/s)");
  EXPECT_EQ(summary_line({0, 0, 3, 0, 0}),
            "Summary: 0 done, 0 failed, 3 not finished; 0 B received in 0:00:00 (0 KB/s)");
}

TEST(Report, PlainLinesDropRepeatedStatusesAndSendFailuresToStandardError) {
  std::ostringstream out, err;
  Report report(OutputMode::plain, out, err);
  report.file_started(1, 2, "http://h/a");
  for (const char* text :
       {"Locating File", "Downloading", "Downloading", "Downloading", "Completed Downloading a File"})
    report.status(1, 2, text);
  report.progress(sample());  // nothing to redraw when not on a terminal
  report.file_done(1, 2, "/d/a", 2048, 2048, 0.5);
  report.file_started(2, 2, "http://h/b");
  // A new file starts afresh: its first status shows even when the last
  // file's last status was the same.
  report.status(2, 2, "Locating File");
  report.retrying(2, 2, 3, 20, "Connection refused");
  report.status(2, 2, "File Not Found");
  report.file_failed(2, 2, "404 Not Found");
  EXPECT_EQ(out.str(),
            "[1/2] http://h/a\n[1/2] Locating File\n[1/2] Downloading\n[1/2] Completed Downloading a File\n"
            "[1/2] saved /d/a (2.0 KiB, 2048 bytes) in 0.50 s, 4 KB/s\n[2/2] http://h/b\n[2/2] Locating File\n"
            "[2/2] Waiting for a connection (try 3 of 20): Connection refused\n[2/2] File Not Found\n");
  EXPECT_EQ(err.str(), "[2/2] failed: 404 Not Found\n");
}

TEST(Report, TerminalKeepsOneLinePerFileWithStatusesInsideTheLiveLine) {
  std::ostringstream out, err;
  Report report(OutputMode::terminal, out, err, 100);
  report.file_started(1, 2, "http://h/a.bin");
  report.status(1, 2, "Locating File");
  EXPECT_EQ(lines_kept(out.str()), std::vector<std::string>{"[1/2] http://h/a.bin: Locating File <live>"});
  report.retrying(1, 2, 3, 20, "Connection refused");
  EXPECT_EQ(lines_kept(out.str()),
            std::vector<std::string>{
                "[1/2] http://h/a.bin: Waiting for a connection (try 3 of 20): Connection refused <live>"});
  report.status(1, 2, "Locating File");
  Progress p = sample();
  p.file = 1;
  p.files = 2;
  p.name = "a.bin";
  report.progress(p);  // still locating: the status, not the figures
  EXPECT_EQ(lines_kept(out.str()), std::vector<std::string>{"[1/2] a.bin: Locating File <live>"});
  report.status(1, 2, "Downloading");
  report.progress(p);
  EXPECT_NE(lines_kept(out.str()).back().find("a.bin  25% [#####"), std::string::npos) << out.str();
  report.status(1, 2, "Completed Downloading a File");
  report.file_done(1, 2, "/d/a.bin", 4096, 1024, 0.0001);
  report.file_started(2, 2, "http://h/b");
  report.status(2, 2, "File Not Found");
  report.file_failed(2, 2, "404 Not Found");
  report.summary({1, 1, 0, 1024, 1});
  EXPECT_EQ(lines_kept(out.str()), (std::vector<std::string>{"[1/2] saved /d/a.bin (4.0 KiB, 4096 bytes) in 0.00 s",
                                                             summary_line({1, 1, 0, 1024, 1})}));
  EXPECT_EQ(err.str(), "[2/2] failed: 404 Not Found\n");
}

TEST(Report, QuietPrintsOnlyFailuresAndTheSummary) {
  std::ostringstream out, err;
  Report report(OutputMode::quiet, out, err);
  report.file_started(1, 1, "http://h/a");
  report.status(1, 1, "Downloading");
  report.retrying(1, 1, 1, 20, "Connection refused");
  report.file_done(1, 1, "/d/a", 10, 10, 1);
  report.file_failed(1, 1, "gone");
  report.summary({1, 1, 0, 10, 1});
  EXPECT_EQ(out.str(), summary_line({1, 1, 0, 10, 1}) + "\n");
  EXPECT_EQ(err.str(), "[1/1] failed: gone\n");
}

TEST(Report, TerminalPrintsOtherLinesAboveTheLiveLine) {
  std::ostringstream out, err;
  Report report(OutputMode::terminal, out, err, 120);
  const Progress p = sample();
  report.progress(p);
  report.error("something");
  report.progress(p);
  report.file_failed(2, 3, "gone");
  // An error leaves the drawing as it was; a failure wipes it for its line.
  EXPECT_EQ(lines_kept(out.str()), std::vector<std::string>{progress_line(p, 120)});
  EXPECT_EQ(err.str(), "vintrel: something\n[2/3] failed: gone\n");
}

TEST(ProgressLine, StatusReplacesTheFiguresUntilDownloading) {
  Progress p = sample();
  p.status = "Determining File Size";
  EXPECT_EQ(progress_line(p, 120), "[2/3] debian-12.5.0-amd64-netinst.iso: Determining File Size");
  const std::string narrow = progress_line(p, 40);
  EXPECT_LT(narrow.size(), 40u);
  EXPECT_NE(narrow.find("...: Determining File Size"), std::string::npos) << narrow;
  p.status = "Downloading";
  EXPECT_EQ(progress_line(p, 120), progress_line(sample(), 120));
}

TEST(DownloadUrl, AcceptsHttpAndHttpsFilesAndSaysWhyOthersAreRefused) {
  std::string why;
  const auto parts = parse_download_url("http://127.0.0.1:8080/dir/file.bin?x=1", why);
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->server, "127.0.0.1");
  EXPECT_EQ(parts->port, 8080);
  EXPECT_EQ(parts->path, "/dir/file.bin?x=1");
  EXPECT_EQ(parts->file_name, "file.bin");
  EXPECT_EQ(parse_download_url("http://example.org/a", why)->port, 80);

  const auto secure = parse_download_url("https://example.org:8443/a.bin", why);
  ASSERT_TRUE(secure);
  EXPECT_TRUE(secure->secure);
  EXPECT_EQ(secure->port, 8443);
  EXPECT_EQ(secure->host, "example.org:8443");
  EXPECT_EQ(parse_download_url("https://example.org/a", why)->port, 443);
  const auto v6 = parse_download_url("http://[::1]:8080/x", why);
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->server, "::1");
  EXPECT_EQ(v6->host, "[::1]:8080");

  // The scheme in any case, as the control takes it; the control is handed
  // it in lower case, without the fragment that never goes to a server.
  const auto capitals = parse_download_url("HTTPS://example.org/a.bin#part", why);
  ASSERT_TRUE(capitals);
  EXPECT_TRUE(capitals->secure);
  EXPECT_EQ(capitals->file_name, "a.bin");
  EXPECT_EQ(control_url("HTTP://Example.org/A#x"), "http://Example.org/A");

  for (const char* refused :
       {"https://h:0/a", "http://[::1]x/a", "http://::1/a", "http://h:/a", "ftp://x/a", "example.org/a", "http:///a",
        "http://h:0/a", "http://h:65536/a", "http://h:8x/a", "http://h", "http://h/", "http://h/dir/", "http://h/..",
        "http://user@h/a", "http://h?x/a"}) {
    why.clear();
    EXPECT_FALSE(parse_download_url(refused, why)) << refused;
    EXPECT_FALSE(why.empty()) << refused;
  }
}

}  // namespace
}  // namespace vintrel::apps
