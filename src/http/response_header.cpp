#include "http/response_header.hpp"

#include <cctype>
#include <charconv>

#include "automation/automation.hpp"
#include "text/text.hpp"

namespace vintrel::http {

namespace {

std::optional<std::int64_t> whole_number(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

// A length text read as a number, as the runtime reads one ("&H10" is 16);
// nothing when it is not one or is negative.
std::optional<double> length_of(std::string_view text) {
  try {
    const double value = automation::parse_number(text);
    if (value < 0) return std::nullopt;
    return value;
  } catch (const automation::AutomationError&) {
    return std::nullopt;
  }
}

// The digits of a length exactly, blanks around them allowed.
std::optional<std::int64_t> exact_length_of(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

// The line of `text` that starts at `start`, without its line end.
std::string_view line_at(std::string_view text, std::size_t start) {
  const auto end = text.find("\r\n", start);
  return text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

constexpr std::string_view length_name = "Content-Length";

}  // namespace

std::size_t find_header_end(std::string_view gathered, std::size_t from) { return gathered.find("\r\n\r\n", from); }

std::optional<int> status_code(std::string_view status_line) {
  const auto pieces = text::split(status_line, " ");
  if (pieces.size() < 2) return std::nullopt;
  const auto code = whole_number(pieces[1]);
  if (!code || *code > 999) return std::nullopt;
  return static_cast<int>(*code);
}

std::string reason_phrase(std::string_view status_line) {
  const auto first = status_line.find(' ');
  if (first == std::string_view::npos) return {};
  const auto second = status_line.find(' ', first + 1);
  if (second == std::string_view::npos) return {};
  return std::string(text::trim(status_line.substr(second + 1)));
}

namespace {

// Calls `each` with the value of every field `name` (any letter case), in
// order, blanks around it trimmed; stops when it returns false.
template <class Each>
void for_each_field(std::string_view header, std::string_view name, Each&& each) {
  std::size_t start = header.find("\r\n");
  while (start != std::string_view::npos) {
    start += 2;
    const auto end = header.find("\r\n", start);
    const auto line = header.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    const auto colon = line.find(':');
    if (colon != std::string_view::npos && text::iequals(text::trim(line.substr(0, colon)), name) &&
        !each(text::trim(line.substr(colon + 1))))
      return;
    start = end;
  }
}

}  // namespace

std::optional<std::string> field_value(std::string_view header, std::string_view name) {
  std::optional<std::string> found;
  for_each_field(header, name, [&](std::string_view value) {
    found = std::string(value);
    return false;
  });
  return found;
}

std::optional<std::string> field_values(std::string_view header, std::string_view name) {
  std::optional<std::string> joined;
  for_each_field(header, name, [&](std::string_view value) {
    if (!joined) {
      joined = std::string(value);
    } else if (!value.empty()) {
      if (!joined->empty()) *joined += ", ";
      *joined += value;
    }
    return true;
  });
  return joined;
}

HeadScan scan_head(std::string_view gathered, std::size_t arrived) {
  HeadScan scan;
  const auto end = find_header_end(gathered, arrived >= 3 ? arrived - 3 : 0);
  if (end == std::string_view::npos) {
    scan.too_large = gathered.size() > max_header_size;
  } else {
    scan.end = end;
    scan.too_large = end + 4 > max_header_size;
  }
  return scan;
}

ResponseHead read_response_head(std::string_view head) {
  ResponseHead value;
  value.status_line = std::string(line_at(head, 0));
  value.status = status_code(value.status_line);
  value.reason = reason_phrase(value.status_line);

  // The length line: the first line that carries the name, its text after
  // the first space.
  for (std::size_t start = 0; start <= head.size();) {
    const auto line = line_at(head, start);
    if (line.find(length_name) != std::string_view::npos) {
      const auto space = line.find(' ');
      const auto text = space == std::string_view::npos ? line : line.substr(space + 1);
      value.length_given = true;
      value.content_length = length_of(text);
      if (value.content_length) value.exact_length = exact_length_of(text);
      break;
    }
    start += line.size() + 2;
  }

  // The size check's reading: a fixed 16 characters past the name.
  if (const auto at = head.find(length_name); at != std::string_view::npos && at + 16 <= head.size())
    value.size_check_length = length_of(line_at(head, at + 16));

  value.chunked = is_chunked(head);
  if (const auto range = field_value(head, "Content-Range")) value.content_range = parse_content_range(*range);
  value.location = field_value(head, "Location");
  value.etag = field_value(head, "ETag");
  if (value.etag && value.etag->empty()) value.etag.reset();
  value.last_modified = field_value(head, "Last-Modified");
  if (value.last_modified && value.last_modified->empty()) value.last_modified.reset();
  value.repr_digest = field_values(head, "Repr-Digest");
  value.content_digest = field_values(head, "Content-Digest");
  value.digest = field_values(head, "Digest");
  value.content_encoding = field_values(head, "Content-Encoding");
  return value;
}

bool is_chunked(std::string_view header) {
  const auto value = field_value(header, "Transfer-Encoding");
  if (!value) return false;
  // The last coding decides how the body ends.
  const auto pieces = text::split(*value, ",");
  return !pieces.empty() && text::iequals(text::trim(pieces.back()), "chunked");
}

std::optional<ContentRange> parse_content_range(std::string_view value) {
  value = text::trim(value);
  if (value.size() < 6 || !text::iequals(value.substr(0, 6), "bytes ")) return std::nullopt;
  value = text::trim(value.substr(6));
  const auto slash = value.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  ContentRange range;
  const auto span = text::trim(value.substr(0, slash));
  const auto total = text::trim(value.substr(slash + 1));
  if (total != "*") {
    range.total = whole_number(total);
    if (!range.total) return std::nullopt;
  }
  if (span != "*") {
    const auto dash = span.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    range.first = whole_number(span.substr(0, dash));
    range.last = whole_number(span.substr(dash + 1));
    if (!range.first || !range.last || *range.last < *range.first) return std::nullopt;
  }
  return range;
}

}  // namespace vintrel::http
