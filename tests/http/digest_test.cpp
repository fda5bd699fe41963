// Reading checksums: the user's ALGO=HEX, the servers' digest fields, and
// which of them describes the whole file in which answer.

#include <gtest/gtest.h>

#include <cctype>

#include "http/digest.hpp"
#include "support/grind.hpp"

namespace vintrel::http {
namespace {

// Digests of "abc", from the algorithms' published test vectors.
const std::string sha256_hex = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string sha256_b64 = "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=";
const std::string sha512_hex =
    "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e"
    "2a9ac94fa54ca49f";
const std::string sha512_b64 =
    "3a81oZNherrMQXNJriBBMRLm+k6JqX6iCp7u5ktV05ohkpkqJ0/BqDa6PCOj/uu9RU1EI2Q86A4qmslPpUyknw==";
const std::string md5_b64 = "kAFQmDzST7DWlj99KOF/cg==";

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// "sha-256=<hex>" of a parsed digest, or "none".
std::string shown(const std::optional<Digest>& digest) { return digest ? checksum_text(*digest) : "none"; }

TEST(Checksum, AlgoEqualsHexInAnyLetterCase) {
  const struct {
    std::string text;
    std::string read;
  } cases[] = {
      {"sha-256=" + sha256_hex, "sha-256=" + sha256_hex},
      {"SHA-256=" + upper(sha256_hex), "sha-256=" + sha256_hex},
      {"Sha-512=" + sha512_hex, "sha-512=" + sha512_hex},
      {"sha-1=a9993e364706816aba3e25717850c26c9cd0d89d", "sha-1=a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"MD5=900150983CD24FB0D6963F7D28E17F72", "md5=900150983cd24fb0d6963f7d28e17f72"},
  };
  for (const auto& [text, read] : cases) {
    std::string why;
    EXPECT_EQ(shown(parse_checksum(text, why)), read) << text;
    EXPECT_EQ(why, "") << text;
  }
}

TEST(Checksum, AnythingElseIsRefusedWithItsReason) {
  const struct {
    std::string text;
    std::string why;
  } cases[] = {
      {"", "expected ALGO=HEX, ALGO one of sha-256, sha-512, sha-1, md5"},
      {sha256_hex, "expected ALGO=HEX, ALGO one of sha-256, sha-512, sha-1, md5"},
      {"sha256=" + sha256_hex, "unknown algorithm \"sha256\" (sha-256, sha-512, sha-1 or md5)"},
      {" sha-256=" + sha256_hex, "unknown algorithm \" sha-256\" (sha-256, sha-512, sha-1 or md5)"},
      {"sha-256=", "sha-256 checksums have 64 hexadecimal digits, not 0"},
      {"sha-256=" + sha256_hex.substr(1), "sha-256 checksums have 64 hexadecimal digits, not 63"},
      {"sha-512=" + sha256_hex, "sha-512 checksums have 128 hexadecimal digits, not 64"},
      {"md5=" + sha256_hex.substr(0, 31) + "g", "\"" + sha256_hex.substr(0, 31) + "g\" is not hexadecimal"},
      {"sha-256==" + sha256_hex.substr(1), "\"=" + sha256_hex.substr(1) + "\" is not hexadecimal"},
  };
  for (const auto& [text, reason] : cases) {
    std::string why;
    EXPECT_EQ(parse_checksum(text, why), std::nullopt) << text;
    EXPECT_EQ(why, reason) << text;
  }
}

TEST(DigestFields, DictionariesGiveTheirStrongestUsableDigest) {
  const struct {
    std::string value;
    std::string read;
  } cases[] = {
      {"sha-256=:" + sha256_b64 + ":", "sha-256=" + sha256_hex},
      {"sha-256=:" + sha256_b64 + ":, sha-512=:" + sha512_b64 + ":", "sha-512=" + sha512_hex},
      // Padding left out; parameters, other algorithms and other kinds of
      // members passed over.
      {"sha-256=:" + sha256_b64.substr(0, 43) + ":", "sha-256=" + sha256_hex},
      {"md5=:" + md5_b64 + ":, sha-256=:" + sha256_b64 + ":;by=origin;v=1", "sha-256=" + sha256_hex},
      {"unixsum=30637, flag, list=(a \"b\" 1.5);q=?1, sha-256=:" + sha256_b64 + ":", "sha-256=" + sha256_hex},
      {"  sha-256=:" + sha256_b64 + ":\t,\tx=\"a,\\\"b\"  ", "sha-256=" + sha256_hex},
      // A key given twice counts as its last value.
      {"sha-256=:AAAA:, sha-256=:" + sha256_b64 + ":", "sha-256=" + sha256_hex},
      {"sha-256=:" + sha256_b64 + ":, sha-256=:AAAA:", "none"},
      // Nothing this code checks, or not of a digest's length.
      {"", "none"},
      {"md5=:" + md5_b64 + ":", "none"},
      {"sha-256=:" + md5_b64 + ":", "none"},
      {"sha-256=\"" + sha256_b64 + "\"", "none"},
      // Not a dictionary at all: the whole field is ignored.
      {"SHA-256=:" + sha256_b64 + ":", "none"},
      {"sha-256=:" + sha256_b64, "none"},
      {"sha-256=:" + sha256_b64 + "!:", "none"},
      {"sha-256=:" + sha256_b64.substr(0, 41) + "=:", "none"},
      {"sha-256=:" + sha256_b64 + ": sha-512=:" + sha512_b64 + ":", "none"},
      {"x=\"unterminated, sha-256=:" + sha256_b64 + ":", "none"},
      {"x=1234567890123456, sha-256=:" + sha256_b64 + ":", "none"},
      {"x=\"\x01\", sha-256=:" + sha256_b64 + ":", "none"},
  };
  for (const auto& [value, read] : cases) EXPECT_EQ(shown(parse_digest_dictionary(value)), read) << value;
}

TEST(DigestFields, InstanceDigestsPassOverWhatTheyCannotRead) {
  const struct {
    std::string value;
    std::string read;
  } cases[] = {
      {"SHA-256=" + sha256_b64, "sha-256=" + sha256_hex},
      {"MD5=" + md5_b64 + ", SHA-256=" + sha256_b64 + ", SHA-512=" + sha512_b64, "sha-512=" + sha512_hex},
      {"SHA-512=not*base64, SHA-256=" + sha256_b64, "sha-256=" + sha256_hex},
      {"SHA-512=" + sha256_b64 + ",SHA-256 = " + sha256_b64, "sha-256=" + sha256_hex},
      {"MD5=" + md5_b64, "none"},
      {"SHA-256", "none"},
      {"", "none"},
  };
  for (const auto& [value, read] : cases) EXPECT_EQ(shown(parse_instance_digest(value)), read) << value;
}

// Whatever is cut off or broken in a checksum or a digest field, a digest
// read from it has its algorithm's length: the file's own digest is never
// compared with a shorter or longer one.
TEST(DigestFields, CutOrBrokenValuesGiveNoDigestOrAWholeOne) {
  const auto none = [](const std::optional<Digest>& digest) { return !digest; };
  const auto fault = [](const std::optional<Digest>& digest) -> std::optional<std::string> {
    if (digest && digest->value.size() != digest_length(digest->algorithm)) return "a digest of the wrong length";
    return std::nullopt;
  };
  const auto checksum = [](std::string_view text) {
    std::string why;
    auto digest = parse_checksum(text, why);
    EXPECT_EQ(digest.has_value(), why.empty()) << text;
    return digest;
  };
  const std::string dictionary = "md5=:" + md5_b64 + ":;v=1, x=\"a,b\", sha-256=:" + sha256_b64 + ":";
  EXPECT_EQ(testing::failgrind(dictionary, parse_digest_dictionary, none, fault), std::nullopt);
  EXPECT_EQ(testing::failgrind("MD5=" + md5_b64 + ", SHA-256=" + sha256_b64, parse_instance_digest, none, fault),
            std::nullopt);
  EXPECT_EQ(testing::failgrind("sha-256=" + sha256_hex, checksum, none, fault), std::nullopt);
}

TEST(DigestFields, OnlyFieldsThatCoverTheWholeFileCount) {
  const std::string repr = "Repr-Digest: sha-256=:" + sha256_b64 + ":\r\n";
  const std::string content = "Content-Digest: sha-512=:" + sha512_b64 + ":\r\n";
  const std::string digest = "Digest: SHA-512=" + sha512_b64 + "\r\n";
  const struct {
    std::string head;
    std::string field;  // "" for none
    std::string read;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\n" + repr + content + digest, "Repr-Digest", "sha-256=" + sha256_hex},
      {"HTTP/1.1 206 Partial Content\r\n" + content + repr, "Repr-Digest", "sha-256=" + sha256_hex},
      {"HTTP/1.1 200 OK\r\n" + content + digest, "Content-Digest", "sha-512=" + sha512_hex},
      {"HTTP/1.1 200 OK\r\ncontent-digest: sha-512=:" + sha512_b64 + ":\r\nContent-Encoding: identity\r\n",
       "Content-Digest", "sha-512=" + sha512_hex},
      // Content-Digest covers this message's content only: a part of the
      // file, or its coded form.
      {"HTTP/1.1 206 Partial Content\r\n" + content, "", ""},
      {"HTTP/1.1 200 OK\r\n" + content + "Content-Encoding: gzip\r\n", "", ""},
      {"HTTP/1.1 200 OK\r\n" + content + "Content-Encoding: identity, br\r\n" + digest, "Digest",
       "sha-512=" + sha512_hex},
      {"HTTP/1.1 206 Partial Content\r\n" + digest, "Digest", "sha-512=" + sha512_hex},
      // A field that cannot be read gives way to the next.
      {"HTTP/1.1 200 OK\r\nRepr-Digest: sha-256=broken\r\n" + digest, "Digest", "sha-512=" + sha512_hex},
      // One field over two lines is one list.
      {"HTTP/1.1 200 OK\r\nRepr-Digest: md5=:" + md5_b64 + ":\r\nX: y\r\n" + repr, "Repr-Digest",
       "sha-256=" + sha256_hex},
      {"HTTP/1.1 404 Not Found\r\n" + repr, "", ""},
      {"HTTP/1.1 304 Not Modified\r\n" + digest, "", ""},
      {"HTTP/1.1 200 OK\r\nServer: x\r\n", "", ""},
  };
  for (const auto& [head, field, read] : cases) {
    const auto found = whole_file_digest(read_response_head(head.substr(0, head.size() - 2)));
    EXPECT_EQ(found ? found->field : "", field) << head;
    EXPECT_EQ(found ? checksum_text(found->digest) : "", read) << head;
  }
}

}  // namespace
}  // namespace vintrel::http
