#pragma once
// The folder a command is given with -d DIR, made ready for the control.

#include <string>

namespace vintrel::apps {

/// What became of the folder given with -d.
struct GivenFolder {
  /// True when the folder exists (now) and is a folder.
  bool usable = false;
  /// Absolute and lexically normal, without a trailing slash, since the
  /// control puts one between it and a file's name; set when usable.
  std::string path;
  /// The absolute path as the user's words became it, for messages.
  std::string shown;
  /// The system's word on why it cannot be used; may be empty even then.
  std::string reason;
};

/// Makes `directory` absolute and creates it when missing, as wget -P does.
GivenFolder given_folder(const std::string& directory);

}  // namespace vintrel::apps
