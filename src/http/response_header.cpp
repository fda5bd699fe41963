#include "http/response_header.hpp"

#include <cctype>
#include <charconv>

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

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool same_letters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t n = 0; n < a.size(); ++n)
    if (std::tolower(static_cast<unsigned char>(a[n])) != std::tolower(static_cast<unsigned char>(b[n]))) return false;
  return true;
}

}  // namespace

std::size_t find_header_end(std::string_view gathered, std::size_t from) {
  return gathered.find("\r\n\r\n", from);
}

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
  return std::string(trim(status_line.substr(second + 1)));
}

std::optional<std::string> field_value(std::string_view header, std::string_view name) {
  std::size_t start = header.find("\r\n");
  while (start != std::string_view::npos) {
    start += 2;
    const auto end = header.find("\r\n", start);
    const auto line = header.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    const auto colon = line.find(':');
    if (colon != std::string_view::npos && same_letters(trim(line.substr(0, colon)), name))
      return std::string(trim(line.substr(colon + 1)));
    start = end;
  }
  return std::nullopt;
}

bool is_chunked(std::string_view header) {
  const auto value = field_value(header, "Transfer-Encoding");
  if (!value) return false;
  // The last coding decides how the body ends.
  const auto pieces = text::split(*value, ",");
  return !pieces.empty() && same_letters(trim(pieces.back()), "chunked");
}

std::optional<ContentRange> parse_content_range(std::string_view value) {
  value = trim(value);
  if (value.size() < 6 || !same_letters(value.substr(0, 6), "bytes ")) return std::nullopt;
  value = trim(value.substr(6));
  const auto slash = value.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  ContentRange range;
  const auto span = trim(value.substr(0, slash));
  const auto total = trim(value.substr(slash + 1));
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
