// `vintrel get` against Apache, which builds its absolute redirections from
// the Host field it was sent: without the port in it a chain of them leads
// to port 80, where another server, or none, answers.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "get_runs.hpp"
#include "support/apache_server.hpp"

namespace vintrel::testing {
namespace {

using namespace std::chrono_literals;

TEST(GetRedirections, AChainThroughApacheStaysOnThePortAndEncodedPathsReachTheirFiles) {
  if (!ApacheServer::available()) GTEST_SKIP() << ApacheServer::why_unavailable();
  ApacheServer server({"Redirect 301 /one.bin /two.bin", "Redirect 302 /two.bin /dir/three.bin",
                       "Redirect 307 /dir/three.bin /files/final.bin"});
  std::filesystem::create_directories(server.file("files"));
  make_file(server.file("files/final.bin"), 100 * KiB + 7, 21);
  make_file(server.file("files/caf\xC3\xA9 x.bin"), 3 * KiB, 22);
  TempFolder folder;

  const ProgramRun run = run_program(get({"-j", "1", "--tries", "2", "-d", folder.path().string(),
                                          server.url("/one.bin"), server.url("/files/caf\xC3\xA9 x.bin")}));

  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_TRUE(holds(folder.file("final.bin"), read_file(server.file("files/final.bin"))));
  // The request line carries the name encoded; the local file keeps it.
  EXPECT_TRUE(holds(folder.file("caf\xC3\xA9 x.bin"), read_file(server.file("files/caf\xC3\xA9 x.bin"))));
  const std::string host = "\t127.0.0.1:" + std::to_string(server.port());
  EXPECT_EQ(server.access_log(5), (std::vector<std::string>{
                                      "GET /one.bin HTTP/1.1\t301" + host,
                                      "GET /two.bin HTTP/1.1\t302" + host,
                                      "GET /dir/three.bin HTTP/1.1\t307" + host,
                                      "GET /files/final.bin HTTP/1.1\t200" + host,
                                      "GET /files/caf%C3%A9%20x.bin HTTP/1.1\t200" + host,
                                  }));
}

}  // namespace
}  // namespace vintrel::testing
