#pragma once
// Digests of a file's bytes, computed as they are written. The work is the
// system's cryptographic library's: OpenSSL's EVP, in the same module as TLS
// and loaded the same way, on first use (a run without checksums never maps
// libcrypto); BCrypt on Windows. The engine sees only this interface.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vintrel::platform {

/// The algorithms a hasher computes.
enum class HashAlgorithm : std::uint8_t { md5, sha1, sha256, sha512 };

/// One running digest.
class Hasher {
 public:
  virtual ~Hasher() = default;
  /// Adds `bytes` to what is digested.
  virtual void update(std::span<const std::uint8_t> bytes) = 0;
  /// The digest of every byte added; the hasher is spent afterwards.
  virtual std::vector<std::uint8_t> finish() = 0;
};

/// A new hasher for `algorithm`, or null with the reason in `why` (no
/// cryptographic library to be loaded). It digests on a thread of its own,
/// so a download's hashing runs beside its reads and writes instead of
/// after each of them; update only copies the bytes (waiting when the
/// thread is more than a few hundred KiB behind).
std::unique_ptr<Hasher> make_hasher(HashAlgorithm algorithm, std::string& why);
/// The library's own hasher, which digests on the caller's thread.
std::unique_ptr<Hasher> make_library_hasher(HashAlgorithm algorithm, std::string& why);

/// Adds the first `length` bytes of the file `path` to `hasher`: the part
/// of a file on disk before the bytes that are still to come. Returns 0, or
/// the errno of the failure (EIO for a file shorter than `length`).
int hash_file_part(Hasher& hasher, const std::string& path, std::int64_t length);

}  // namespace vintrel::platform
