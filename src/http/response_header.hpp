#pragma once
// Reading a response header: plain functions over its text, never a socket.
// scan_head finds where the head ends in the bytes gathered so far, and
// read_response_head turns its text into a value, ResponseHead, which is all
// the transfer reads of a head; the functions below it are its parts.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vintrel::http {

/// The largest response header the control accepts, blank line included:
/// what browsers take, so one long Set-Cookie or policy line that other
/// tools fetch through does not stop a file here.
inline constexpr std::size_t max_header_size = std::size_t{256} * 1024;

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
/// Every field `name` (any letter case) joined into one list value with
/// ", ", as a field sent on several lines is meant; nothing when absent.
std::optional<std::string> field_values(std::string_view header, std::string_view name);
/// True when the body is sent in chunks ("Transfer-Encoding: chunked").
bool is_chunked(std::string_view header);

/// A "Content-Range" value: "bytes first-last/total" or "bytes */total".
struct ContentRange {
  std::optional<std::int64_t> first;
  std::optional<std::int64_t> last;
  std::optional<std::int64_t> total;  // nothing for "*"

  bool operator==(const ContentRange&) const = default;
};
std::optional<ContentRange> parse_content_range(std::string_view value);

/// Where the head stands once `gathered` holds every byte of the response
/// so far, of which those from `arrived` on have just come: the blank line
/// may have been split between arrivals, so it is looked for from just
/// before them.
struct HeadScan {
  /// The length of the head's text, its blank line left out; nothing while
  /// the blank line has not arrived.
  std::optional<std::size_t> end;
  /// More than max_header_size: the text without a blank line yet, or the
  /// head with it.
  bool too_large = false;

  bool operator==(const HeadScan&) const = default;
};
HeadScan scan_head(std::string_view gathered, std::size_t arrived = 0);

/// What a response head says, as the transfer reads it. Every field is read
/// the way the transfer always read it, quirks included: the length is
/// searched for in these exact capitals, beside the fields read by name in
/// any case.
struct ResponseHead {
  /// The first line, as it came.
  std::string status_line;
  /// status_code of the status line; nothing when the answer is unreadable.
  std::optional<int> status;
  /// reason_phrase of the status line.
  std::string reason;

  /// A line carries "Content-Length" (the first such line, wherever the
  /// text is in it, is the length line).
  bool length_given = false;
  /// The length line's text after its first space (the whole line without
  /// one) read as a number, when it is a number and not negative.
  std::optional<double> content_length;
  /// The same text as plain digits (blanks around them allowed), exactly:
  /// a double holds lengths beyond 2^53 only roughly. Nothing when
  /// content_length is nothing, or the text is another form of a number.
  std::optional<std::int64_t> exact_length;

  /// The length read by the size check of a file's first answer: the text
  /// from 16 characters past the first "Content-Length" of the head (so
  /// "Content-Length:5" loses its digit) to the end of that line, read as
  /// content_length is; nothing when it is not a number.
  std::optional<double> size_check_length;

  /// is_chunked: the body comes in chunks, whatever length is given.
  bool chunked = false;
  /// The "Content-Range" field read by parse_content_range; nothing when
  /// absent or unreadable.
  std::optional<ContentRange> content_range;
  /// The "Location" field; nothing when absent (it may be empty).
  std::optional<std::string> location;
  /// The "ETag" and "Last-Modified" fields as given (a weak tag keeps its
  /// "W/"); nothing when absent or empty.
  std::optional<std::string> etag;
  std::optional<std::string> last_modified;

  /// The digest fields of the file ("Repr-Digest", "Content-Digest",
  /// "Digest") and "Content-Encoding", each as field_values reads it;
  /// nothing when absent.
  std::optional<std::string> repr_digest;
  std::optional<std::string> content_digest;
  std::optional<std::string> digest;
  std::optional<std::string> content_encoding;

  bool operator==(const ResponseHead&) const = default;
};

/// The head of a response: `head` is its text before the blank line,
/// status line first (what scan_head's end delimits). Never fails: what
/// cannot be read is left out of the value.
ResponseHead read_response_head(std::string_view head);

}  // namespace vintrel::http
