// A file checked against its checksum, the user's or the server's: hashed
// as it is written (a resumed file from its first byte on disk), completed
// only when it matches, stopped and moved aside when it does not.

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <map>

#include "control/transfer/response_rig.hpp"
#include "support/control_harness.hpp"
#include "support/temp_folder.hpp"
#include "text/text.hpp"

namespace vintrel {
namespace {

using namespace response_rig;

std::vector<std::uint8_t> digest_of(const EVP_MD* md, const std::string& bytes) {
  std::vector<std::uint8_t> out(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), out.data(), &length, md, nullptr);
  out.resize(length);
  return out;
}

std::string hex_of(const std::vector<std::uint8_t>& digest) {
  return http::to_hex(std::span<const std::uint8_t>(digest));
}

std::string base64_of(const std::vector<std::uint8_t>& digest) {
  return text::base64_encode(std::string(digest.begin(), digest.end()));
}

// The file, another file, and their digests as the scenarios name them.
struct Digests {
  std::string body = content(1000);
  std::string other = content(1000, 'q');
  std::map<std::string, std::string> words{
      {"{sha256}", hex_of(digest_of(EVP_sha256(), body))},
      {"{md5}", hex_of(digest_of(EVP_md5(), body))},
      {"{wrong256}", hex_of(digest_of(EVP_sha256(), other))},
      {"{b64-256}", base64_of(digest_of(EVP_sha256(), body))},
      {"{b64-512}", base64_of(digest_of(EVP_sha512(), body))},
      {"{b64-wrong256}", base64_of(digest_of(EVP_sha256(), other))},
  };
  std::string expand(std::string text) const {
    for (const auto& [word, value] : words)
      for (auto at = text.find(word); at != std::string::npos; at = text.find(word))
        text.replace(at, word.size(), value);
    return text;
  }
};

const std::string mismatch = "Checksum mismatch: expected sha-256={wrong256}, got {sha256}";

TEST(Checksums, FilesAreCompletedOnlyWhenEveryGivenDigestMatches) {
  const Digests d;
  const struct {
    std::string checksum;  // the record's
    std::string fields;    // more head lines of the answers
    bool resumed;          // 300 bytes on disk, the rest answered 206
    std::string failure;   // the description; "" when the file completes
  } cases[] = {
      {"sha-256={sha256}", "", false, ""},
      {"md5={md5}", "", true, ""},
      {"sha-256={sha256}", "", true, ""},
      {"sha-256={wrong256}", "", false, mismatch},
      {"sha-256={wrong256}", "", true, mismatch},
      // The server's digest of the whole file.
      {"", "Repr-Digest: sha-256=:{b64-256}:\r\n", false, ""},
      {"", "Repr-Digest: sha-256=:{b64-wrong256}:\r\n", false, mismatch + " (the server's Repr-Digest)"},
      {"", "Repr-Digest: sha-256=:{b64-wrong256}:\r\n", true, mismatch + " (the server's Repr-Digest)"},
      {"", "Content-Digest: sha-256=:{b64-wrong256}:\r\n", false, mismatch + " (the server's Content-Digest)"},
      // Content-Digest of a part says nothing of the file (the fields that
      // count are read in the parser's tests).
      {"", "Content-Digest: sha-256=:{b64-wrong256}:\r\n", true, ""},
      // Both given: both are checked.
      {"sha-256={sha256}", "Repr-Digest: sha-512=:{b64-512}:\r\n", true, ""},
      {"sha-256={sha256}", "Repr-Digest: sha-256=:{b64-wrong256}:\r\n", false,
       mismatch + " (the server's Repr-Digest)"},
      {"sha-256={wrong256}", "Repr-Digest: sha-256=:{b64-256}:\r\n", false, mismatch},
  };
  for (const auto& scenario : cases) {
    const std::string checksum = d.expand(scenario.checksum);
    const std::string fields = d.expand(scenario.fields);
    SCOPED_TRACE(checksum + " | " + fields + (scenario.resumed ? " | resumed" : ""));
    testing::TempFolder dir;
    testing::ControlHarness h;
    const std::string path = dir.file("file.bin");
    h.start({"http://srv/dir/file.bin"}, dir.path().string());
    h.file(1).put("checksum", automation::Variant(checksum));
    if (scenario.resumed) {
      testing::write_part(path, d.body.substr(0, 300), "http://srv/dir/file.bin");
      h.send_request();
      h.winsock().deliver(1, ok(d.body, fields));
      ASSERT_EQ(h.file(1).downloadStatus, "pinged");
      h.send_request();
      h.winsock().deliver(1, "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 300-999/1000\r\n" + fields +
                                 "Content-Length: 700\r\n\r\n" + d.body.substr(300));
    } else {
      h.send_request();
      h.winsock().deliver(1, ok(d.body, fields));
    }
    h.tick();
    const std::string bad = path + control::UserControl1::bad_checksum_suffix;
    if (scenario.failure.empty()) {
      EXPECT_EQ(h.control.dErrorNumber(), "0");
      EXPECT_EQ(read_file(path), d.body);
      EXPECT_FALSE(platform::file_exists(bad));
      EXPECT_EQ(h.host.events.back(), "OnFileComplete:" + path);
      continue;
    }
    EXPECT_EQ(h.control.dErrorNumber(), "12300");
    EXPECT_EQ(h.control.dErrorDesc(), d.expand(scenario.failure));
    EXPECT_NE(h.file(1).downloadStatus, "Completed");
    EXPECT_EQ(h.winsock().element(1).state, platform::sck::closed);
    // Nothing under the final name looks finished; the bytes are kept aside.
    EXPECT_FALSE(platform::file_exists(path));
    EXPECT_EQ(read_file(bad), d.body);
    EXPECT_EQ(h.host.events.back(), "OnStatusChange:File Not Found");
  }
}

TEST_F(Response, AResumedFileIsCheckedFromItsFirstByteOnDisk) {
  const Digests d;
  // A part that is not the file's: only reading it back tells.
  const std::string part = d.other.substr(0, 300);
  own_part(part);
  h.file(1).checksum = "sha-256=" + d.words.at("{sha256}");
  connect();
  respond(ok(d.body));
  EXPECT_NE(connect().find("Range: bytes=300-"), std::string::npos);
  respond("HTTP/1.1 206 Partial Content\r\nContent-Length: 700\r\n\r\n" + d.body.substr(300));
  const std::string on_disk = part + d.body.substr(300);
  EXPECT_EQ(c.dErrorDesc(), "Checksum mismatch: expected sha-256=" + d.words.at("{sha256}") + ", got " +
                                hex_of(digest_of(EVP_sha256(), on_disk)));
  EXPECT_EQ(read_file(path + ".bad-checksum"), on_disk);

  // Started again, the file is fetched whole and is right this time.
  c.GotoFile(1);
  EXPECT_EQ(connect().find("Range:"), std::string::npos);
  respond(ok(d.body));
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), d.body);
}

TEST_F(Response, AFileWholeOnDiskAlreadyIsReadBackAndChecked) {
  const Digests d;
  own_part(d.other);
  h.file(1).checksum = "sha-256=" + d.words.at("{sha256}");
  connect();
  // As long as the server's file: found complete, then read back.
  respond(ok(d.body));
  EXPECT_NE(status(), "Completed");
  EXPECT_EQ(c.dErrorNumber(), "12300");
  EXPECT_FALSE(platform::file_exists(path));
  EXPECT_EQ(read_file(path + ".bad-checksum"), d.other);
}

TEST_F(Response, AChecksumThatIsNotAlgoEqualsHexStopsTheFileBeforeItIsWritten) {
  // Written past the member's own check, as the engine's own code could.
  h.file(1).checksum = "sha-256=nothex";
  connect();
  respond(ok(content(100)));
  EXPECT_NE(status(), "Completed");
  EXPECT_EQ(c.dErrorNumber(), "13");
  EXPECT_EQ(c.dErrorDesc(), "Invalid checksum \"sha-256=nothex\": sha-256 checksums have 64 hexadecimal digits, not 6");
  EXPECT_EQ(read_file(path), "");
}

}  // namespace
}  // namespace vintrel
