#include "queue/part_record.hpp"

#include <charconv>

#include "text/text.hpp"

namespace vintrel::queue {

namespace {

constexpr std::string_view magic = "vintrel-record 1";

// One line per value: a line end inside one would start a line of its own.
std::string one_line(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value)
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
  return out;
}

std::optional<std::int64_t> whole_number(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::string format_part_record(const PartRecord& record) {
  std::string text(magic);
  text += "\nurl " + one_line(record.url);
  if (!record.etag.empty()) text += "\netag " + one_line(record.etag);
  if (!record.last_modified.empty()) text += "\nlast-modified " + one_line(record.last_modified);
  if (record.length >= 0) text += "\nlength " + std::to_string(record.length);
  text += record.complete ? "\ncomplete 1\n" : "\ncomplete 0\n";
  return text;
}

std::optional<PartRecord> parse_part_record(std::string_view text) {
  if (!text.starts_with(magic) || !text.substr(magic.size()).starts_with('\n')) return std::nullopt;
  PartRecord record;
  bool ended = false;
  for (const std::string& line : text::split(std::string(text.substr(magic.size() + 1)), "\n")) {
    if (line.empty()) continue;
    const auto space = line.find(' ');
    const std::string_view name = std::string_view(line).substr(0, space);
    const std::string_view value =
        space == std::string::npos ? std::string_view() : std::string_view(line).substr(space + 1);
    if (name == "url") {
      record.url = value;
    } else if (name == "etag") {
      record.etag = value;
    } else if (name == "last-modified") {
      record.last_modified = value;
    } else if (name == "length") {
      const auto length = whole_number(value);
      if (!length || *length < 0) return std::nullopt;
      record.length = *length;
    } else if (name == "complete") {
      if (value != "0" && value != "1") return std::nullopt;
      record.complete = value == "1";
      ended = true;
    }
    // Names a later version adds are passed over.
  }
  // The last line is written last: a record cut short is no record.
  if (!ended) return std::nullopt;
  return record;
}

Validators validators_of(const http::ResponseHead& head, int code) {
  Validators v;
  // A validator goes back to the server in If-Range: one with a control
  // byte (a tab or a line end of the server's) is not taken at all.
  const auto clean = [](const std::string& value) { return text::find_control(value) == std::string::npos; };
  if (head.etag && !head.etag->starts_with("W/") && clean(*head.etag)) v.etag = *head.etag;
  if (head.last_modified && clean(*head.last_modified)) v.last_modified = *head.last_modified;
  if (code == 206) {
    if (head.content_range && head.content_range->total) v.length = *head.content_range->total;
  } else if (head.exact_length && !head.chunked) {
    v.length = *head.exact_length;
  }
  return v;
}

Version compare_version(const PartRecord& record, const Validators& answer) {
  if (record.length >= 0 && answer.length >= 0 && record.length != answer.length) return Version::different;
  if (!record.etag.empty() && !answer.etag.empty())
    return record.etag == answer.etag ? Version::same : Version::different;
  if (!record.last_modified.empty() && !answer.last_modified.empty())
    return record.last_modified == answer.last_modified ? Version::same : Version::different;
  return Version::unknown;
}

std::string if_range_value(const PartRecord& record) {
  return record.etag.empty() ? record.last_modified : record.etag;
}

PartVerdict judge_part(const std::optional<PartRecord>& record, std::int64_t size, const Validators& answer,
                       const std::string& url, bool adopt_foreign) {
  if (!record) {
    if (!adopt_foreign) return PartVerdict::another_file;
    // Taken for a part on the user's word; only the lengths can object.
    if (answer.length >= 0 && size > answer.length) return PartVerdict::too_large;
    if (answer.length >= 0 && size == answer.length) return PartVerdict::complete;
    return size > 0 ? PartVerdict::resume : PartVerdict::start_over;
  }
  const Version version = compare_version(*record, answer);
  // The control's file of another address is only this download's when the
  // server vouches that it is the same version.
  if (record->url != url && version != Version::same) return PartVerdict::another_file;
  if (record->complete) {
    // Cut or grown since it was finished: someone else's bytes now.
    if (record->length >= 0 && size != record->length) return PartVerdict::another_file;
    if (version == Version::different) return PartVerdict::another_file;
    if (answer.length >= 0 && answer.length != size) return PartVerdict::another_file;
    return PartVerdict::complete;
  }
  if (version == Version::different) return PartVerdict::changed;
  // A file that shrank below the part is another version, not a bad range.
  if (answer.length >= 0 && size > answer.length) return PartVerdict::changed;
  if (record->length >= 0 && size > record->length) return PartVerdict::changed;
  if (size == 0) return PartVerdict::start_over;
  if (answer.length >= 0 && size == answer.length) return PartVerdict::complete;
  return PartVerdict::resume;
}

std::string numbered_name(const std::string& path, int n, char separator) {
  const auto slash = path.rfind(separator);
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  auto dot = path.rfind('.');
  if (dot == std::string::npos || dot <= name_start) dot = path.size();
  return path.substr(0, dot) + " (" + std::to_string(n) + ")" + path.substr(dot);
}

}  // namespace vintrel::queue
