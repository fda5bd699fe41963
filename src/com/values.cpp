#include "com/values.hpp"

#include <cstring>
#include <new>

#include "com/object_dispatch.hpp"

namespace vintrel::com {

using automation::Variant;
using automation::VarType;

std::string to_utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring to_utf16(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), size);
  return out;
}

BSTR make_bstr(std::string_view text) {
  const std::wstring wide = to_utf16(text);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

namespace {

std::string bstr_text(BSTR text) { return text ? to_utf8(std::wstring_view(text, SysStringLen(text))) : std::string(); }

Variant from_bytes(SAFEARRAY* array) {
  if (!array) return Variant(std::vector<std::uint8_t>());
  if (SafeArrayGetDim(array) != 1) automation::raise(automation::err::type_mismatch);
  LONG low = 0;
  LONG high = -1;
  SafeArrayGetLBound(array, 1, &low);
  SafeArrayGetUBound(array, 1, &high);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(high - low + 1));
  void* data = nullptr;
  if (!bytes.empty() && SUCCEEDED(SafeArrayAccessData(array, &data))) {
    std::memcpy(bytes.data(), data, bytes.size());
    SafeArrayUnaccessData(array);
  }
  return Variant(std::move(bytes));
}

Variant from_object(IUnknown* unknown) {
  if (!unknown) return Variant(std::shared_ptr<automation::Object>());
  std::shared_ptr<automation::Object> object = engine_object_of(unknown);
  if (!object) automation::raise(automation::err::type_mismatch);
  return Variant(std::move(object));
}

// A value of a kind the engine has no form of, converted to one it has by
// the system's own rules (an overflow stays an overflow).
Variant changed(const VARIANT& value, VARTYPE to) {
  VARIANT out;
  VariantInit(&out);
  const HRESULT hr = VariantChangeType(&out, const_cast<VARIANT*>(&value), 0, to);
  if (hr == DISP_E_OVERFLOW) automation::raise(automation::err::overflow);
  if (FAILED(hr)) automation::raise(automation::err::type_mismatch);
  Variant result = from_variant(out);
  VariantClear(&out);
  return result;
}

}  // namespace

Variant from_variant(const VARIANT& value) {
  if (V_VT(&value) == (VT_BYREF | VT_VARIANT)) {
    if (!V_VARIANTREF(&value)) automation::raise(automation::err::type_mismatch);
    return from_variant(*V_VARIANTREF(&value));
  }
  if (V_VT(&value) & VT_BYREF) {
    // A typed reference: read what it points at through a plain copy.
    VARIANT plain;
    VariantInit(&plain);
    if (FAILED(VariantCopyInd(&plain, const_cast<VARIANT*>(&value)))) automation::raise(automation::err::type_mismatch);
    Variant result;
    try {
      result = from_variant(plain);
    } catch (...) {
      VariantClear(&plain);
      throw;
    }
    VariantClear(&plain);
    return result;
  }
  switch (V_VT(&value)) {
    case VT_EMPTY:
      return Variant();
    case VT_NULL:
      return Variant::null();
    case VT_I2:
      return Variant(static_cast<std::int16_t>(V_I2(&value)));
    case VT_I4:
      return Variant(static_cast<std::int32_t>(V_I4(&value)));
    case VT_INT:
      return Variant(static_cast<std::int32_t>(V_INT(&value)));
    case VT_R8:
      return Variant(V_R8(&value));
    case VT_R4:
      return Variant(static_cast<double>(V_R4(&value)));
    case VT_CY:
      return Variant(automation::Currency{V_CY(&value).int64});
    case VT_DATE:
      return Variant(automation::Date{V_DATE(&value)});
    case VT_BSTR:
      return Variant(bstr_text(V_BSTR(&value)));
    case VT_BOOL:
      return Variant(V_BOOL(&value) != VARIANT_FALSE);
    case VT_UI1:
      return Variant(static_cast<std::int16_t>(V_UI1(&value)));
    case VT_I1:
      return Variant(static_cast<std::int16_t>(V_I1(&value)));
    case VT_UI2:
      return Variant(static_cast<std::int32_t>(V_UI2(&value)));
    case VT_DISPATCH:
      return from_object(V_DISPATCH(&value));
    case VT_UNKNOWN:
      return from_object(V_UNKNOWN(&value));
    case VT_ARRAY | VT_UI1:
      return from_bytes(V_ARRAY(&value));
    case VT_UI4:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_DECIMAL:
      return changed(value, VT_R8);
    default:
      automation::raise(automation::err::type_mismatch);
  }
}

void to_variant(const Variant& value, VARIANT* out) {
  VariantClear(out);
  switch (value.type()) {
    case VarType::Empty:
      V_VT(out) = VT_EMPTY;
      return;
    case VarType::Null:
      V_VT(out) = VT_NULL;
      return;
    case VarType::I2:
      V_VT(out) = VT_I2;
      V_I2(out) = value.i2();
      return;
    case VarType::I4:
      V_VT(out) = VT_I4;
      V_I4(out) = value.i4();
      return;
    case VarType::R8:
      V_VT(out) = VT_R8;
      V_R8(out) = value.r8();
      return;
    case VarType::Cy:
      V_VT(out) = VT_CY;
      V_CY(out).int64 = value.cy().tenthousandths;
      return;
    case VarType::Date:
      V_VT(out) = VT_DATE;
      V_DATE(out) = value.date().serial;
      return;
    case VarType::Bstr: {
      BSTR text = make_bstr(value.bstr());
      if (!text) throw std::bad_alloc();
      V_VT(out) = VT_BSTR;
      V_BSTR(out) = text;
      return;
    }
    case VarType::Bool:
      V_VT(out) = VT_BOOL;
      V_BOOL(out) = value.boolean() ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case VarType::Dispatch:
      V_VT(out) = VT_DISPATCH;
      V_DISPATCH(out) = value.object() ? dispatch_of(value.object()) : nullptr;
      return;
    case VarType::ByteArray: {
      const auto& bytes = value.bytes();
      SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
      if (!array) throw std::bad_alloc();
      void* data = nullptr;
      if (!bytes.empty() && SUCCEEDED(SafeArrayAccessData(array, &data))) {
        std::memcpy(data, bytes.data(), bytes.size());
        SafeArrayUnaccessData(array);
      }
      V_VT(out) = VT_ARRAY | VT_UI1;
      V_ARRAY(out) = array;
      return;
    }
  }
}

void write_back(const Variant& value, VARIANT& reference) {
  if (V_VT(&reference) == (VT_BYREF | VT_VARIANT)) {
    if (V_VARIANTREF(&reference)) to_variant(value, V_VARIANTREF(&reference));
    return;
  }
  if (!(V_VT(&reference) & VT_BYREF)) return;
  // A typed reference keeps its type: the value is converted to it.
  const VARTYPE target = static_cast<VARTYPE>(V_VT(&reference) & ~VT_BYREF);
  VARIANT converted;
  VariantInit(&converted);
  to_variant(value, &converted);
  VARIANT typed;
  VariantInit(&typed);
  const HRESULT hr = VariantChangeType(&typed, &converted, 0, target);
  VariantClear(&converted);
  if (hr == DISP_E_OVERFLOW) automation::raise(automation::err::overflow);
  if (FAILED(hr)) automation::raise(automation::err::type_mismatch);
  switch (target) {
    case VT_I2:
      *V_I2REF(&reference) = V_I2(&typed);
      break;
    case VT_I4:
      *V_I4REF(&reference) = V_I4(&typed);
      break;
    case VT_R8:
      *V_R8REF(&reference) = V_R8(&typed);
      break;
    case VT_BOOL:
      *V_BOOLREF(&reference) = V_BOOL(&typed);
      break;
    case VT_BSTR:
      SysFreeString(*V_BSTRREF(&reference));
      *V_BSTRREF(&reference) = V_BSTR(&typed);
      V_VT(&typed) = VT_EMPTY;  // the reference owns the text now
      break;
    default:
      break;
  }
  VariantClear(&typed);
}

HRESULT raise_to_script(const automation::AutomationError& error, EXCEPINFO* info) {
  if (!info) return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, error.number() & 0xFFFF);
  *info = EXCEPINFO{};
  info->bstrSource = make_bstr(error.source());
  info->bstrDescription = make_bstr(error.description());
  info->scode = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, error.number() & 0xFFFF);
  return DISP_E_EXCEPTION;
}

}  // namespace vintrel::com
