#pragma once
// What the control keeps with every file it writes: where the bytes came
// from and which version of the server's file they are. A later start reads
// it back before it writes a byte more: a part is resumed only when the
// server still holds the same version, and a file the control did not write
// is never written to.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "http/response_header.hpp"

namespace vintrel::queue {

/// The record kept with a local file.
struct PartRecord {
  std::string url;            ///< the address the file was asked for
  std::string etag;           ///< the server's strong entity tag, quotes kept; "" when none
  std::string last_modified;  ///< the server's Last-Modified text; "" when none
  std::int64_t length = -1;   ///< the whole file's length; -1 while unknown
  bool complete = false;      ///< every byte is on disk

  bool operator==(const PartRecord&) const = default;
};

/// The record as the text stored with the file: one "name value" line each.
std::string format_part_record(const PartRecord& record);
/// The record in `text`; nothing when it is not one (another program's
/// attribute, a truncated companion).
std::optional<PartRecord> parse_part_record(std::string_view text);

/// What an answer says about the version the server holds now.
struct Validators {
  std::string etag;  ///< strong only: a weak tag cannot vouch for bytes
  std::string last_modified;
  std::int64_t length = -1;  ///< the whole file's length, -1 when not given
};
/// The validators of a 200 or 206 answer (`code`): the length is the 200's
/// Content-Length or the 206's Content-Range total.
Validators validators_of(const http::ResponseHead& head, int code);

/// Whether an answer speaks of the version a record describes.
enum class Version : std::uint8_t { same, different, unknown };
/// Same or different by the strong tags when both have one, else by the
/// Last-Modified dates when both have one; a known length that differs makes
/// any version different.
Version compare_version(const PartRecord& record, const Validators& answer);

/// The value of If-Range for resuming a part: the strong tag, else the
/// date; "" when the record has neither.
std::string if_range_value(const PartRecord& record);

/// What to do with a local file found under the name a download wants.
enum class PartVerdict : std::uint8_t {
  resume,        ///< ask for the rest of the part
  complete,      ///< the file on disk is the server's file: nothing to fetch
  start_over,    ///< the control's own empty file: write the answer into it
  changed,       ///< the control's part of an older version: fetch it again
  another_file,  ///< not this download's file: the download takes a free name
  too_large,     ///< an adopted file longer than the server's: left alone
};

/// The verdict on a file of `size` bytes whose record is `record` (nothing
/// when the file has none), for a download of `url` to which the server
/// answered with `answer`. `adopt_foreign` takes a file without a record
/// for a part of this download, checked by its length only.
PartVerdict judge_part(const std::optional<PartRecord>& record, std::int64_t size, const Validators& answer,
                       const std::string& url, bool adopt_foreign);

/// The name a browser gives the n-th copy: "name (n).ext", the extension
/// being what follows the last dot of the last path element (none for a
/// name that starts with its only dot). n starts at 1.
std::string numbered_name(const std::string& path, int n, char separator);

}  // namespace vintrel::queue
