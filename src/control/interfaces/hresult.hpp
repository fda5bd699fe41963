#pragma once
// Status codes of the module's entry points and of the interfaces that
// answer with a code rather than an automation error (object safety,
// connection points, registration). Values are those containers know.

#include <cstdint>

namespace vintrel::control {

using HRESULT = std::int32_t;

// On Windows these names are also the system headers' macros; the
// constants are declared with the macros set aside, and keep the same values.
#ifdef _WIN32
#pragma push_macro("S_OK")
#undef S_OK
#pragma push_macro("S_FALSE")
#undef S_FALSE
#pragma push_macro("E_NOINTERFACE")
#undef E_NOINTERFACE
#pragma push_macro("E_POINTER")
#undef E_POINTER
#pragma push_macro("E_FAIL")
#undef E_FAIL
#pragma push_macro("E_INVALIDARG")
#undef E_INVALIDARG
#pragma push_macro("CLASS_E_CLASSNOTAVAILABLE")
#undef CLASS_E_CLASSNOTAVAILABLE
#pragma push_macro("REGDB_E_CLASSNOTREG")
#undef REGDB_E_CLASSNOTREG
#pragma push_macro("CONNECT_E_NOCONNECTION")
#undef CONNECT_E_NOCONNECTION
#pragma push_macro("SELFREG_E_CLASS")
#undef SELFREG_E_CLASS
#endif
namespace hr {
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
inline constexpr HRESULT CONNECT_E_NOCONNECTION = static_cast<HRESULT>(0x80040200u);
inline constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201u);
}  // namespace hr
#ifdef _WIN32
#pragma pop_macro("SELFREG_E_CLASS")
#pragma pop_macro("CONNECT_E_NOCONNECTION")
#pragma pop_macro("REGDB_E_CLASSNOTREG")
#pragma pop_macro("CLASS_E_CLASSNOTAVAILABLE")
#pragma pop_macro("E_INVALIDARG")
#pragma pop_macro("E_FAIL")
#pragma pop_macro("E_POINTER")
#pragma pop_macro("E_NOINTERFACE")
#pragma pop_macro("S_FALSE")
#pragma pop_macro("S_OK")
#endif

constexpr bool succeeded(HRESULT code) noexcept { return code >= 0; }

}  // namespace vintrel::control
