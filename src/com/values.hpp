#pragma once
// Automation values between script hosts and the engine: VARIANT and BSTR on
// one side, automation::Variant and UTF-8 text on the other; the engine's
// numbered errors as the exception script sees.

#include <oaidl.h>
#include <windows.h>

#include <string>
#include <string_view>

#include "automation/automation.hpp"

namespace vintrel::com {

/// UTF-16 text as UTF-8; unpaired surrogates become U+FFFD.
std::string to_utf8(std::wstring_view text);
/// UTF-8 text as UTF-16.
std::wstring to_utf16(std::string_view text);
/// A new BSTR holding `text`; null only when memory ran out.
BSTR make_bstr(std::string_view text);

/// Reads a VARIANT a script passed (by reference ones followed). A value of
/// a kind the engine has no form for raises 13, as a conversion would.
/// Objects of this module come back as the engine's own; other objects
/// raise 13, since the engine could not use them.
automation::Variant from_variant(const VARIANT& value);
/// Writes `value` into `*out` (cleared first); objects are handed out
/// through IDispatch.
void to_variant(const automation::Variant& value, VARIANT* out);
/// Writes `value` back through a by-reference VARIANT the caller passed,
/// converted to the kind the reference holds when it is not a VARIANT
/// itself.
void write_back(const automation::Variant& value, VARIANT& reference);

/// Fills `info` for `error` as the script runtime raised it: the number
/// in the control facility (0x800A0000 | number), which both script
/// engines report as the plain number; returns DISP_E_EXCEPTION.
HRESULT raise_to_script(const automation::AutomationError& error, EXCEPINFO* info);

/// Runs `body`, turning the engine's errors into what IDispatch::Invoke
/// answers: automation errors as exceptions, running out of memory as
/// E_OUTOFMEMORY, anything else as E_UNEXPECTED.
template <class F>
HRESULT guarded_invoke(EXCEPINFO* info, F&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (const automation::AutomationError& error) {
    return raise_to_script(error, info);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace vintrel::com
