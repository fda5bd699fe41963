#pragma once
// A fresh folder under the system's temporary folder, removed with its
// contents when the test ends.

#include <filesystem>
#include <string>

namespace vintrel::testing {

/// A temporary folder that lives as long as the object.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  /// The path of `name` inside the folder, as text.
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

/// Reads a whole file as bytes in a string ("" when missing).
std::string read_file(const std::string& path);
/// Writes `bytes` as the whole content of `path`.
void write_file(const std::string& path, const std::string& bytes);

}  // namespace vintrel::testing
