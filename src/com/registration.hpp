#pragma once
// What regsvr32 writes for the module and takes away again: the classes
// with their programmatic identifiers, the type library and its two
// interfaces, as the Linux module's registration lists them, in the
// Windows registry. Per user (HKEY_CURRENT_USER\Software\Classes) unless
// the process runs elevated, then for the machine
// (HKEY_LOCAL_MACHINE\Software\Classes).

#include <windows.h>

#include <string>
#include <vector>

namespace vintrel::com {

/// One value to write: `key` below the classes root, `name` empty for the
/// key's default value.
struct RegistryValue {
  std::wstring key;
  std::wstring name;
  std::wstring value;
};

/// Everything registration writes for the module at `module_path`.
std::vector<RegistryValue> registry_values(const std::wstring& module_path);
/// The keys registration makes, deepest first: what unregistration removes.
std::vector<std::wstring> registry_keys();

/// True when the process runs with an elevated (administrator) token.
bool elevated();

/// Writes the values under `root`'s Software\Classes. SELFREG_E_CLASS when
/// a key cannot be written (what was written stays, as regsvr32 reports).
HRESULT register_server(HKEY root, const std::wstring& module_path);
/// Removes the keys registration made under `root`, when they name this
/// module (another copy registered since keeps its registration). S_OK also
/// when there was nothing to remove.
HRESULT unregister_server(HKEY root, const std::wstring& module_path);

}  // namespace vintrel::com
