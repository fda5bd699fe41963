#pragma once
// Checksums of a whole file, as plain functions over text: the ALGO=HEX a
// user gives with a URL, and the digest fields a server may send with a
// file (Repr-Digest and Content-Digest of RFC 9530, Digest of RFC 3230).
// Computing a digest is the platform's business; this is only reading them.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "http/response_header.hpp"

namespace vintrel::http {

/// The algorithms a checksum may name.
enum class DigestAlgorithm : std::uint8_t { md5, sha1, sha256, sha512 };

/// The name users and servers write: "md5", "sha-1", "sha-256", "sha-512".
std::string_view algorithm_name(DigestAlgorithm algorithm);
/// How many bytes a digest of the algorithm has.
std::size_t digest_length(DigestAlgorithm algorithm);

/// A digest of a whole file: the algorithm and the bytes it gives.
struct Digest {
  DigestAlgorithm algorithm = DigestAlgorithm::sha256;
  std::vector<std::uint8_t> value;

  bool operator==(const Digest&) const = default;
};

/// Bytes as lower-case hexadecimal digits.
std::string to_hex(std::span<const std::uint8_t> bytes);
/// The digest as a checksum is written: "sha-256=" and lower-case hex.
std::string checksum_text(const Digest& digest);

/// A checksum as the user writes it, ALGO=HEX: one of the four names in any
/// letter case, '=', then exactly the digest's length in hexadecimal digits
/// of either case. Nothing when it is not one, with the reason in `why`.
std::optional<Digest> parse_checksum(std::string_view text, std::string& why);

/// The strongest digest this code can check (sha-512, else sha-256) in an
/// RFC 9530 field value, a structured-field dictionary such as
/// `sha-256=:BASE64:, sha-512=:BASE64:`. Other algorithms and parameters
/// are passed over; nothing when the value is not a dictionary or holds
/// no usable digest of the right length.
std::optional<Digest> parse_digest_dictionary(std::string_view value);

/// The same from an RFC 3230 "Digest" value (`SHA-256=BASE64, MD5=...`,
/// names in any letter case). Entries that cannot be read are passed over.
std::optional<Digest> parse_instance_digest(std::string_view value);

/// A server's digest of the whole file and the field that gave it.
struct ServerDigest {
  Digest digest;
  std::string field;

  bool operator==(const ServerDigest&) const = default;
};

/// The server's digest of the whole file from the head of a 200 or 206
/// answer: Repr-Digest (whole representation, ranges too), else
/// Content-Digest when it covers the file (a 200 without content coding:
/// otherwise it covers only this message's part or its coded form), else
/// Digest (the whole instance). Nothing for other answers or without one.
std::optional<ServerDigest> whole_file_digest(const ResponseHead& head);

}  // namespace vintrel::http
