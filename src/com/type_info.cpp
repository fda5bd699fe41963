#include "com/type_info.hpp"

#include <mutex>

#include "com/unknown.hpp"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace vintrel::com {

GUID to_guid(const control::Guid& id) {
  GUID g{};
  g.Data1 = id.data1;
  g.Data2 = id.data2;
  g.Data3 = id.data3;
  for (std::size_t k = 0; k < 8; ++k) g.Data4[k] = id.data4[k];
  return g;
}

control::Guid from_guid(const GUID& g) {
  control::Guid id;
  id.data1 = g.Data1;
  id.data2 = g.Data2;
  id.data3 = g.Data3;
  for (std::size_t k = 0; k < 8; ++k) id.data4[k] = g.Data4[k];
  return id;
}

HMODULE this_module() { return reinterpret_cast<HMODULE>(&__ImageBase); }

std::wstring module_path() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD got = GetModuleFileNameW(this_module(), path.data(), static_cast<DWORD>(path.size()));
    if (got == 0) return {};
    if (got < path.size()) {
      path.resize(got);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

namespace {

std::mutex library_mutex;
ITypeLib* library = nullptr;  // kept for the process: script hosts ask for it on any thread

}  // namespace

HRESULT type_info_of(const control::Guid& id, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::lock_guard lock(library_mutex);
  if (!library) {
    // Read from the module itself, never through the registry: an
    // unregistered copy of the module still describes itself.
    const HRESULT hr = LoadTypeLibEx(module_path().c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) {
      library = nullptr;
      return hr;
    }
  }
  const GUID guid = to_guid(id);
  return library->GetTypeInfoOfGuid(guid, out);
}

}  // namespace vintrel::com
