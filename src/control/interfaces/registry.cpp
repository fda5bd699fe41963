#include "control/interfaces/registry.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "text/text.hpp"

namespace vintrel::control {

namespace {

// A path may hold any byte; tabs and line ends must not split an entry.
std::string escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] != '\\' || k + 1 == text.size()) {
      out += text[k];
      continue;
    }
    switch (text[++k]) {
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        out += text[k];
    }
  }
  return out;
}

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

}  // namespace

namespace registry_key {
std::string progid(std::string_view progid) { return "ProgID/" + std::string(progid); }
std::string clsid(const Guid& clsid) { return "CLSID/" + clsid.to_string(); }
std::string inproc_server(const Guid& id) { return clsid(id) + "/InprocServer32"; }
}  // namespace registry_key

std::filesystem::path Registry::default_path() {
  if (const std::string own = env("VINTREL_REGISTRY"); !own.empty()) return own;
  // The XDG rules ignore a relative data folder.
  if (const std::string xdg = env("XDG_DATA_HOME"); !xdg.empty() && xdg.front() == '/')
    return std::filesystem::path(xdg) / "vintrel" / "registry";
  return std::filesystem::path(env("HOME")) / ".local" / "share" / "vintrel" / "registry";
}

std::optional<Registry> Registry::load(const std::filesystem::path& path) {
  Registry registry;
  registry.path_ = path;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    if (ec) return std::nullopt;
    return registry;
  }
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  while (std::getline(in, text)) {
    const auto tab = text.find('\t');
    if (text.empty() || text.front() == '#' || tab == std::string::npos) {
      registry.lines_.push_back(Line{text, {}, true});
      continue;
    }
    registry.lines_.push_back(Line{unescape(text.substr(0, tab)), unescape(text.substr(tab + 1)), false});
  }
  if (in.bad()) return std::nullopt;
  return registry;
}

Registry::Line* Registry::find(std::string_view key) {
  for (auto& line : lines_)
    if (!line.verbatim && text::iequals(line.key, key)) return &line;
  return nullptr;
}

const Registry::Line* Registry::find(std::string_view key) const {
  for (const auto& line : lines_)
    if (!line.verbatim && text::iequals(line.key, key)) return &line;
  return nullptr;
}

std::optional<std::string> Registry::get(std::string_view key) const {
  const Line* line = find(key);
  if (!line) return std::nullopt;
  return line->value;
}

void Registry::set(std::string_view key, std::string_view value) {
  if (Line* line = find(key)) {
    line->value = value;
    return;
  }
  lines_.push_back(Line{std::string(key), std::string(value), false});
}

bool Registry::erase(std::string_view key) {
  for (auto it = lines_.begin(); it != lines_.end(); ++it)
    if (!it->verbatim && text::iequals(it->key, key)) {
      lines_.erase(it);
      return true;
    }
  return false;
}

std::size_t Registry::size() const {
  std::size_t count = 0;
  for (const auto& line : lines_)
    if (!line.verbatim) ++count;
  return count;
}

bool Registry::save() const {
  std::error_code ec;
  if (path_.has_parent_path()) std::filesystem::create_directories(path_.parent_path(), ec);
  if (ec) return false;
  std::ostringstream text;
  for (const auto& line : lines_) {
    if (line.verbatim)
      text << line.key << '\n';
    else
      text << escape(line.key) << '\t' << escape(line.value) << '\n';
  }
  // Written beside the file and renamed over it: a crash or a full disk
  // leaves the old registry whole.
  std::filesystem::path temporary = path_;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text.str();
    out.flush();
    if (!out) {
      out.close();
      std::filesystem::remove(temporary, ec);
      return false;
    }
  }
  std::filesystem::rename(temporary, path_, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    return false;
  }
  return true;
}

}  // namespace vintrel::control
