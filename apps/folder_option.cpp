#include "apps/folder_option.hpp"

#include <filesystem>
#include <system_error>

namespace vintrel::apps {

GivenFolder given_folder(const std::string& directory) {
  GivenFolder given;
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::absolute(directory, error).lexically_normal();
  std::filesystem::create_directories(folder, error);
  given.shown = folder.string();
  if (error || !std::filesystem::is_directory(folder)) {
    if (error) given.reason = error.message();
    return given;
  }
  std::string text = folder.string();
  if (text.size() > 1 && text.back() == '/') text.pop_back();
  given.usable = true;
  given.path = text;
  return given;
}

}  // namespace vintrel::apps
