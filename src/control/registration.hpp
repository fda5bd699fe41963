#pragma once
// What registering the module writes into the registry of classes, and its
// removal. The data come from the type library; the module supplies its own
// path.

#include <filesystem>
#include <string>
#include <vector>

#include "control/interfaces/hresult.hpp"

namespace vintrel::control {

struct RegistryEntry {
  std::string key;
  std::string value;
};

/// Every entry registration of the module at `module_path` writes.
std::vector<RegistryEntry> registration_entries(const std::string& module_path);

/// Writes the entries into the registry file `registry`. SELFREG_E_CLASS
/// when the file cannot be read or written; it is then left as it was.
HRESULT register_module(const std::string& module_path, const std::filesystem::path& registry);
/// Removes the entries registration writes that still hold what it wrote.
/// When another copy of the module has registered since, its entries stay;
/// entries of other modules always stay. S_OK also when there was nothing to
/// remove.
HRESULT unregister_module(const std::string& module_path, const std::filesystem::path& registry);

}  // namespace vintrel::control
