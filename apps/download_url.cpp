#include "apps/download_url.hpp"

#include <algorithm>
#include <cctype>

namespace vintrel::apps {

std::optional<DownloadUrl> parse_download_url(std::string_view url, std::string& why) {
  constexpr std::string_view scheme = "http://";
  // The control strips exactly this prefix, so "HTTP://" or "https://" would
  // reach it as a host name.
  if (!url.starts_with(scheme)) {
    why = "only http:// URLs can be downloaded";
    return std::nullopt;
  }
  const std::string_view rest = url.substr(scheme.size());
  const auto slash = rest.find('/');
  const std::string_view authority = rest.substr(0, slash);
  if (authority.find('@') != std::string_view::npos) {
    why = "user names in URLs are not supported";
    return std::nullopt;
  }
  DownloadUrl parts;
  const auto colon = authority.find(':');
  parts.server = std::string(authority.substr(0, colon));
  if (parts.server.empty()) {
    why = "the URL names no server";
    return std::nullopt;
  }
  if (colon != std::string_view::npos) {
    const std::string_view digits = authority.substr(colon + 1);
    const bool numeric = !digits.empty() && digits.size() <= 5 &&
                         std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    const long port = numeric ? std::stol(std::string(digits)) : 0;
    if (port < 1 || port > 65535) {
      why = "the port must be a number from 1 to 65535";
      return std::nullopt;
    }
    parts.port = static_cast<std::int32_t>(port);
  }
  if (slash == std::string_view::npos) {
    why = "the URL names no file";
    return std::nullopt;
  }
  parts.path = std::string(rest.substr(slash));
  const std::string_view without_query = std::string_view(parts.path).substr(0, parts.path.find('?'));
  parts.file_name = std::string(without_query.substr(without_query.rfind('/') + 1));
  if (parts.file_name.empty() || parts.file_name == "." || parts.file_name == "..") {
    why = "the URL names no file";
    return std::nullopt;
  }
  return parts;
}

}  // namespace vintrel::apps
