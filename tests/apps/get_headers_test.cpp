// `vintrel get --user-agent/--header`: the lines as servers receive them,
// in file requests and probes alike, and the lines refused before anything
// is sent.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "get_runs.hpp"
#include "support/hostile_server.hpp"
#include "support/temp_folder.hpp"

namespace vintrel::testing {
namespace {

const std::string added = "User-Agent: fetch/2.1 (tests)\r\nX-Trace: 42\r\nAccept-Language: en\r\n";

// The mirror makes the control probe both servers before fetching: each
// server sees at least its probe, and one of them the file request.
TEST(GetHeaders, AddedLinesFollowTheControlsOwnInRequestsAndProbes) {
  const Script answer = Script().send(http_response(200, "OK", {{"Content-Length", "5"}}, "hello")).close();
  HostileServer first({answer});
  HostileServer second({answer});
  TempFolder folder;
  const auto url = [](const HostileServer& s) { return "http://127.0.0.1:" + std::to_string(s.port()) + "/f.txt"; };
  const ProgramRun run =
      run_program(get({"-d", folder.path().string(), "--user-agent", "fetch/2.1 (tests)", "-H", "X-Trace: 42",
                       "--header", "Accept-Language:  en ", url(first), "-m", url(second)}));

  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_EQ(read_file(folder.file("f.txt")), "hello");
  int probes = 0;
  int files = 0;
  // A probe carries no page address, the file request always does.
  const auto probe = [](const std::string& host) {
    return "GET /f.txt HTTP/1.1\r\n" + host + "Connection: close\r\nAccept: */*\r\n" + added + "\r\n";
  };
  const auto file = [](const std::string& host) {
    return "GET /f.txt HTTP/1.1\r\nReferer: \r\n" + host + "Connection: close\r\nAccept: */*\r\nCookie: \r\n" + added +
           "\r\n";
  };
  for (const HostileServer* server : {&first, &second}) {
    const std::string host = "Host: 127.0.0.1:" + std::to_string(server->port()) + "\r\n";
    for (const std::string& request : server->requests()) {
      const bool is_probe = request.find("Referer:") == std::string::npos;
      ++(is_probe ? probes : files);
      EXPECT_EQ(request, is_probe ? probe(host) : file(host));
    }
  }
  EXPECT_GE(probes, 2) << describe(run);
  EXPECT_EQ(files, 1) << describe(run);
}

// Refused on the command line: nothing reaches the server, nothing is
// saved, and a control byte is not echoed.
TEST(GetHeaders, BadOrReservedLinesAreUsageErrors) {
  HostileServer server({Script().send(http_response(200, "OK", {{"Content-Length", "1"}}, "x")).close()});
  TempFolder folder;
  const std::string target = "http://127.0.0.1:" + std::to_string(server.port()) + "/f.txt";
  const std::vector<std::vector<std::string>> refused{
      {"--header", "X-A: 1\r\nX-B: 2"},
      {"-H", "X-A: 1\nHost: x"},
      {"-H", "X-A: \x01"},
      {"--user-agent", "me\r\nX-B: 1"},
      {"--user-agent", "me\x7F"},
      {"-H", "no colon"},
      {"-H", "X A: 1"},
      {"-H", ": 1"},
      {"-H", "Host: other"},
      {"-H", "range: bytes=0-"},
      {"-H", "Connection: keep-alive"},
      {"-H", "IF-RANGE: x"},
      {"-H", "User-Agent: x"},
      {"-H", "Content-Length: 3"},
  };
  for (const auto& words : refused) {
    std::vector<std::string> arguments{"-d", folder.path().string()};
    arguments.insert(arguments.end(), words.begin(), words.end());
    arguments.push_back(target);
    const ProgramRun run = run_program(get(arguments));
    EXPECT_EQ(run.status, 2) << words[1] << "\n" << describe(run);
    EXPECT_NE(run.err.find(words[0]), std::string::npos) << describe(run);
    EXPECT_EQ(run.err.find('\r'), std::string::npos) << describe(run);
    EXPECT_EQ(run.out, "");
  }
  EXPECT_TRUE(server.requests().empty());
}

}  // namespace
}  // namespace vintrel::testing
