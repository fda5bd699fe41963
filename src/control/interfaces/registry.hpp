#pragma once
// The per-user registry of classes: which module serves which class, found by
// class identifier or programmatic identifier. A text file of lines
// "key<TAB>value"; keys are paths such as "CLSID/{...}/InprocServer32",
// compared in any letter case. Lines this code does not understand are kept
// as they are, so one module's registration never loses another's.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/interfaces/guid.hpp"

namespace vintrel::control {

/// The keys modules write and creators read.
namespace registry_key {
/// The class identifier of a programmatic identifier.
std::string progid(std::string_view progid);
/// The class's name; the key under which everything of the class sits.
std::string clsid(const Guid& clsid);
/// The path of the module that serves the class.
std::string inproc_server(const Guid& clsid);
}  // namespace registry_key

class Registry {
 public:
  /// $VINTREL_REGISTRY when set and not empty, else
  /// $XDG_DATA_HOME/vintrel/registry, else ~/.local/share/vintrel/registry.
  static std::filesystem::path default_path();

  /// The registry in `path`; a missing file is an empty registry. Nothing
  /// when the file exists but cannot be read: writing it back then would
  /// lose what it holds.
  static std::optional<Registry> load(const std::filesystem::path& path);

  /// The value of `key`, nothing when absent.
  std::optional<std::string> get(std::string_view key) const;
  /// Sets `key` to `value`, adding the key at the end when new.
  void set(std::string_view key, std::string_view value);
  /// Removes `key`; false when it was absent.
  bool erase(std::string_view key);
  /// Number of keys held.
  std::size_t size() const;

  /// Writes the registry back to its file, creating its folder. The file is
  /// replaced in one step, so a reader never sees half of it. False when
  /// it could not be written.
  bool save() const;

  const std::filesystem::path& path() const { return path_; }

 private:
  struct Line {
    std::string key;
    std::string value;
    bool verbatim = false;  // a comment or a line without a key, kept as it was
  };
  Line* find(std::string_view key);
  const Line* find(std::string_view key) const;

  std::filesystem::path path_;
  std::vector<Line> lines_;
};

}  // namespace vintrel::control
