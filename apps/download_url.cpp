#include "apps/download_url.hpp"

#include <algorithm>

#include "http/url.hpp"
#include "queue/added_url.hpp"
#include "text/text.hpp"

namespace vintrel::apps {

std::optional<DownloadUrl> parse_download_url(std::string_view url, std::string& why) {
  // The control strips exactly these prefixes, so "HTTP://" or "ftp://"
  // would reach it as a host name.
  if (!url.starts_with("http://") && !url.starts_with("https://")) {
    why = "only http:// and https:// URLs can be downloaded";
    return std::nullopt;
  }
  // It would reach the request line and the Host field, where a line end
  // starts a header of its own.
  if (const auto at = text::find_control(url); at != std::string_view::npos) {
    why = "the URL holds a " + text::control_name(url[at]);
    return std::nullopt;
  }
  const queue::AddedUrl parts = queue::split_added_url(std::string(url), true);
  const std::string_view rest = url.substr(url.find("//") + 2);
  if (rest.substr(0, rest.find('/')).find('@') != std::string_view::npos) {
    why = "user names in URLs are not supported";
    return std::nullopt;
  }
  if (parts.servName.empty()) {
    why = "the URL names no server";
    return std::nullopt;
  }
  const std::string& digits = parts.portText;
  const bool numeric = !digits.empty() && digits.size() <= 5 &&
                       std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
  const long port = numeric ? std::stol(digits) : 0;
  if (port < 1 || port > 65535) {
    why = "the port must be a number from 1 to 65535";
    return std::nullopt;
  }
  if (parts.remotePath.empty()) {
    why = "the URL names no file";
    return std::nullopt;
  }
  DownloadUrl result;
  result.server = parts.servName;
  result.port = static_cast<std::int32_t>(port);
  result.host = http::host_field(result.server, result.port, parts.secure);
  result.path = parts.remotePath;
  result.secure = parts.secure;
  const std::string_view without_query = std::string_view(result.path).substr(0, result.path.find('?'));
  result.file_name = std::string(without_query.substr(without_query.rfind('/') + 1));
  if (result.file_name.empty() || result.file_name == "." || result.file_name == "..") {
    why = "the URL names no file";
    return std::nullopt;
  }
  return result;
}

}  // namespace vintrel::apps
