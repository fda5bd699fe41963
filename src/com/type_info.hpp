#pragma once
// The module's identity on Windows: its own file, its embedded type library
// (resource 1, compiled from the IDL the type library's tables write), and
// the identifiers of the tables as Windows GUIDs.

#include <oaidl.h>
#include <windows.h>

#include <string>

#include "control/interfaces/guid.hpp"

namespace vintrel::com {

/// The identifier as Windows holds it.
GUID to_guid(const control::Guid& id);
/// The identifier as the tables hold it.
control::Guid from_guid(const GUID& id);

/// The module's own handle and its file's full path.
HMODULE this_module();
std::wstring module_path();

/// The type information of `id` (an interface or class of the library),
/// read from the type library embedded in the module; the library is
/// loaded once and kept for the process.
HRESULT type_info_of(const control::Guid& id, ITypeInfo** out);

}  // namespace vintrel::com
