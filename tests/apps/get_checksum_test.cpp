// `vintrel get --checksum` and the checksum lines of its URL lists, run
// against nginx: right files are saved, wrong ones fail and are moved aside,
// and a run that checks nothing never loads the cryptographic library.

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "get_program_rig.hpp"
#include "get_runs.hpp"
#include "http/digest.hpp"

namespace vintrel::testing {
namespace {

using namespace get_program_rig;

std::string hex_digest(const EVP_MD* md, const std::string& bytes) {
  std::vector<std::uint8_t> out(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), out.data(), &length, md, nullptr);
  out.resize(length);
  return http::to_hex(std::span<const std::uint8_t>(out));
}

TEST(GetChecksum, RightFilesAreSavedAndWrongOnesFailAndAreMovedAside) {
  REQUIRE_NGINX();
  NginxServer server;
  const std::string a = serve(server, "a.bin", 200 * KiB, 21);
  const std::string b = serve(server, "b.bin", 90 * KiB + 5, 22);
  const std::string c = serve(server, "c.bin", 3 * KiB, 23);
  server.start();
  TempFolder folder;
  const std::string wrong = hex_digest(EVP_sha256(), c);
  const std::string list = folder.file("list.txt");
  write_file(list, server.url("/b.bin") + "\n  checksum=sha-256=" + wrong + "\n# c, checked by md5\n" +
                       server.url("/c.bin") + "\n\tchecksum=MD5=" + hex_digest(EVP_md5(), c) + "\n");
  const std::string out = folder.file("out");

  const ProgramRun run = run_program(
      get({"-d", out, server.url("/a.bin"), "--checksum", "SHA-512=" + hex_digest(EVP_sha512(), a), "-i", list}), {},
      60s);

  EXPECT_EQ(run.status, 1) << describe(run);
  EXPECT_TRUE(holds(out + "/a.bin", a));
  EXPECT_TRUE(holds(out + "/c.bin", c));
  EXPECT_FALSE(fs::exists(out + "/b.bin")) << describe(run);
  EXPECT_TRUE(holds(out + "/b.bin.bad-checksum", b));
  EXPECT_NE(run.err.find("[2/3] failed: Checksum mismatch: expected sha-256=" + wrong + ", got " +
                         hex_digest(EVP_sha256(), b) + " (error 12300)"),
            std::string::npos)
      << describe(run);
  EXPECT_NE(run.out.find("Summary: 2 done, 1 failed"), std::string::npos) << describe(run);
}

TEST(GetChecksum, ChecksumsThatCannotBeUsedAreUsageErrors) {
  TempFolder folder;
  const std::string sum = "sha-1=a9993e364706816aba3e25717850c26c9cd0d89d";
  const std::string url = "http://127.0.0.1:9/a.bin";
  const struct {
    std::vector<std::string> words;
    std::string list;  // the -i file's text, when given
    std::string said;
  } mistakes[] = {
      {{"--checksum", sum, url}, "", "a checksum follows the URL it checks"},
      {{url, "--checksum", "sha-1=a999"}, "", "--checksum sha-1=a999: sha-1 checksums have 40"},
      {{url, "--checksum", sum, "--checksum", sum}, "", "a second checksum for " + url},
      {{}, "  checksum=" + sum + "\n" + url + "\n", "line 1: an option line follows the URL it belongs to"},
      {{}, url + "\n  out=a.bin\n", "line 2: unknown option \"out\""},
      {{}, url + "\n\n  checksum=md5=00\n", "line 3: checksum md5=00: md5 checksums have 32"},
      {{}, url + "\n checksum=" + sum + "\n checksum=" + sum + "\n", "line 3: a second checksum for " + url},
  };
  for (const auto& [words, list, said] : mistakes) {
    std::vector<std::string> arguments{"-d", folder.path().string()};
    arguments.insert(arguments.end(), words.begin(), words.end());
    if (!list.empty()) {
      write_file(folder.file("list.txt"), list);
      arguments.insert(arguments.end(), {"-i", folder.file("list.txt")});
    }
    const ProgramRun run = run_program(get(arguments), {}, 10s);
    EXPECT_EQ(run.status, 2) << said << "\n" << describe(run);
    EXPECT_NE(run.err.find(said), std::string::npos) << describe(run);
  }
}

// What the dynamic loader loaded during a run, as LD_DEBUG=files tells.
std::string loaded_by(const std::vector<std::string>& arguments, const TempFolder& folder, const std::string& name) {
  const std::string log = folder.file("ld-" + name);
  ChildProcess::Options options;
  options.environment = {"LD_DEBUG=files", "LD_DEBUG_OUTPUT=" + log};
  const ProgramRun run = run_program(get(arguments), options, 30s);
  EXPECT_EQ(run.status, 0) << describe(run);
  std::string all;
  for (const auto& entry : fs::directory_iterator(folder.path()))
    if (entry.path().filename().string().starts_with("ld-" + name + ".")) all += read_file(entry.path().string());
  return all;
}

TEST(GetChecksum, OnlyARunThatChecksLoadsTheCryptographicLibrary) {
  REQUIRE_NGINX();
  NginxServer server;
  const std::string a = serve(server, "a.bin", 64 * KiB, 24);
  server.start();
  TempFolder folder;

  const std::string plain = loaded_by({"-q", "-d", folder.file("plain"), server.url("/a.bin")}, folder, "plain");
  const std::string checked = loaded_by({"-q", "-d", folder.file("checked"), server.url("/a.bin"), "--checksum",
                                         "sha-256=" + hex_digest(EVP_sha256(), a)},
                                        folder, "checked");

  // The same log shows the module when it is loaded: a plain run's silence
  // is not the log's.
  EXPECT_NE(checked.find("libcrypto.so"), std::string::npos) << checked.substr(0, 2000);
  EXPECT_NE(checked.find("libvintrel_tls.so"), std::string::npos);
  EXPECT_NE(plain.find("calling init"), std::string::npos) << plain.substr(0, 2000);
  EXPECT_EQ(plain.find("libcrypto.so"), std::string::npos);
  EXPECT_EQ(plain.find("libvintrel_tls.so"), std::string::npos);
}

}  // namespace
}  // namespace vintrel::testing
