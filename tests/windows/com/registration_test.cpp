// What regsvr32 writes and removes, against the registry itself: every key
// of the Linux registration has its Windows value, unregistration takes all
// of them and nothing else, and another copy's registration stays.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "com/registration.hpp"

namespace vintrel::com {
namespace {

const std::wstring module = L"C:\\vintrel-test\\Vintrel.dll";
const std::wstring classes = L"Software\\Classes\\";

bool exists(const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, (classes + key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

std::wstring value_of(const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t buffer[1024];
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_CURRENT_USER, (classes + key).c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS)
    return L"<none>";
  return buffer;
}

void make_key(const std::wstring& key) {
  HKEY handle = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_CURRENT_USER, (classes + key).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr),
      ERROR_SUCCESS);
  RegCloseKey(handle);
}

struct Registered : ::testing::Test {
  void TearDown() override {
    unregister_server(HKEY_CURRENT_USER, module);
    RegDeleteTreeW(HKEY_CURRENT_USER, (classes + L"Vintrel.Test.Sibling").c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, (classes + L"TypeLib\\{DEA46A7F-7C3D-4EBE-8A45-CBEC16A43765}").c_str());
  }
};

TEST_F(Registered, WritesTheClassesTheLibraryAndItsInterfaces) {
  ASSERT_EQ(register_server(HKEY_CURRENT_USER, module), S_OK);
  const std::wstring control = L"CLSID\\{C14EF994-D5AA-417A-84B1-46DCB9ECAC02}";
  const std::wstring server = L"CLSID\\{D20E73FB-C194-4BDE-A7BF-B4464310C434}";
  EXPECT_EQ(value_of(L"Vintrel.UserControl1\\CLSID"), L"{C14EF994-D5AA-417A-84B1-46DCB9ECAC02}");
  EXPECT_EQ(value_of(L"Vintrel.remoteServerLoc\\CLSID"), L"{D20E73FB-C194-4BDE-A7BF-B4464310C434}");
  for (const auto& cls : {control, server}) {
    EXPECT_EQ(value_of(cls + L"\\InprocServer32"), module);
    EXPECT_EQ(value_of(cls + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(value_of(cls + L"\\TypeLib"), L"{DEA46A7F-7C3D-4EBE-8A45-CBEC16A43765}");
    EXPECT_EQ(value_of(cls + L"\\Version"), L"446.0");
  }
  EXPECT_EQ(value_of(control), L"UserControl1");
  EXPECT_EQ(value_of(control + L"\\ProgID"), L"Vintrel.UserControl1");
  EXPECT_TRUE(exists(control + L"\\Control"));
  EXPECT_EQ(value_of(control + L"\\MiscStatus\\1"), L"132497");
  // Only the control is a control.
  EXPECT_FALSE(exists(server + L"\\Control"));
  EXPECT_EQ(value_of(L"TypeLib\\{DEA46A7F-7C3D-4EBE-8A45-CBEC16A43765}\\446.0\\409\\win64"), module);
  EXPECT_EQ(value_of(L"TypeLib\\{DEA46A7F-7C3D-4EBE-8A45-CBEC16A43765}\\446.0\\HELPDIR"), L"C:\\vintrel-test");
  for (const wchar_t* iid : {L"{7BF1047D-ABE1-4689-A7C8-C1F4681B48CB}", L"{C29C0A3C-49E0-4FEE-8F2F-3F143AD31BEC}"}) {
    const std::wstring key = std::wstring(L"Interface\\") + iid;
    EXPECT_EQ(value_of(key + L"\\TypeLib", L"Version"), L"446.0");
    EXPECT_EQ(value_of(key + L"\\ProxyStubClsid32"), L"{00020420-0000-0000-C000-000000000046}");
  }
  EXPECT_EQ(value_of(L"Interface\\{C29C0A3C-49E0-4FEE-8F2F-3F143AD31BEC}"), L"__UserControl1");
}

TEST_F(Registered, UnregisteringRemovesEveryKeyAndNothingElse) {
  make_key(L"Vintrel.Test.Sibling");
  ASSERT_EQ(register_server(HKEY_CURRENT_USER, module), S_OK);
  ASSERT_EQ(unregister_server(HKEY_CURRENT_USER, module), S_OK);
  for (const auto& key : registry_keys()) EXPECT_FALSE(exists(key)) << std::string(key.begin(), key.end());
  EXPECT_FALSE(exists(L"TypeLib\\{DEA46A7F-7C3D-4EBE-8A45-CBEC16A43765}"));
  EXPECT_TRUE(exists(L"Vintrel.Test.Sibling"));
  EXPECT_TRUE(exists(L"CLSID"));
  // Nothing left to remove is no failure.
  EXPECT_EQ(unregister_server(HKEY_CURRENT_USER, module), S_OK);
}

TEST_F(Registered, AnotherVersionOfTheLibraryKeepsItsKey) {
  make_key(L"TypeLib\\{DEA46A7F-7C3D-4EBE-8A45-CBEC16A43765}\\445.0");
  ASSERT_EQ(register_server(HKEY_CURRENT_USER, module), S_OK);
  ASSERT_EQ(unregister_server(HKEY_CURRENT_USER, module), S_OK);
  EXPECT_FALSE(exists(L"TypeLib\\{DEA46A7F-7C3D-4EBE-8A45-CBEC16A43765}\\446.0"));
  EXPECT_TRUE(exists(L"TypeLib\\{DEA46A7F-7C3D-4EBE-8A45-CBEC16A43765}\\445.0"));
}

TEST_F(Registered, ACopyRegisteredSinceKeepsItsRegistration) {
  const std::wstring other = L"D:\\elsewhere\\Vintrel.dll";
  ASSERT_EQ(register_server(HKEY_CURRENT_USER, module), S_OK);
  ASSERT_EQ(register_server(HKEY_CURRENT_USER, other), S_OK);
  EXPECT_EQ(unregister_server(HKEY_CURRENT_USER, module), S_OK);
  EXPECT_EQ(value_of(L"CLSID\\{C14EF994-D5AA-417A-84B1-46DCB9ECAC02}\\InprocServer32"), other);
  // The path is compared as Windows compares paths, in any letter case.
  EXPECT_EQ(unregister_server(HKEY_CURRENT_USER, L"d:\\ELSEWHERE\\vintrel.dll"), S_OK);
  EXPECT_FALSE(exists(L"CLSID\\{C14EF994-D5AA-417A-84B1-46DCB9ECAC02}"));
}

// The 32-bit and the 64-bit DLL registered side by side, in the machine's
// classes (the per-user ones have one view under Wine): removing this kind
// leaves the other's classes, the shared identifiers and its entry of the
// type library.
TEST(RegisteredBesideTheOtherKind, UnregisteringKeepsWhatTheOtherKindUses) {
  if (!elevated()) GTEST_SKIP() << "the machine's classes need an elevated process";
  const std::wstring server = classes + L"CLSID\\{C14EF994-D5AA-417A-84B1-46DCB9ECAC02}\\InprocServer32";
  const std::wstring library = classes + L"TypeLib\\{DEA46A7F-7C3D-4EBE-8A45-CBEC16A43765}";
  const std::wstring other = std::wstring(L"446.0\\409\\") + (own_view() == KEY_WOW64_64KEY ? L"win32" : L"win64");
  const std::wstring other_module = L"C:\\vintrel-other\\Vintrel.dll";
  auto write = [](const std::wstring& key, REGSAM view, const std::wstring& value) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &handle,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
  };
  auto present = [](const std::wstring& key, REGSAM view) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
  };
  write(server, other_view(), other_module);
  write(library + L"\\" + other, own_view(), other_module);
  ASSERT_EQ(register_server(HKEY_LOCAL_MACHINE, module), S_OK);
  ASSERT_EQ(unregister_server(HKEY_LOCAL_MACHINE, module), S_OK);
  const struct {
    std::wstring key;
    REGSAM view;
    bool kept;
  } keys[] = {
      {server, own_view(), false},
      {server, other_view(), true},
      {classes + L"Vintrel.UserControl1", own_view(), true},
      {classes + L"Vintrel.remoteServerLoc", own_view(), true},
      {library + L"\\" + other, own_view(), true},
      {library + L"\\446.0\\409\\" + typelib_platform(), own_view(), false},
  };
  for (const auto& k : keys) EXPECT_EQ(present(k.key, k.view), k.kept) << std::string(k.key.begin(), k.key.end());
  // The other kind's removal, simulated, then this kind's again: all gone.
  const std::wstring other_class = server.substr(0, server.rfind(L'\\'));
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, server.c_str(), other_view(), 0);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, other_class.c_str(), other_view(), 0);
  ASSERT_EQ(unregister_server(HKEY_LOCAL_MACHINE, module), S_OK);
  for (const auto& k : keys) EXPECT_FALSE(present(k.key, k.view)) << std::string(k.key.begin(), k.key.end());
  EXPECT_FALSE(present(library, own_view()));
}

}  // namespace
}  // namespace vintrel::com
