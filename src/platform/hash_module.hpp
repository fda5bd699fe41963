#pragma once
// The hashing entry point of libvintrel_tls.so. The module that brings
// OpenSSL for TLS computes digests with OpenSSL's EVP as well, so a run that
// checks a file maps libcrypto once and a run that does not never maps it.
// The module and its caller share only these declarations and hasher.hpp.

#include <string>

#include "platform/hasher.hpp"

namespace vintrel::platform::tls {

/// A new hasher for `algorithm`, or null with the reason in `error`.
extern "C" Hasher* vintrel_tls_make_hasher(HashAlgorithm algorithm, std::string& error);
using MakeHasher = decltype(&vintrel_tls_make_hasher);
inline constexpr const char* make_hasher_symbol = "vintrel_tls_make_hasher";

}  // namespace vintrel::platform::tls
