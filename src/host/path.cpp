#include "host/path.hpp"

#include <charconv>
#include <cstdint>
#include <utility>

#include "host/protocol_failure.hpp"
#include "host/session.hpp"

namespace vintrel::host {

using automation::Variant;

namespace {

bool name_char(char c, bool first) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (!first && c >= '0' && c <= '9');
}

}  // namespace

std::vector<Segment> PathParser::parse() {
  std::vector<Segment> segments;
  do {
    segments.push_back(segment());
  } while (take('.'));
  if (at_ < text_.size()) bad("unexpected '" + std::string(1, text_[at_]) + "'");
  return segments;
}

void PathParser::bad(const std::string& why) const {
  fail(protocol_error::bad_request, "bad path \"" + std::string(text_) + "\": " + why);
}

bool PathParser::take(char c) {
  skip_blanks();
  if (at_ < text_.size() && text_[at_] == c) {
    ++at_;
    return true;
  }
  return false;
}

void PathParser::skip_blanks() {
  while (at_ < text_.size() && text_[at_] == ' ') ++at_;
}

Segment PathParser::segment() {
  skip_blanks();
  Segment s;
  while (at_ < text_.size() && name_char(text_[at_], s.name.empty())) s.name += text_[at_++];
  if (s.name.empty()) bad("a member name is missing");
  if (!take('(')) return s;
  s.indexed = true;
  if (take(')')) return s;
  do {
    s.index.push_back(argument());
  } while (take(','));
  if (!take(')')) bad("')' is missing");
  return s;
}

Variant PathParser::argument() {
  skip_blanks();
  if (at_ < text_.size() && text_[at_] == '"') {
    const std::size_t end = text_.find('"', at_ + 1);
    if (end == std::string_view::npos) bad("a string is not closed");
    std::string value(text_.substr(at_ + 1, end - at_ - 1));
    at_ = end + 1;
    return Variant(std::move(value));
  }
  const std::size_t begin = at_;
  if (at_ < text_.size() && text_[at_] == '-') ++at_;
  while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
  const std::string_view digits = text_.substr(begin, at_ - begin);
  if (digits.empty() || digits == "-") bad("an index must be a whole number or a quoted string");
  // Read as 32 bits or not at all: a number beyond them must not wrap
  // round into another index.
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error == std::errc::result_out_of_range) automation::raise(automation::err::overflow);
  return Variant(value);
}

}  // namespace vintrel::host
