#pragma once
// What regsvr32 writes for the module and takes away again: the classes
// with their programmatic identifiers, the type library and its two
// interfaces, as the Linux module's registration lists them, in the
// Windows registry. Per user (HKEY_CURRENT_USER\Software\Classes) unless
// the process runs elevated, then for the machine
// (HKEY_LOCAL_MACHINE\Software\Classes); always in the registry view of
// the module's own kind, so that the 32-bit and the 64-bit DLL live side by
// side.

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
/// The keys registration makes: what unregistration removes when the other
/// kind of the module is not registered.
std::vector<std::wstring> registry_keys();
/// The keys that 64-bit Windows keeps apart for 32-bit and 64-bit
/// processes (the classes and interfaces); the others (programmatic
/// identifiers, the type library) are one key for both.
std::vector<std::wstring> own_view_keys();

/// The registry view of the module's own kind of process, where it
/// registers: KEY_WOW64_64KEY for the 64-bit DLL, KEY_WOW64_32KEY for the
/// 32-bit one (ignored by 32-bit Windows, which has one view).
REGSAM own_view();
/// The view of the other kind.
REGSAM other_view();
/// The type library's platform key for this kind: "win64" or "win32".
const wchar_t* typelib_platform();

/// True when the process runs with an elevated (administrator) token.
bool elevated();

/// Writes the values under `root`'s Software\Classes. SELFREG_E_CLASS when
/// a key cannot be written (what was written stays, as regsvr32 reports).
HRESULT register_server(HKEY root, const std::wstring& module_path);
/// Removes the keys registration made under `root`, when they name this
/// module (another copy registered since keeps its registration). While the
/// other kind of the module is registered, the keys both share stay, less
/// this kind's entry of the type library. S_OK also when there was nothing
/// to remove.
HRESULT unregister_server(HKEY root, const std::wstring& module_path);

}  // namespace vintrel::com
