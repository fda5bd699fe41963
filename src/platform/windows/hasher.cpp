// Digests on Windows: the system's BCrypt, which every supported Windows
// has, so the Windows build checks files without a library of its own.

#include "platform/hasher.hpp"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>

namespace vintrel::platform {

namespace {

class BcryptHasher final : public Hasher {
 public:
  BcryptHasher(BCRYPT_ALG_HANDLE provider, BCRYPT_HASH_HANDLE hash, ULONG length)
      : provider_(provider), hash_(hash), length_(length) {}
  ~BcryptHasher() override {
    BCryptDestroyHash(hash_);
    BCryptCloseAlgorithmProvider(provider_, 0);
  }

  BcryptHasher(const BcryptHasher&) = delete;
  BcryptHasher& operator=(const BcryptHasher&) = delete;

  void update(std::span<const std::uint8_t> bytes) override {
    // BCrypt counts in ULONGs.
    constexpr std::size_t largest = std::size_t{1} << 30;
    while (!bytes.empty()) {
      const std::size_t take = std::min(bytes.size(), largest);
      BCryptHashData(hash_, const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(take), 0);
      bytes = bytes.subspan(take);
    }
  }

  std::vector<std::uint8_t> finish() override {
    std::vector<std::uint8_t> digest(length_);
    if (!BCRYPT_SUCCESS(BCryptFinishHash(hash_, digest.data(), length_, 0))) digest.clear();
    return digest;
  }

 private:
  BCRYPT_ALG_HANDLE provider_;
  BCRYPT_HASH_HANDLE hash_;
  ULONG length_;
};

LPCWSTR algorithm_id(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::md5:
      return BCRYPT_MD5_ALGORITHM;
    case HashAlgorithm::sha1:
      return BCRYPT_SHA1_ALGORITHM;
    case HashAlgorithm::sha256:
      return BCRYPT_SHA256_ALGORITHM;
    case HashAlgorithm::sha512:
      return BCRYPT_SHA512_ALGORITHM;
  }
  return BCRYPT_SHA256_ALGORITHM;
}

}  // namespace

std::unique_ptr<Hasher> make_library_hasher(HashAlgorithm algorithm, std::string& why) {
  BCRYPT_ALG_HANDLE provider = nullptr;
  NTSTATUS status = BCryptOpenAlgorithmProvider(&provider, algorithm_id(algorithm), nullptr, 0);
  ULONG length = 0;
  ULONG written = 0;
  if (BCRYPT_SUCCESS(status))
    status =
        BCryptGetProperty(provider, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length), sizeof length, &written, 0);
  BCRYPT_HASH_HANDLE hash = nullptr;
  // The system keeps the hash object's memory itself (Windows 7 and later).
  if (BCRYPT_SUCCESS(status)) status = BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0);
  if (!BCRYPT_SUCCESS(status)) {
    if (provider != nullptr) BCryptCloseAlgorithmProvider(provider, 0);
    why =
        "Checksums are not available: BCrypt failed with status " + std::to_string(static_cast<unsigned long>(status));
    return nullptr;
  }
  return std::make_unique<BcryptHasher>(provider, hash, length);
}

}  // namespace vintrel::platform
