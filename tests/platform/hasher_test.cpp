// Digests through the loaded module: each algorithm against its published
// test vectors, however its bytes are cut, and the part of a file on disk.

#include "platform/hasher.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/file_system.hpp"
#include "support/temp_folder.hpp"

namespace vintrel::platform {
namespace {

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

TEST(Hasher, ItsThreadAndTheFileReaderDigestEveryByteInOrder) {
  // Several of the thread's blocks and a part of one, in pieces that
  // straddle them; from disk, more than one read's worth.
  std::string bytes(1024 * 1024 + 3, '\0');
  for (std::size_t n = 0; n < bytes.size(); ++n) bytes[n] = static_cast<char>((n * 31) ^ (n >> 9));
  std::string why;
  auto reference = make_library_hasher(HashAlgorithm::sha256, why);
  ASSERT_TRUE(reference) << why;
  reference->update(bytes_of(bytes).first(bytes.size() - 5));
  const auto expected = reference->finish();
  TempFolder dir;
  write_file(dir.file("f"), bytes);
  for (const std::size_t piece : {std::size_t{0}, std::size_t{1000}, std::size_t{100 * 1024 + 1}}) {
    auto hasher = hasher_for(HashAlgorithm::sha256);
    ASSERT_TRUE(hasher);
    if (piece == 0) {
      EXPECT_EQ(hash_file_part(*hasher, dir.file("f"), std::int64_t{1024 * 1024 - 2}), 0);
    }
    for (std::size_t at = 0; piece > 0 && at < bytes.size() - 5; at += piece)
      hasher->update(bytes_of(std::string_view(bytes).substr(at, std::min(piece, bytes.size() - 5 - at))));
    EXPECT_EQ(hasher->finish(), expected) << piece;
  }
  // One dropped before it is finished lets its thread go.
  auto dropped = hasher_for(HashAlgorithm::sha256);
  ASSERT_TRUE(dropped);
  dropped->update(bytes_of(bytes));
  dropped.reset();
  // A file shorter than asked, or missing (and not made by asking).
  EXPECT_EQ(hash_file_part(*reference, dir.file("f"), std::int64_t{1024 * 1024 + 4}), EIO);
  EXPECT_EQ(hash_file_part(*reference, dir.file("missing"), 1), ENOENT);
  EXPECT_FALSE(file_exists(dir.file("missing")));
}

}  // namespace
}  // namespace vintrel::platform
