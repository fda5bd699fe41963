// `vintrel get --limit-rate`: rates as curl writes them, the cap held over a
// whole run shared by the files under way, and `vintrel host` lifting it
// mid-transfer.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "apps/network_options.hpp"
#include "get_runs.hpp"

namespace vintrel::testing {
namespace {

using namespace std::chrono_literals;

TEST(GetRate, RatesAreWrittenAsCurlWritesThem) {
  const std::vector<std::pair<std::string, std::int32_t>> taken = {
      {"0", 0},
      {"1", 1},
      {"500k", 512000},
      {"500K", 512000},
      {"2M", 2097152},
      {"1.5m", 1572864},
      {".5k", 512},
      {"1G", 1073741824},
      {"0.0001k", 1},  // a fraction of a byte still caps, rounded up
      {"2047M", 2146435072},
  };
  for (const auto& [text, rate] : taken) {
    std::string why;
    EXPECT_EQ(apps::parse_rate(text, why), rate) << text << ": " << why;
  }
  for (const std::string text : {"", "k", "1.2.3", ".", "-1", "1 M", "1MB", "1T", "2G", "1e6", "0x10"}) {
    std::string why;
    EXPECT_EQ(apps::parse_rate(text, why), std::nullopt) << text;
    EXPECT_NE(why.find('"' + text + '"'), std::string::npos) << why;
  }
}

// Two files at once share the cap: together they come no faster than it
// (under load a run may only be slower, so the lower bound is loose: the
// cap must not starve them).
TEST(GetRate, TheCapHoldsOverTheWholeRunSharedByTheFilesUnderWay) {
  REQUIRE_NGINX();
  NginxServer server;
  const std::string first = serve(server, "a.bin", 6 * MiB, 7);
  const std::string second = serve(server, "b.bin", 4 * MiB, 8);
  server.start();
  TempFolder folder;
  // Timed from outside: nginx is done once the kernel's buffers hold the
  // rest, megabytes before the program has read it.
  const auto start = std::chrono::steady_clock::now();
  const ProgramRun run = run_program(get({"-q", "-j", "2", "--limit-rate", "1M", "-d", folder.path().string(),
                                          server.url("/a.bin"), server.url("/b.bin")}),
                                     {}, 60s);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_TRUE(holds(folder.file("a.bin"), first));
  EXPECT_TRUE(holds(folder.file("b.bin"), second));
  const double rate = static_cast<double>(10 * MiB) / took.count() / MiB;
  EXPECT_LE(rate, 1.1) << "MiB/s over " << took.count() << " s";
  EXPECT_GE(rate, 0.5) << "MiB/s over " << took.count() << " s";
}

TEST(GetRate, HostLiftsTheCapMidTransfer) {
  REQUIRE_NGINX();
  NginxServer server;
  const std::string body = serve(server, "big.bin", 16 * MiB, 9);
  server.start();
  TempFolder folder;
  ChildProcess::Options options;
  options.input_pipe = true;
  ChildProcess host({VINTREL_PROGRAM, "host", "--eager", "--limit-rate", "64k", "-d", folder.path().string()}, options);
  const auto send = [&](const nlohmann::json& request) { host.write_input(request.dump() + "\n"); };
  send({{"id", 1}, {"op", "call"}, {"name", "AddFile"}, {"args", {server.url("/big.bin")}}});
  send({{"id", 2}, {"op", "call"}, {"name", "StartQueue"}});
  // Capped, the file would take over four minutes.
  ASSERT_TRUE(host.wait_until([&] { return host.out().find("\"Downloading\"") != std::string::npos; }, 20s))
      << host.out() << host.err();
  send({{"id", 3}, {"op", "get"}, {"name", "maxRate"}});
  send({{"id", 4}, {"op", "put"}, {"name", "maxRate"}, {"value", 0}});
  ASSERT_TRUE(host.wait_until([&] { return host.out().find("OnFileComplete") != std::string::npos; }, 60s))
      << host.out() << host.err();
  EXPECT_NE(host.out().find(R"({"id":3,"result":65536})"), std::string::npos) << host.out();
  EXPECT_TRUE(holds(folder.file("big.bin"), body));
}

}  // namespace
}  // namespace vintrel::testing
