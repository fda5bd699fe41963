// Digests through the loaded module: each algorithm against its published
// test vectors, however its bytes are cut, and the part of a file on disk.

#include "platform/hasher.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/file_rename.hpp"
#include "platform/file_system.hpp"
#include "support/temp_folder.hpp"

namespace vintrel::platform {
namespace {

using testing::read_file;
using testing::TempFolder;
using testing::write_file;

std::span<const std::uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  char two[3];
  for (const auto b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

std::unique_ptr<Hasher> hasher_for(HashAlgorithm algorithm) {
  std::string why;
  auto hasher = make_hasher(algorithm, why);
  EXPECT_TRUE(hasher) << why;
  return hasher;
}

// FIPS 180 and RFC 1321 vectors: "abc", and the 448-bit message.
const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const struct Vector {
  HashAlgorithm algorithm;
  std::string input;
  std::string digest;
} vectors[] = {
    {HashAlgorithm::md5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
    {HashAlgorithm::md5, "", "d41d8cd98f00b204e9800998ecf8427e"},
    {HashAlgorithm::sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {HashAlgorithm::sha1, two_blocks, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {HashAlgorithm::sha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {HashAlgorithm::sha256, two_blocks, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {HashAlgorithm::sha512, "abc",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e"
     "2a9ac94fa54ca49f"},
};

TEST(Hasher, EachAlgorithmGivesItsVectorsWholeAndInPieces) {
  for (const auto& [algorithm, input, digest] : vectors) {
    for (std::size_t piece : {std::size_t{0}, std::size_t{1}, std::size_t{7}}) {
      auto hasher = hasher_for(algorithm);
      ASSERT_TRUE(hasher);
      const std::string_view text = input;
      const std::size_t step = piece == 0 ? std::max<std::size_t>(text.size(), 1) : piece;
      for (std::size_t at = 0; at < text.size(); at += step) hasher->update(bytes_of(text.substr(at, step)));
      hasher->update({});
      EXPECT_EQ(hex(hasher->finish()), digest) << input << " in pieces of " << piece;
    }
  }
}

TEST(Hasher, PartOfAFileOnDiskIsReadIntoTheDigest) {
  TempFolder dir;
  const std::string path = dir.file("part.bin");
  // More than one read's worth, so the pieces are joined right.
  std::string big(600 * 1024, '\0');
  for (std::size_t n = 0; n < big.size(); ++n) big[n] = static_cast<char>(n * 7 + n / 1000);
  const struct {
    std::string content;
    std::int64_t length;
    std::string expected;  // the digest of the first `length` bytes
  } cases[] = {
      {two_blocks + "tail", static_cast<std::int64_t>(two_blocks.size()),
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abc", 0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
  };
  for (const auto& [content, length, expected] : cases) {
    write_file(path, content);
    auto hasher = hasher_for(HashAlgorithm::sha256);
    ASSERT_TRUE(hasher);
    EXPECT_EQ(hash_file_part(*hasher, path, length), 0);
    EXPECT_EQ(hex(hasher->finish()), expected);
  }
  // The same bytes fed straight give the same digest as read from disk.
  write_file(path, big);
  auto from_disk = hasher_for(HashAlgorithm::sha512);
  std::string why;
  auto fed = make_library_hasher(HashAlgorithm::sha512, why);
  ASSERT_TRUE(from_disk && fed);
  EXPECT_EQ(hash_file_part(*from_disk, path, static_cast<std::int64_t>(big.size()) - 5), 0);
  fed->update(bytes_of(big).first(big.size() - 5));
  EXPECT_EQ(from_disk->finish(), fed->finish());
}

TEST(Hasher, ItsThreadDigestsEveryByteInOrderHoweverTheyAreCut) {
  // Several blocks and a part of one, fed in pieces that straddle blocks.
  std::string bytes(1024 * 1024 + 3, '\0');
  for (std::size_t n = 0; n < bytes.size(); ++n) bytes[n] = static_cast<char>((n * 31) ^ (n >> 9));
  std::string why;
  auto reference = make_library_hasher(HashAlgorithm::sha256, why);
  ASSERT_TRUE(reference) << why;
  reference->update(bytes_of(bytes));
  const auto expected = reference->finish();
  for (const std::size_t piece : {std::size_t{1000}, std::size_t{100 * 1024 + 1}, bytes.size()}) {
    auto hasher = hasher_for(HashAlgorithm::sha256);
    ASSERT_TRUE(hasher);
    for (std::size_t at = 0; at < bytes.size(); at += piece)
      hasher->update(bytes_of(std::string_view(bytes).substr(at, piece)));
    EXPECT_EQ(hasher->finish(), expected) << piece;
  }
  // One dropped before it is finished lets its thread go.
  auto dropped = hasher_for(HashAlgorithm::sha256);
  ASSERT_TRUE(dropped);
  dropped->update(bytes_of(bytes));
  dropped.reset();
}

TEST(Hasher, FilesShorterThanAskedOrMissingFailWithoutBeingMade) {
  TempFolder dir;
  const std::string path = dir.file("short.bin");
  write_file(path, "abc");
  auto hasher = hasher_for(HashAlgorithm::md5);
  ASSERT_TRUE(hasher);
  EXPECT_EQ(hash_file_part(*hasher, path, 4), EIO);
  EXPECT_EQ(hash_file_part(*hasher, dir.file("missing.bin"), 1), ENOENT);
  EXPECT_FALSE(file_exists(dir.file("missing.bin")));
}

TEST(FileRename, ReplacesTheTargetAndFailsForAMissingSource) {
  TempFolder dir;
  write_file(dir.file("a"), "new");
  write_file(dir.file("b"), "old");
  EXPECT_EQ(rename_file(dir.file("a"), dir.file("b")), 0);
  EXPECT_FALSE(file_exists(dir.file("a")));
  EXPECT_EQ(read_file(dir.file("b")), "new");
  EXPECT_EQ(rename_file(dir.file("a"), dir.file("c")), ENOENT);
}

}  // namespace
}  // namespace vintrel::platform
