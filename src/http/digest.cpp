#include "http/digest.hpp"

#include <array>
#include <cstring>

#include "text/text.hpp"

namespace vintrel::http {

namespace {

struct Known {
  DigestAlgorithm algorithm;
  std::string_view name;
  std::size_t length;
};
constexpr std::array<Known, 4> known{{
    {DigestAlgorithm::md5, "md5", 16},
    {DigestAlgorithm::sha1, "sha-1", 20},
    {DigestAlgorithm::sha256, "sha-256", 32},
    {DigestAlgorithm::sha512, "sha-512", 64},
}};

const Known& known_of(DigestAlgorithm algorithm) {
  for (const Known& k : known)
    if (k.algorithm == algorithm) return k;
  return known[2];
}

// ---- Structured-field dictionaries (RFC 8941), as far as a digest needs --

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_lcalpha(char c) { return c >= 'a' && c <= 'z'; }
bool is_alpha(char c) { return is_lcalpha(c) || (c >= 'A' && c <= 'Z'); }
bool is_tchar(char c) { return is_alpha(c) || is_digit(c) || (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c)); }

struct Cursor {
  std::string_view text;
  std::size_t at = 0;

  char peek() const { return at < text.size() ? text[at] : '\0'; }
  bool done() const { return at >= text.size(); }
  bool take(char c) {
    if (done() || text[at] != c) return false;
    ++at;
    return true;
  }
  void skip_spaces() {
    while (peek() == ' ') ++at;
  }
  void skip_blanks() {
    while (peek() == ' ' || peek() == '\t') ++at;
  }
};

std::optional<std::string_view> read_key(Cursor& in) {
  const std::size_t start = in.at;
  if (!is_lcalpha(in.peek()) && in.peek() != '*') return std::nullopt;
  while (!in.done()) {
    const char c = in.peek();
    if (!is_lcalpha(c) && !is_digit(c) && c != '_' && c != '-' && c != '.' && c != '*') break;
    ++in.at;
  }
  return in.text.substr(start, in.at - start);
}

bool read_number(Cursor& in) {
  in.take('-');
  std::size_t digits = 0;
  while (is_digit(in.peek()) && digits <= 15) ++in.at, ++digits;
  if (digits == 0 || digits > 15) return false;
  if (!in.take('.')) return true;
  std::size_t decimals = 0;
  while (is_digit(in.peek())) ++in.at, ++decimals;
  return decimals >= 1 && decimals <= 3 && digits <= 12;
}

bool read_string(Cursor& in) {
  ++in.at;  // the opening quote
  while (!in.done()) {
    const char c = in.text[in.at++];
    if (c == '"') return true;
    if (c == '\\') {
      if (in.peek() != '"' && in.peek() != '\\') return false;
      ++in.at;
    } else if (c < 0x20 || c == 0x7F) {
      return false;
    }
  }
  return false;
}

// A bare item; a byte sequence's bytes go to `bytes`, when given.
bool read_bare_item(Cursor& in, std::optional<std::vector<std::uint8_t>>* bytes) {
  const char c = in.peek();
  if (c == '-' || is_digit(c)) return read_number(in);
  if (c == '"') return read_string(in);
  if (c == '?') {
    ++in.at;
    return in.take('0') || in.take('1');
  }
  if (c == ':') {
    const auto end = in.text.find(':', in.at + 1);
    if (end == std::string_view::npos) return false;
    auto decoded = text::base64_decode(in.text.substr(in.at + 1, end - in.at - 1));
    if (!decoded) return false;
    if (bytes) *bytes = std::move(decoded);
    in.at = end + 1;
    return true;
  }
  if (is_alpha(c) || c == '*') {
    while (is_tchar(in.peek()) || in.peek() == ':' || in.peek() == '/') ++in.at;
    return true;
  }
  return false;
}

bool read_parameters(Cursor& in) {
  while (in.take(';')) {
    in.skip_spaces();
    if (!read_key(in)) return false;
    if (in.take('=') && !read_bare_item(in, nullptr)) return false;
  }
  return true;
}

bool read_item_or_inner_list(Cursor& in, std::optional<std::vector<std::uint8_t>>* bytes) {
  if (!in.take('(')) return read_bare_item(in, bytes) && read_parameters(in);
  while (true) {
    in.skip_spaces();
    if (in.take(')')) return read_parameters(in);
    if (!read_bare_item(in, nullptr) || !read_parameters(in)) return false;
    if (in.peek() != ' ' && in.peek() != ')') return false;
  }
}

struct Candidate {
  DigestAlgorithm algorithm;
  std::string_view name;  // as the field spells it
};

// The strongest of `found` (one slot per candidate, in order of strength).
std::optional<Digest> strongest(std::span<const Candidate> candidates,
                                std::span<const std::optional<std::vector<std::uint8_t>>> found) {
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    if (found[k] && found[k]->size() == digest_length(candidates[k].algorithm))
      return Digest{candidates[k].algorithm, *found[k]};
  }
  return std::nullopt;
}

constexpr std::array<Candidate, 2> checked{{
    {DigestAlgorithm::sha512, "sha-512"},
    {DigestAlgorithm::sha256, "sha-256"},
}};

// A coding other than identity: the body is not the file's bytes as such.
bool has_content_coding(const std::optional<std::string>& codings) {
  if (!codings) return false;
  for (const std::string& coding : text::split(*codings, ",")) {
    const auto name = text::trim(coding);
    if (!name.empty() && !text::iequals(name, "identity")) return true;
  }
  return false;
}

}  // namespace

std::string_view algorithm_name(DigestAlgorithm algorithm) { return known_of(algorithm).name; }
std::size_t digest_length(DigestAlgorithm algorithm) { return known_of(algorithm).length; }

std::string to_hex(std::span<const std::uint8_t> bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 0x0F]);
  }
  return hex;
}

std::string checksum_text(const Digest& digest) {
  return std::string(algorithm_name(digest.algorithm)) + "=" + to_hex(digest.value);
}

std::optional<Digest> parse_checksum(std::string_view text, std::string& why) {
  const auto equals = text.find('=');
  if (equals == std::string_view::npos) {
    why = "expected ALGO=HEX, ALGO one of sha-256, sha-512, sha-1, md5";
    return std::nullopt;
  }
  const auto name = text.substr(0, equals);
  const auto hex = text.substr(equals + 1);
  const Known* algorithm = nullptr;
  for (const Known& k : known)
    if (text::iequals(name, k.name)) algorithm = &k;
  if (!algorithm) {
    why = "unknown algorithm \"" + std::string(name) + "\" (sha-256, sha-512, sha-1 or md5)";
    return std::nullopt;
  }
  if (hex.size() != algorithm->length * 2) {
    why = std::string(algorithm->name) + " checksums have " + std::to_string(algorithm->length * 2) +
          " hexadecimal digits, not " + std::to_string(hex.size());
    return std::nullopt;
  }
  Digest digest{algorithm->algorithm, {}};
  digest.value.reserve(algorithm->length);
  for (std::size_t k = 0; k < hex.size(); k += 2) {
    const int high = text::hex_value(hex[k]);
    const int low = text::hex_value(hex[k + 1]);
    if (high < 0 || low < 0) {
      why = "\"" + std::string(hex) + "\" is not hexadecimal";
      return std::nullopt;
    }
    digest.value.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return digest;
}

std::optional<Digest> parse_digest_dictionary(std::string_view value) {
  Cursor in{value};
  in.skip_spaces();
  std::array<std::optional<std::vector<std::uint8_t>>, checked.size()> found;
  while (!in.done()) {
    const auto key = read_key(in);
    if (!key) return std::nullopt;
    std::optional<std::vector<std::uint8_t>> bytes;
    if (in.take('=')) {
      if (!read_item_or_inner_list(in, &bytes)) return std::nullopt;
    } else if (!read_parameters(in)) {
      return std::nullopt;
    }
    // A key given twice counts as its last value.
    for (std::size_t k = 0; k < checked.size(); ++k) {
      if (*key == checked[k].name) {
        found[k] = std::move(bytes);
        break;
      }
    }
    in.skip_blanks();
    if (in.done()) break;
    if (!in.take(',')) return std::nullopt;
    in.skip_blanks();
    if (in.done()) return std::nullopt;  // a trailing comma
  }
  return strongest(checked, found);
}

std::optional<Digest> parse_instance_digest(std::string_view value) {
  std::array<std::optional<std::vector<std::uint8_t>>, checked.size()> found;
  for (const std::string& entry : text::split(value, ",")) {
    const auto trimmed = text::trim(entry);
    const auto equals = trimmed.find('=');
    if (equals == std::string_view::npos) continue;
    const auto name = text::trim(trimmed.substr(0, equals));
    for (std::size_t k = 0; k < checked.size(); ++k) {
      if (!text::iequals(name, checked[k].name)) continue;
      if (auto bytes = text::base64_decode(text::trim(trimmed.substr(equals + 1)))) found[k] = std::move(bytes);
    }
  }
  return strongest(checked, found);
}

std::optional<ServerDigest> whole_file_digest(const ResponseHead& head) {
  if (!head.status || (*head.status != 200 && *head.status != 206)) return std::nullopt;
  if (head.repr_digest)
    if (auto digest = parse_digest_dictionary(*head.repr_digest)) return ServerDigest{*digest, "Repr-Digest"};
  if (head.content_digest && *head.status == 200 && !has_content_coding(head.content_encoding))
    if (auto digest = parse_digest_dictionary(*head.content_digest)) return ServerDigest{*digest, "Content-Digest"};
  if (head.digest)
    if (auto digest = parse_instance_digest(*head.digest)) return ServerDigest{*digest, "Digest"};
  return std::nullopt;
}

}  // namespace vintrel::http
