// How `vintrel get` reads a URL list and shares a long one out among
// controls of 100 files and 100 server starts each.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "apps/url_list.hpp"

namespace vintrel::apps {
namespace {

using Sizes = std::vector<std::size_t>;

std::vector<FileRequest> plain_files(std::size_t count) {
  return std::vector<FileRequest>(count, FileRequest{"http://h/f", {}});
}

TEST(UrlList, OneFileALineWithItsMirrorsSkippingBlanksAndComments) {
  std::istringstream in(
      "# downloads for today\n"
      "\n"
      "http://a/one.iso\thttp://b/one.iso  http://c/one.iso\r\n"
      "   \t\n"
      "  http://a/two.iso\n"
      "#http://a/skipped.iso\n"
      "http://a/three.iso");
  const auto files = read_url_list(in);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].url, "http://a/one.iso");
  EXPECT_EQ(files[0].mirrors, (std::vector<std::string>{"http://b/one.iso", "http://c/one.iso"}));
  EXPECT_EQ(files[1].url, "http://a/two.iso");
  EXPECT_TRUE(files[1].mirrors.empty());
  EXPECT_EQ(files[2].url, "http://a/three.iso");
}

TEST(UrlList, IndentedOptionLinesBelongToTheFileAboveThem) {
  const std::string sum = "sha-256=" + std::string(64, 'a');
  std::istringstream in(
      "http://a/one.iso http://b/one.iso\n"
      "  checksum=" +
      sum +
      "\r\n"
      "http://a/two.iso\n"
      "# a comment between a file and its option\n"
      "\tchecksum=MD5=" +
      std::string(32, 'F') +
      "\n"
      "  http://a/three.iso?x=1\n"
      "http://a/four.iso\n");
  const auto files = read_url_list(in);
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[0].mirrors, std::vector<std::string>{"http://b/one.iso"});
  EXPECT_EQ(files[0].checksum, sum);
  EXPECT_EQ(files[1].checksum, "MD5=" + std::string(32, 'F'));
  // An indented URL is a file, as it always was, even with a '=' in it.
  EXPECT_EQ(files[2].url, "http://a/three.iso?x=1");
  EXPECT_EQ(files[2].checksum, "");
  EXPECT_EQ(files[3].checksum, "");
}

TEST(UrlList, EmptyInputHasNoFiles) {
  std::istringstream in("\n# nothing\n");
  EXPECT_TRUE(read_url_list(in).empty());
}

TEST(Controls, AtMostAHundredFilesEach) {
  EXPECT_EQ(split_into_controls(plain_files(1)), Sizes{1});
  EXPECT_EQ(split_into_controls(plain_files(100)), Sizes{100});
  EXPECT_EQ(split_into_controls(plain_files(101)), (Sizes{100, 1}));
  EXPECT_EQ(split_into_controls(plain_files(250)), (Sizes{100, 100, 50}));
  EXPECT_TRUE(split_into_controls({}).empty());
}

TEST(Controls, MirrorsUseServerStartsAndAFirstFileWithMirrorsOneMore) {
  // 1 + 2 mirrors, first of its control: 4 starts; 96 plain files fit, the
  // 97th does not.
  auto files = plain_files(98);
  files[0].mirrors = {"http://m1/f", "http://m2/f"};
  EXPECT_EQ(split_into_controls(files), (Sizes{97, 1}));
  // The same file later in a control costs its three servers only.
  std::swap(files[0], files[1]);
  EXPECT_EQ(split_into_controls(files), (Sizes{98}));
  // A file whose servers do not fit behind others starts the next control.
  auto crowded = plain_files(60);
  crowded[50].mirrors = std::vector<std::string>(60, "http://m/f");
  EXPECT_EQ(split_into_controls(crowded), (Sizes{50, 10}));
}

}  // namespace
}  // namespace vintrel::apps
