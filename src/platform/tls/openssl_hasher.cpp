// libvintrel_tls.so's digests: OpenSSL's EVP over the bytes the engine
// writes.

#include <openssl/err.h>
#include <openssl/evp.h>

#include <memory>
#include <string>

#include "platform/hash_module.hpp"

namespace vintrel::platform::tls {

namespace {

class EvpHasher final : public Hasher {
 public:
  explicit EvpHasher(EVP_MD_CTX* context) : context_(context) {}
  ~EvpHasher() override { EVP_MD_CTX_free(context_); }

  EvpHasher(const EvpHasher&) = delete;
  EvpHasher& operator=(const EvpHasher&) = delete;

  void update(std::span<const std::uint8_t> bytes) override {
    if (!bytes.empty()) EVP_DigestUpdate(context_, bytes.data(), bytes.size());
  }

  std::vector<std::uint8_t> finish() override {
    std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_, digest.data(), &length) != 1) length = 0;
    digest.resize(length);
    return digest;
  }

 private:
  EVP_MD_CTX* context_;
};

const EVP_MD* digest_of(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::md5:
      return EVP_md5();
    case HashAlgorithm::sha1:
      return EVP_sha1();
    case HashAlgorithm::sha256:
      return EVP_sha256();
    case HashAlgorithm::sha512:
      return EVP_sha512();
  }
  return nullptr;
}

}  // namespace

extern "C" Hasher* vintrel_tls_make_hasher(HashAlgorithm algorithm, std::string& error) {
  const EVP_MD* digest = digest_of(algorithm);
  EVP_MD_CTX* context = digest != nullptr ? EVP_MD_CTX_new() : nullptr;
  if (context == nullptr || EVP_DigestInit_ex(context, digest, nullptr) != 1) {
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    error = std::string("Cannot start the digest: ") + (reason != nullptr ? reason : "unknown error");
    ERR_clear_error();
    EVP_MD_CTX_free(context);
    return nullptr;
  }
  return new EvpHasher(context);
}

}  // namespace vintrel::platform::tls
