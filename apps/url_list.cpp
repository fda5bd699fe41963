#include "apps/url_list.hpp"

#include <utility>

namespace vintrel::apps {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

std::vector<FileRequest> read_url_list(std::istream& in) {
  std::vector<FileRequest> files;
  std::string line;
  while (std::getline(in, line)) {
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
