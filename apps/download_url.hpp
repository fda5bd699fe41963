#pragma once
// The URLs `vintrel get` accepts, checked before the control sees them: the
// control reads http and https URLs and names the local file after the last
// path segment, so anything else is a usage error told to the user at once
// rather than a failure deep in the queue.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vintrel::apps {

/// Where a file lives: the parts a candidate server record needs, read the
/// way the control reads the URLs handed to it.
struct DownloadUrl {
  std::string server;  ///< Host name or address to connect to.
  std::string host;    ///< The Host field.
  std::int32_t port = 80;
  std::string path;       ///< From the first '/' on, query included.
  std::string file_name;  ///< The last path segment without its query.
  bool secure = false;    ///< https
};

/// The parts of `url`, or nullopt with `why` set: only
/// "http://host[:port]/...name" and "https://host[:port]/...name" are
/// accepted (the scheme in any case, a port from 1 to 65535, IPv6
/// addresses in brackets, a path that ends in a file name).
std::optional<DownloadUrl> parse_download_url(std::string_view url, std::string& why);

/// `url` as the control is handed it: the scheme in lower case, the
/// fragment (which never goes to a server) left out.
std::string control_url(std::string_view url);

}  // namespace vintrel::apps
