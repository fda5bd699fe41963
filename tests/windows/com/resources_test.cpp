// What Vintrel.dll carries besides its code, read from the built file as
// Explorer and containers read it: the version resource's fields, the type
// library and the toolbox picture registration points at.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "control/type_library.hpp"

namespace vintrel::com {
namespace {

// The DLL under test: VINTREL_DLL, else the one this build made beside the
// test program's folder (build/tests/windows/com -> build/src/com).
std::wstring dll_path() {
  wchar_t buffer[MAX_PATH];
  if (GetEnvironmentVariableW(L"VINTREL_DLL", buffer, MAX_PATH) - 1U < MAX_PATH - 1U) return buffer;
  GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  std::wstring path = buffer;
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"..\\..\\..\\src\\com\\Vintrel.dll";
}

// One string of the version resource's U.S. English, Unicode table.
std::wstring version_string(const std::string& version_info, const wchar_t* name) {
  const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(version_info.data(), query.c_str(), &value, &length) || value == nullptr) return L"<none>";
  return static_cast<const wchar_t*>(value);
}

TEST(DllResources, TheVersionNamesTheProductTheFileAndWhatItIs) {
  const std::wstring path = dll_path();
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  ASSERT_GT(size, 0U) << "no version resource in the DLL (VINTREL_DLL names it)";
  std::string info(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDU);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  const std::wstring file_version = version_string(info, L"FileVersion");
  const std::wstring numbers =
      std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
      std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionLS));
  const struct {
    const wchar_t* name;
    std::wstring expected;
  } strings[] = {
      {L"ProductName", L"Vintrel"},
      {L"FileVersion", numbers},
      {L"OriginalFilename", L"Vintrel.dll"},
      {L"FileDescription",
       sizeof(void*) == 8 ? L"Vintrel download control (64-bit)" : L"Vintrel download control (32-bit)"},
  };
  for (const auto& s : strings) EXPECT_EQ(version_string(info, s.name), s.expected) << s.name;
  EXPECT_NE(numbers, L"0.0.0.0");
}

TEST(DllResources, TheTypeLibraryAndTheToolboxPictureRegistrationNames) {
  HMODULE dll = LoadLibraryExW(dll_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(dll, nullptr);
  const auto bitmap = control::typelib::library().toolbox_bitmap;
  EXPECT_NE(FindResourceW(dll, MAKEINTRESOURCEW(bitmap), MAKEINTRESOURCEW(2) /* RT_BITMAP */), nullptr);
  EXPECT_NE(FindResourceW(dll, MAKEINTRESOURCEW(1), L"TYPELIB"), nullptr);
  FreeLibrary(dll);
}

}  // namespace
}  // namespace vintrel::com
