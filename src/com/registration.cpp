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

// The library's locale as its key names it: "409".
std::wstring lcid_text() {
  wchar_t lcid[9];
  std::swprintf(lcid, 9, L"%x", static_cast<unsigned>(typelib::library().lcid));
  return lcid;
}

// Opens `path` below `root` in `view`; null when it is not there.
HKEY open_key(HKEY root, const std::wstring& path, REGSAM access, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, access | view, &key) != ERROR_SUCCESS) return nullptr;
  return key;
}

bool key_exists(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = open_key(root, path, KEY_READ, view);
  if (key == nullptr) return false;
  RegCloseKey(key);
  return true;
}

}  // namespace

const wchar_t* typelib_platform() { return sizeof(void*) == 8 ? L"win64" : L"win32"; }

REGSAM own_view() { return sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

REGSAM other_view() { return sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }

std::vector<RegistryValue> registry_values(const std::wstring& module_path) {
  const typelib::Library& lib = typelib::library();
  const std::wstring libid = text_of(lib.id);
  const std::wstring version = wide(typelib::version_text());
  const std::wstring lcid = lcid_text();

  std::vector<RegistryValue> values;
  auto add = [&](std::wstring key, std::wstring name, std::wstring value) {
    values.push_back({std::move(key), std::move(name), std::move(value)});
  };

  const std::wstring tl = typelib_key();
  add(tl, L"", wide(lib.description));
  add(tl + L"\\" + lcid + L"\\" + typelib_platform(), L"", module_path);
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
  std::vector<std::wstring> keys = own_view_keys();
  for (const typelib::Class& cls : typelib::classes()) keys.push_back(wide(typelib::progid(cls)));
  keys.push_back(typelib_key());
  return keys;
}

std::vector<std::wstring> own_view_keys() {
  const typelib::Library& lib = typelib::library();
  std::vector<std::wstring> keys;
  for (const typelib::Class& cls : typelib::classes()) keys.push_back(L"CLSID\\" + text_of(cls.id));
  keys.push_back(L"Interface\\" + text_of(lib.interface_id));
  keys.push_back(L"Interface\\" + text_of(lib.events_id));
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
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | own_view(), nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
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

// The default value of `path` below `root` in `view`, or nothing.
bool read_default(HKEY root, const std::wstring& path, REGSAM view, std::wstring& value) {
  HKEY key = open_key(root, path, KEY_QUERY_VALUE, view);
  if (key == nullptr) return false;
  wchar_t buffer[2048];
  DWORD size = sizeof buffer - sizeof(wchar_t);
  DWORD type = 0;
  const LSTATUS status = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) return false;
  buffer[size / sizeof(wchar_t)] = L'\0';
  value = buffer;
  return true;
}

// Removes `path` and what is below it, in `view`; absent is fine.
// RegDeleteTreeW takes no view: a 64-bit registration must never remove a
// 32-bit one's keys, nor the other way round.
bool remove_tree(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = open_key(root, path, KEY_READ, view);
  if (key == nullptr) return !key_exists(root, path, view);
  std::vector<std::wstring> children;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.emplace_back(name, length);
  }
  RegCloseKey(key);
  bool ok = true;
  for (const std::wstring& child : children) ok = remove_tree(root, path + L"\\" + child, view) && ok;
  const LSTATUS status = RegDeleteKeyExW(root, path.c_str(), view, 0);
  return ok && (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND);
}

// Removes `path` when nothing is left in it.
void remove_if_empty(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = open_key(root, path, KEY_READ, view);
  if (key == nullptr) return;
  DWORD subkeys = 0;
  DWORD values = 0;
  const bool empty = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                      nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                     subkeys == 0 && values == 0;
  RegCloseKey(key);
  if (empty) RegDeleteKeyExW(root, path.c_str(), view, 0);
}

}  // namespace

HRESULT unregister_server(HKEY root, const std::wstring& module_path) {
  const std::wstring classes = classes_key() + L"\\";
  const std::wstring server = classes + L"CLSID\\" + text_of(typelib::classes().front().id) + L"\\InprocServer32";
  std::wstring registered;
  // Another copy of the module registered since: the registration is its.
  if (read_default(root, server, own_view(), registered) && _wcsicmp(registered.c_str(), module_path.c_str()) != 0)
    return S_OK;
  bool ok = true;
  for (const std::wstring& key : own_view_keys()) ok = remove_tree(root, classes + key, own_view()) && ok;
  // The programmatic identifiers and the type library's key are one for
  // both views on 64-bit Windows: while the other kind of the module is
  // registered they stay, less this kind's entry of the library.
  const std::wstring library = classes + typelib_key();
  if (key_exists(root, server, other_view())) {
    ok = remove_tree(root, library + L"\\" + lcid_text() + L"\\" + typelib_platform(), own_view()) && ok;
    return ok ? S_OK : SELFREG_E_CLASS;
  }
  for (const typelib::Class& cls : typelib::classes())
    ok = remove_tree(root, classes + wide(typelib::progid(cls)), own_view()) && ok;
  ok = remove_tree(root, library, own_view()) && ok;
  // The library's key goes when no other version is left in it.
  remove_if_empty(root, classes + L"TypeLib\\" + text_of(typelib::library().id), own_view());
  return ok ? S_OK : SELFREG_E_CLASS;
}

}  // namespace vintrel::com
