// Values between script and engine: each VARIANT kind a script host passes,
// references followed and written back in their own type, the engine's
// errors as script sees them, and the records reached through IDispatch.

#include <oaidl.h>
#include <oleauto.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "com/object_dispatch.hpp"
#include "com/values.hpp"
#include "queue/records.hpp"

namespace vintrel::com {
namespace {

using automation::Variant;
using automation::VarType;

// The number of the automation error `body` raises; 0 for none.
template <class F>
std::int32_t error_of(F&& body) {
  try {
    body();
  } catch (const automation::AutomationError& error) {
    return error.number();
  }
  return 0;
}

// A VARIANT that clears itself.
struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  ~Var() { VariantClear(&v); }
};

TEST(Values, TextKeepsEveryCharacterBothWays) {
  const std::string text = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";  // café € and an emoji
  const std::wstring wide = to_utf16(text);
  EXPECT_EQ(wide, L"caf\u00e9 \u20ac \U0001F600");
  EXPECT_EQ(to_utf8(wide), text);
  BSTR b = make_bstr(text);
  EXPECT_EQ(SysStringLen(b), wide.size());
  Var v;
  V_VT(&v.v) = VT_BSTR;
  V_BSTR(&v.v) = b;
  EXPECT_EQ(from_variant(v.v).bstr(), text);
}

TEST(Values, EachKindAScriptPassesReachesTheEngineAsItsOwnKind) {
  Var v;
  V_VT(&v.v) = VT_I4;
  V_I4(&v.v) = -7;
  EXPECT_EQ(from_variant(v.v).i4(), -7);
  V_VT(&v.v) = VT_BOOL;
  V_BOOL(&v.v) = VARIANT_TRUE;
  EXPECT_TRUE(from_variant(v.v).boolean());
  V_VT(&v.v) = VT_UI1;
  V_UI1(&v.v) = 200;
  EXPECT_EQ(from_variant(v.v).i2(), 200);
  // Past the engine's integers: a double, as the runtime widens them.
  V_VT(&v.v) = VT_UI4;
  V_UI4(&v.v) = 4000000000u;
  EXPECT_EQ(from_variant(v.v).r8(), 4e9);
  V_VT(&v.v) = VT_NULL;
  EXPECT_EQ(from_variant(v.v).type(), VarType::Null);
  V_VT(&v.v) = VT_DATE;
  V_DATE(&v.v) = 45000.5;
  EXPECT_EQ(from_variant(v.v).date().serial, 45000.5);
  // A missing optional argument has no form in the engine.
  V_VT(&v.v) = VT_ERROR;
  V_ERROR(&v.v) = DISP_E_PARAMNOTFOUND;
  EXPECT_EQ(error_of([&] { from_variant(v.v); }), automation::err::type_mismatch);
}

TEST(Values, ReferencesAreFollowedAndWrittenBackInTheirOwnType) {
  Var inner;
  V_VT(&inner.v) = VT_BSTR;
  V_BSTR(&inner.v) = SysAllocString(L"a?b");
  Var ref;
  V_VT(&ref.v) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&ref.v) = &inner.v;
  EXPECT_EQ(from_variant(ref.v).bstr(), "a?b");
  write_back(Variant(std::int32_t{5}), ref.v);
  EXPECT_EQ(V_VT(&inner.v), VT_I4);
  EXPECT_EQ(V_I4(&inner.v), 5);
  V_VT(&ref.v) = VT_EMPTY;  // the reference owns nothing

  // A typed reference keeps its type; a value past it is an overflow and
  // the variable keeps what it held.
  short word = 3;
  VARIANT typed;
  V_VT(&typed) = VT_BYREF | VT_I2;
  V_I2REF(&typed) = &word;
  EXPECT_EQ(from_variant(typed).i2(), 3);
  write_back(Variant("12"), typed);
  EXPECT_EQ(word, 12);
  EXPECT_EQ(error_of([&] { write_back(Variant(std::int32_t{40000}), typed); }), automation::err::overflow);
  EXPECT_EQ(word, 12);
  BSTR text = SysAllocString(L"old");
  VARIANT text_ref;
  V_VT(&text_ref) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&text_ref) = &text;
  write_back(Variant(std::int16_t{7}), text_ref);
  EXPECT_EQ(std::wstring(text), L"7");
  SysFreeString(text);
}

TEST(Values, BytesAndObjectsGoOutAndComeBackAsThemselves) {
  Var bytes;
  to_variant(Variant(std::vector<std::uint8_t>{1, 2, 255}), &bytes.v);
  ASSERT_EQ(V_VT(&bytes.v), VT_ARRAY | VT_UI1);
  EXPECT_EQ(from_variant(bytes.v).bytes(), (std::vector<std::uint8_t>{1, 2, 255}));

  auto server = std::make_shared<queue::remoteServerLoc>();
  Var object;
  to_variant(Variant(std::static_pointer_cast<automation::Object>(server)), &object.v);
  ASSERT_EQ(V_VT(&object.v), VT_DISPATCH);
  EXPECT_EQ(from_variant(object.v).object().get(), server.get());

  Var nothing;
  to_variant(Variant(std::shared_ptr<automation::Object>()), &nothing.v);
  EXPECT_EQ(V_VT(&nothing.v), VT_DISPATCH);
  EXPECT_EQ(V_DISPATCH(&nothing.v), nullptr);
  EXPECT_EQ(from_variant(nothing.v).object(), nullptr);
}

TEST(Values, AnErrorReachesScriptWithItsNumberSourceAndDescription) {
  EXCEPINFO info{};
  const HRESULT hr = raise_to_script(automation::AutomationError(13, "Vintrel", "Type mismatch"), &info);
  EXPECT_EQ(hr, DISP_E_EXCEPTION);
  EXPECT_EQ(static_cast<unsigned>(info.scode), 0x800A000Du);
  EXPECT_EQ(std::wstring(info.bstrSource), L"Vintrel");
  EXPECT_EQ(std::wstring(info.bstrDescription), L"Type mismatch");
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
}

// Reads member `name` of `object` through IDispatch, as script does.
HRESULT read(IDispatch* object, const wchar_t* name, VARIANT* result, EXCEPINFO* info,
             WORD flags = DISPATCH_PROPERTYGET, std::vector<VARIANT> args = {}) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  const HRESULT found = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (FAILED(found)) return found;
  DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  return object->Invoke(id, IID_NULL, 0, flags, &params, result, info, nullptr);
}

TEST(RecordDispatch, MembersByNameInAnyCaseWithTheEnginesErrors) {
  auto file = std::make_shared<queue::DownloadFile>();
  file->localfilename = "C:\\dl\\a.bin";
  IDispatch* object = dispatch_of(file);
  DISPID lower = 0;
  DISPID upper = 0;
  LPOLESTR a[] = {const_cast<LPOLESTR>(L"localfilename")};
  LPOLESTR b[] = {const_cast<LPOLESTR>(L"LOCALFILENAME")};
  ASSERT_EQ(object->GetIDsOfNames(IID_NULL, a, 1, 0, &lower), S_OK);
  ASSERT_EQ(object->GetIDsOfNames(IID_NULL, b, 1, 0, &upper), S_OK);
  EXPECT_EQ(lower, upper);
  Var value;
  ASSERT_EQ(read(object, L"localfilename", &value.v, nullptr), S_OK);
  EXPECT_EQ(std::wstring(V_BSTR(&value.v)), L"C:\\dl\\a.bin");

  // A word where a number goes: the engine's 13, through the exception.
  VARIANT word;
  V_VT(&word) = VT_BSTR;
  V_BSTR(&word) = SysAllocString(L"many");
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPID id = 0;
  LPOLESTR c[] = {const_cast<LPOLESTR>(L"numServersChecked")};
  ASSERT_EQ(object->GetIDsOfNames(IID_NULL, c, 1, 0, &id), S_OK);
  DISPPARAMS put{&word, &put_id, 1, 1};
  EXCEPINFO info{};
  EXPECT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, &info, nullptr), DISP_E_EXCEPTION);
  EXPECT_EQ(static_cast<unsigned>(info.scode), 0x800A000Du);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  VariantClear(&word);
  object->Release();
}

TEST(RecordDispatch, ACollectionEnumeratesAndItsPropertyTakesAnIndex) {
  auto file = std::make_shared<queue::DownloadFile>();
  for (int port : {80, 8080}) {
    auto server = std::make_shared<queue::remoteServerLoc>();
    server->PortNum = port;
    file->remoteServerLocs->Add(server);
  }
  IDispatch* object = dispatch_of(file);
  // remoteServerLocs(2): the index goes to the collection's Item.
  VARIANT index;
  V_VT(&index) = VT_I4;
  V_I4(&index) = 2;
  Var second;
  ASSERT_EQ(read(object, L"remoteServerLocs", &second.v, nullptr, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {index}),
            S_OK);
  Var port;
  ASSERT_EQ(read(V_DISPATCH(&second.v), L"PortNum", &port.v, nullptr), S_OK);
  EXPECT_EQ(V_I4(&port.v), 8080);

  Var servers;
  ASSERT_EQ(read(object, L"remoteServerLocs", &servers.v, nullptr), S_OK);
  DISPPARAMS none{};
  Var enumerator;
  ASSERT_EQ(V_DISPATCH(&servers.v)
                ->Invoke(DISPID_NEWENUM, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &enumerator.v,
                         nullptr, nullptr),
            S_OK);
  ASSERT_EQ(V_VT(&enumerator.v), VT_UNKNOWN);
  IEnumVARIANT* items = nullptr;
  ASSERT_EQ(V_UNKNOWN(&enumerator.v)->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&items)), S_OK);
  VARIANT got[3];
  ULONG fetched = 0;
  // Three asked, two there: S_FALSE with the two.
  EXPECT_EQ(items->Next(3, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 2u);
  for (ULONG k = 0; k < fetched; ++k) VariantClear(&got[k]);
  EXPECT_EQ(items->Reset(), S_OK);
  EXPECT_EQ(items->Skip(2), S_OK);
  EXPECT_EQ(items->Skip(1), S_FALSE);
  items->Release();

  // An index on a member that holds no object has nowhere to go: 450.
  EXCEPINFO info{};
  Var none_value;
  EXPECT_EQ(read(object, L"localfilename", &none_value.v, &info, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {index}),
            DISP_E_EXCEPTION);
  EXPECT_EQ(static_cast<unsigned>(info.scode), 0x800A01C2u);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  object->Release();
}

}  // namespace
}  // namespace vintrel::com
