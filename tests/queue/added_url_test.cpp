// How the queue start reads a URL handed to AddFile: the scheme, the server
// and its port text, the path and the last segment.

#include "queue/added_url.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "support/grind.hpp"

namespace vintrel::queue {
namespace {

TEST(AddedUrl, ReadsServerPortPathAndLastSegment) {
  struct Row {
    const char* url;
    bool tls;
    bool secure;
    const char* server;
    const char* port;
    const char* path;
    const char* last;
  };
  const Row rows[] = {
      {"http://example.org/dir/a.bin?x=1", true, false, "example.org", "80", "/dir/a.bin?x=1", "a.bin?x=1"},
      {"example.org:8080/a", true, false, "example.org", "8080", "/a", "a"},
      {"HTTPS://example.org/a", true, true, "example.org", "443", "/a", "a"},
      {"https://[::1]:8443/a", true, true, "::1", "8443", "/a", "a"},
      {"http://[::1]/a", true, false, "::1", "80", "/a", "a"},
      // Only a leading scheme goes; another one is the path's or query's.
      {"http://h/x?u=http://b/y", true, false, "h", "80", "/x?u=http://b/y", "y"},
      // Without TLS an https URL keeps its old reading: "https:" is the
      // server and its empty port fails the queue start.
      {"https://example.org/a", false, false, "https", "", "//example.org/a", "a"},
      // "HTTP://" is not the scheme the control strips.
      {"HTTP://h/a", true, false, "HTTP", "", "//h/a", "a"},
      // Neither can give a port: the queue start fails them.
      {"http://[::1/a", true, false, "[::1", "", "/a", "a"},
      {"http://[::1]x/a", true, false, "[::1]x", "", "/a", "a"},
      {"http://h:/a", true, false, "h", "", "/a", "a"},
  };
  for (const Row& row : rows) {
    const AddedUrl got = split_added_url(row.url, row.tls);
    EXPECT_TRUE(got.hasServer) << row.url;
    EXPECT_EQ(got.secure, row.secure) << row.url;
    EXPECT_EQ(got.servName, row.server) << row.url;
    EXPECT_EQ(got.portText, row.port) << row.url;
    EXPECT_EQ(got.remotePath, row.path) << row.url;
    EXPECT_EQ(got.lastSegment, row.last) << row.url;
  }
  EXPECT_FALSE(split_added_url("", true).hasServer);
}

// Whatever is cut off or broken in an added URL, its pieces still fit
// together: the path from its "/" on, the last segment the path's end, and
// no "/" inside the server.
TEST(AddedUrl, CutOrBrokenUrlsStillSplitIntoFittingPieces) {
  const auto split = [](std::string_view url) {
    const AddedUrl got = split_added_url(std::string(url), true);
    return std::make_tuple(got.hasServer, got.secure, got.servName, got.portText, got.remotePath, got.lastSegment);
  };
  const auto never = [](const auto&) { return false; };
  const auto fault = [](const auto& pieces) -> std::optional<std::string> {
    const std::string& server = std::get<2>(pieces);
    const std::string& path = std::get<4>(pieces);
    const std::string& last = std::get<5>(pieces);
    if (server.find('/') != std::string::npos) return "a server holding a slash: " + server;
    if (!path.empty() && path.front() != '/') return "a path without its slash: " + path;
    if (!path.empty() && !std::string_view(path).ends_with(last)) return "a last segment not of the path: " + last;
    return std::nullopt;
  };
  for (const std::string_view url : {"http://example.org:8080/dir/a.bin?x=1", "https://[::1]:8443/a/b", "h/x"})
    EXPECT_EQ(testing::failgrind(url, split, never, fault), std::nullopt) << url;
}

}  // namespace
}  // namespace vintrel::queue
