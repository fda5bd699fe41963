#pragma once
// The URLs `vintrel get` accepts, checked before the control sees them: the
// control reads only plain http URLs and names the local file after the last
// path segment, so anything else is a usage error told to the user at once
// rather than a failure deep in the queue.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vintrel::apps {

/// Where a file lives: the parts a candidate server record needs.
struct DownloadUrl {
  std::string server;     ///< Host name or address, as written.
  std::int32_t port = 80;
  std::string path;       ///< From the first '/' on, query included.
  std::string file_name;  ///< The last path segment without its query.
};

/// The parts of `url`, or nullopt with `why` set: only "http://host[:port]/...
/// name" is accepted (lowercase scheme, a port from 1 to 65535, a path that
/// ends in a file name).
std::optional<DownloadUrl> parse_download_url(std::string_view url, std::string& why);

}  // namespace vintrel::apps
