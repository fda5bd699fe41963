#pragma once
// The files `vintrel get` is asked for: read from a URL list, and shared out
// among controls, each of which holds a limited number.

#include <cstddef>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vintrel::apps {

/// One URL to fetch and the other servers that hold the same file.
struct FileRequest {
  std::string url;
  std::vector<std::string> mirrors;
  /// The checksum the file must have, ALGO=HEX; empty for none.
  std::string checksum = {};
};

/// A URL list that cannot be read as it is meant: the message names the
/// line.
struct UrlListError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// The files of a URL list as wget -i and aria2 -i read it: one file a
/// line, its first URL then its mirrors, separated by blanks or tabs; blank
/// lines and lines starting with '#' are skipped. An indented NAME=VALUE
/// line is an option of the file above it, as in aria2's lists; the one
/// option read is checksum=ALGO=HEX. Other indented lines are files, as
/// before. Throws UrlListError for an unknown option, an option before any
/// file, a second checksum for a file or one that is not ALGO=HEX.
std::vector<FileRequest> read_url_list(std::istream& in);

/// A control holds at most this many files.
inline constexpr std::size_t files_per_control = 100;
/// Starts of a server a control makes in its life: one per server of each
/// file, and one more for a first file with mirrors (started alone first).
inline constexpr std::size_t server_starts_per_control = 100;

/// How many of `files`, in order, each successive control takes: as many
/// as fit within a control's files and server starts. A file that fits no
/// control alone (too many mirrors) gets one to itself.
std::vector<std::size_t> split_into_controls(const std::vector<FileRequest>& files);

}  // namespace vintrel::apps
