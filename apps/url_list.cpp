#include "apps/url_list.hpp"

#include <utility>

#include "http/digest.hpp"

namespace vintrel::apps {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// An option's name: letters, digits and '-' (a URL has a ':' before any
// '=', so an indented URL is never taken for an option).
bool is_option_name(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-')) return false;
  return true;
}

// Reads the option line `text` (blanks around it removed) into `file`.
void read_option(std::string_view text, FileRequest* file, std::size_t number) {
  const std::string where = "line " + std::to_string(number) + ": ";
  const auto equals = text.find('=');
  const std::string name(text.substr(0, equals));
  if (name != "checksum")
    throw UrlListError(where + "unknown option \"" + name + "\" (the one option read is checksum=ALGO=HEX)");
  if (!file) throw UrlListError(where + "an option line follows the URL it belongs to");
  if (!file->checksum.empty()) throw UrlListError(where + "a second checksum for " + file->url);
  const std::string value(text.substr(equals + 1));
  std::string why;
  if (!http::parse_checksum(value, why)) throw UrlListError(where + "checksum " + value + ": " + why);
  file->checksum = value;
}

}  // namespace

std::vector<FileRequest> read_url_list(std::istream& in) {
  std::vector<FileRequest> files;
  std::string line;
  std::size_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && is_blank(line.front())) {
      std::string_view text = line;
      while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
      while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
      const auto equals = text.find('=');
      if (equals != std::string_view::npos && is_option_name(text.substr(0, equals))) {
        read_option(text, files.empty() ? nullptr : &files.back(), number);
        continue;
      }
    }
    std::size_t at = 0;
    std::vector<std::string> words;
    while (true) {
      while (at < line.size() && is_blank(line[at])) ++at;
      if (at == line.size()) break;
      std::size_t end = at;
      while (end < line.size() && !is_blank(line[end])) ++end;
      words.push_back(line.substr(at, end - at));
      at = end;
    }
    if (words.empty() || words.front().front() == '#') continue;
    FileRequest file{words.front(), {}};
    file.mirrors.assign(words.begin() + 1, words.end());
    files.push_back(std::move(file));
  }
  return files;
}

std::vector<std::size_t> split_into_controls(const std::vector<FileRequest>& files) {
  std::vector<std::size_t> batches;
  std::size_t count = 0;
  std::size_t starts = 0;
  for (const FileRequest& file : files) {
    const std::size_t own = 1 + file.mirrors.size();
    // As the first of a control it is started once more, alone.
    const std::size_t as_first = own + (file.mirrors.empty() ? 0 : 1);
    if (count > 0 && (count == files_per_control || starts + own > server_starts_per_control)) {
      batches.push_back(count);
      count = 0;
      starts = 0;
    }
    starts += count == 0 ? as_first : own;
    ++count;
  }
  if (count > 0) batches.push_back(count);
  return batches;
}

}  // namespace vintrel::apps
