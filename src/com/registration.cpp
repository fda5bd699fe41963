#include "com/registration.hpp"

#include <olectl.h>

#include <cwchar>

#include "com/values.hpp"
#include "control/type_library.hpp"

namespace vintrel::com {

namespace {

namespace typelib = control::typelib;

std::wstring wide(std::string_view text) { return to_utf16(text); }
std::wstring text_of(const control::Guid& id) { return wide(id.to_string()); }

// The marshaller of plain dispinterfaces, which script hosts on another
// apartment reach the control through.
constexpr const wchar_t* dispatch_proxy = L"{00020420-0000-0000-C000-000000000046}";

std::wstring folder_of(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring typelib_key() {
  return L"TypeLib\\" + text_of(typelib::library().id) + L"\\" + wide(typelib::version_text());
}

std::wstring classes_key() { return L"Software\\Classes"; }

}  // namespace

std::vector<RegistryValue> registry_values(const std::wstring& module_path) {
  const typelib::Library& lib = typelib::library();
  const std::wstring libid = text_of(lib.id);
  const std::wstring version = wide(typelib::version_text());
  wchar_t lcid[9];
  std::swprintf(lcid, 9, L"%x", static_cast<unsigned>(lib.lcid));

  std::vector<RegistryValue> values;
  auto add = [&](std::wstring key, std::wstring name, std::wstring value) {
    values.push_back({std::move(key), std::move(name), std::move(value)});
  };

  const std::wstring tl = typelib_key();
  add(tl, L"", wide(lib.description));
  add(tl + L"\\" + lcid + L"\\win64", L"", module_path);
  add(tl + L"\\FLAGS", L"", L"0");
  add(tl + L"\\HELPDIR", L"", folder_of(module_path));

  for (const typelib::Class& cls : typelib::classes()) {
    const std::wstring key = L"CLSID\\" + text_of(cls.id);
    const std::wstring progid = wide(typelib::progid(cls));
    add(progid, L"", wide(cls.name));
    add(progid + L"\\CLSID", L"", text_of(cls.id));
    add(key, L"", wide(cls.name));
    add(key + L"\\InprocServer32", L"", module_path);
    // Script hosts call a control on the thread that made it.
    add(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    add(key + L"\\ProgID", L"", progid);
    add(key + L"\\TypeLib", L"", libid);
    add(key + L"\\Version", L"", version);
    if (cls.control) {
      add(key + L"\\Control", L"", L"");
      add(key + L"\\ToolboxBitmap32", L"", module_path + L"," + std::to_wstring(lib.toolbox_bitmap));
      add(key + L"\\MiscStatus", L"", L"0");
      add(key + L"\\MiscStatus\\1", L"", std::to_wstring(lib.misc_status));
    }
  }

  const std::pair<std::string_view, control::Guid> interfaces[] = {{lib.interface_name, lib.interface_id},
                                                                   {lib.events_name, lib.events_id}};
  for (const auto& [name, id] : interfaces) {
    const std::wstring key = L"Interface\\" + text_of(id);
    add(key, L"", wide(name));
    add(key + L"\\ProxyStubClsid32", L"", dispatch_proxy);
    add(key + L"\\TypeLib", L"", libid);
    add(key + L"\\TypeLib", L"Version", version);
  }
  return values;
}

std::vector<std::wstring> registry_keys() {
  const typelib::Library& lib = typelib::library();
  std::vector<std::wstring> keys;
  for (const typelib::Class& cls : typelib::classes()) {
    keys.push_back(wide(typelib::progid(cls)));
    keys.push_back(L"CLSID\\" + text_of(cls.id));
  }
  keys.push_back(L"Interface\\" + text_of(lib.interface_id));
  keys.push_back(L"Interface\\" + text_of(lib.events_id));
  keys.push_back(typelib_key());
  return keys;
}

bool elevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  return ok && elevation.TokenIsElevated != 0;
}

HRESULT register_server(HKEY root, const std::wstring& module_path) {
  for (const RegistryValue& v : registry_values(module_path)) {
    HKEY key = nullptr;
    const std::wstring path = classes_key() + L"\\" + v.key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
      return SELFREG_E_CLASS;
    const auto bytes = static_cast<DWORD>((v.value.size() + 1) * sizeof(wchar_t));
    const LSTATUS status = RegSetValueExW(key, v.name.empty() ? nullptr : v.name.c_str(), 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(v.value.c_str()), bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return SELFREG_E_CLASS;
  }
  return S_OK;
}

namespace {

// The default value of `path` below `root`, or nothing.
bool read_default(HKEY root, const std::wstring& path, std::wstring& value) {
  wchar_t buffer[2048];
  DWORD size = sizeof buffer;
  if (RegGetValueW(root, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return false;
  value = buffer;
  return true;
}

// Removes `path` and what is below it; absent is fine.
bool remove_tree(HKEY root, const std::wstring& path) {
  const LSTATUS status = RegDeleteTreeW(root, path.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// Removes `path` when nothing is left in it.
void remove_if_empty(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD subkeys = 0;
  DWORD values = 0;
  const bool empty = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                      nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                     subkeys == 0 && values == 0;
  RegCloseKey(key);
  if (empty) RegDeleteKeyW(root, path.c_str());
}

}  // namespace

HRESULT unregister_server(HKEY root, const std::wstring& module_path) {
  const std::wstring classes = classes_key() + L"\\";
  const std::wstring server = classes + L"CLSID\\" + text_of(typelib::classes().front().id) + L"\\InprocServer32";
  std::wstring registered;
  // Another copy of the module registered since: the registration is its.
  if (read_default(root, server, registered) && _wcsicmp(registered.c_str(), module_path.c_str()) != 0) return S_OK;
  bool ok = true;
  for (const std::wstring& key : registry_keys()) ok = remove_tree(root, classes + key) && ok;
  // The library's key goes when no other version is left in it.
  remove_if_empty(root, classes + L"TypeLib\\" + text_of(typelib::library().id));
  return ok ? S_OK : SELFREG_E_CLASS;
}

}  // namespace vintrel::com
