#pragma once
// Reading a response header: plain functions over its text, never a socket.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vintrel::http {

/// The largest response header the control accepts, blank line included:
/// what browsers take, so one long Set-Cookie or policy line that other
/// tools fetch through does not stop a file here.
inline constexpr std::size_t max_header_size = 256 * 1024;

/// The 0-based position of the blank line (CR LF CR LF) that ends a header,
/// searched from `from`; npos while it has not arrived.
std::size_t find_header_end(std::string_view gathered, std::size_t from = 0);

/// The status code: the second piece of the status line split at single
/// spaces, when it is a whole number; nothing otherwise (the protocol
/// version is never examined).
std::optional<int> status_code(std::string_view status_line);
/// The text after the status code ("Not Found"), "" when there is none.
std::string reason_phrase(std::string_view status_line);

/// The value of the first field `name` (any letter case), without the
/// blanks around it; nothing when the header has no such field. The header
/// is the text before its blank line, status line first.
std::optional<std::string> field_value(std::string_view header, std::string_view name);
/// True when the body is sent in chunks ("Transfer-Encoding: chunked").
bool is_chunked(std::string_view header);

/// A "Content-Range" value: "bytes first-last/total" or "bytes */total".
struct ContentRange {
  std::optional<std::int64_t> first;
  std::optional<std::int64_t> last;
  std::optional<std::int64_t> total;  // nothing for "*"
};
std::optional<ContentRange> parse_content_range(std::string_view value);

}  // namespace vintrel::http
