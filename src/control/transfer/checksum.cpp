// Checksums of a file: the user's (the record's `checksum`, ALGO=HEX) and the
// server's (a digest field of the answer that brings the file). The bytes
// are hashed as they are written, the part already on disk first, and the
// file is checked before it may be called complete. A file that fails is
// stopped, never completed, and its bytes leave the final name, so nothing
// that looks finished holds the wrong file.

#include <map>

#include "control/user_control1.hpp"
#include "platform/file_rename.hpp"

namespace vintrel::control {

namespace {

platform::HashAlgorithm platform_algorithm(http::DigestAlgorithm algorithm) {
  switch (algorithm) {
    case http::DigestAlgorithm::md5:
      return platform::HashAlgorithm::md5;
    case http::DigestAlgorithm::sha1:
      return platform::HashAlgorithm::sha1;
    case http::DigestAlgorithm::sha256:
      return platform::HashAlgorithm::sha256;
    case http::DigestAlgorithm::sha512:
      return platform::HashAlgorithm::sha512;
  }
  return platform::HashAlgorithm::sha256;
}

// Hands each piece read from disk to every hasher at once, so a part on
// disk is read once however many digests it goes into.
class EachHasher final : public platform::Hasher {
 public:
  std::vector<platform::Hasher*> hashers;
  void update(std::span<const std::uint8_t> bytes) override {
    for (platform::Hasher* hasher : hashers) hasher->update(bytes);
  }
  std::vector<std::uint8_t> finish() override { return {}; }
};

std::string invalid_checksum(const std::string& text, const std::string& why) {
  return "Invalid checksum \"" + text + "\": " + why;
}

}  // namespace

void UserControl1::noteServerDigest(std::int16_t n, const http::ResponseHead& head) {
  fileSlots_[n].dlTransfer.checks.server = http::whole_file_digest(head);
}

bool UserControl1::startChecksums(std::int16_t n, DownloadFile& F, std::int64_t offset) {
  Checksums& K = fileSlots_[n].dlTransfer.checks;
  K.running.clear();
  std::string why;
  std::optional<http::DigestAlgorithm> user;
  if (!F.checksum.empty()) {
    const auto given = http::parse_checksum(F.checksum, why);
    if (!given) {
      stopFile(n, F, automation::err::type_mismatch, invalid_checksum(F.checksum, why));
      return false;
    }
    user = given->algorithm;
  }
  std::vector<http::DigestAlgorithm> algorithms;
  if (user) algorithms.push_back(*user);
  if (K.server && K.server->digest.algorithm != user) algorithms.push_back(K.server->digest.algorithm);
  EachHasher part;
  for (const http::DigestAlgorithm algorithm : algorithms) {
    auto hasher = platform::make_hasher(platform_algorithm(algorithm), why);
    if (!hasher) {
      // The user asked for the check; a server only offered it.
      if (algorithm == user) {
        stopFile(n, F, automation::err::type_mismatch, why);
        return false;
      }
      K.server.reset();
      continue;
    }
    part.hashers.push_back(hasher.get());
    K.running.emplace_back(algorithm, std::move(hasher));
  }
  const std::string& path = fileSlots_[n].dlLocalFile;
  if (offset > 0 && !part.hashers.empty()) {
    if (const int error = platform::hash_file_part(part, path, offset)) {
      K.running.clear();
      stopFile(n, F, error, platform::system_error_text(error) + ": " + path);
      return false;
    }
  }
  return true;
}

void UserControl1::feedChecksums(std::int16_t n, std::span<const std::uint8_t> bytes) {
  for (auto& [algorithm, hasher] : fileSlots_[n].dlTransfer.checks.running) hasher->update(bytes);
}

bool UserControl1::checksumsHold(std::int16_t n, DownloadFile& F) {
  Checksums& K = fileSlots_[n].dlTransfer.checks;
  struct Wanted {
    http::Digest digest;
    std::string field;  // the server's field; empty for the user's
  };
  std::vector<Wanted> wanted;
  std::string why;
  // Read again here: script may have set it after the writer opened.
  if (!F.checksum.empty()) {
    auto given = http::parse_checksum(F.checksum, why);
    if (!given) {
      stopFile(n, F, automation::err::type_mismatch, invalid_checksum(F.checksum, why));
      return false;
    }
    wanted.push_back({std::move(*given), {}});
  }
  if (K.server) wanted.push_back({K.server->digest, K.server->field});

  const std::string& path = fileSlots_[n].dlLocalFile;
  std::map<http::DigestAlgorithm, std::vector<std::uint8_t>> got;
  for (auto& [algorithm, hasher] : K.running) got[algorithm] = hasher->finish();
  K.running.clear();
  for (const Wanted& w : wanted) {
    if (!got.contains(w.digest.algorithm)) {
      // Nothing ran over this file's bytes (it was whole on disk already, or
      // the checksum came late): the file on disk is read.
      auto hasher = platform::make_hasher(platform_algorithm(w.digest.algorithm), why);
      if (!hasher) {
        if (!w.field.empty()) continue;
        stopFile(n, F, automation::err::type_mismatch, why);
        return false;
      }
      if (const int error = platform::hash_file_part(*hasher, path, platform::file_size_of(path))) {
        stopFile(n, F, error, platform::system_error_text(error) + ": " + path);
        return false;
      }
      got[w.digest.algorithm] = hasher->finish();
    }
    const auto& digest = got[w.digest.algorithm];
    if (digest == w.digest.value) continue;
    // Not the file: it must not stay under the name of a finished one.
    const std::string bad = path + bad_checksum_suffix;
    std::string description =
        "Checksum mismatch: expected " + http::checksum_text(w.digest) + ", got " + http::to_hex(digest);
    if (!w.field.empty()) description += " (the server's " + w.field + ")";
    if (const int error = platform::rename_file(path, bad))
      description += "; it could not be moved to " + bad + ": " + platform::system_error_text(error);
    // Its record went with it, or is left in a companion that now names
    // no file.
    platform::settle_file_note(path);
    fileSlots_[n].dlRecord.reset();
    stopFile(n, F, checksum_mismatch, description);
    return false;
  }
  return true;
}

}  // namespace vintrel::control
