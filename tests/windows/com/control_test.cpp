// The control's COM object at its edges, where no script goes: what
// IDispatch refuses, the connection point's refusals, a stream that is not
// one the control wrote, and the module's count of live objects.

#include <ocidl.h>
#include <oleauto.h>
#include <olectl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "com/control.hpp"
#include "com/object_dispatch.hpp"
#include "com/unknown.hpp"
#include "queue/records.hpp"

namespace vintrel::com {
namespace {

template <class I>
Ref<I> query(IUnknown* object, REFIID iid) {
  Ref<I> out;
  EXPECT_EQ(object->QueryInterface(iid, reinterpret_cast<void**>(out.put())), S_OK);
  return out;
}

std::wstring url_of(IDispatch* control) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"URL")};
  EXPECT_EQ(control->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  DISPPARAMS none{};
  VARIANT value;
  VariantInit(&value);
  EXPECT_EQ(control->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr), S_OK);
  std::wstring text = V_VT(&value) == VT_BSTR ? V_BSTR(&value) : L"<not text>";
  VariantClear(&value);
  return text;
}

// A stream in memory holding `bytes`, at its start.
Ref<IStream> stream_of(const std::string& bytes) {
  Ref<IStream> stream;
  EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
  ULONG written = 0;
  stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  return stream;
}

TEST(ControlObject, DispatchRefusesWhatItDoesNotKnow) {
  Ref<IUnknown> control = Ref<IUnknown>::adopt(make_control());
  auto dispatch = query<IDispatch>(control.get(), IID_IDispatch);
  DISPPARAMS none{};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(dispatch->Invoke(0x12345, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  // Arguments by name: the members take them by position only.
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"AddFile"), const_cast<LPOLESTR>(L"URL")};
  DISPID ids[2] = {};
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 2, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 0x60030010);
  VARIANT arg;
  V_VT(&arg) = VT_BSTR;
  V_BSTR(&arg) = SysAllocString(L"http://127.0.0.1/a.bin");
  DISPID named = 0;
  DISPPARAMS by_name{&arg, &named, 1, 1};
  EXPECT_EQ(dispatch->Invoke(0x60030010, IID_NULL, 0, DISPATCH_METHOD, &by_name, &result, nullptr, nullptr),
            DISP_E_NONAMEDARGS);
  VariantClear(&arg);
  // Type information: one, of _UserControl1.
  UINT count = 0;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  Ref<ITypeInfo> info;
  EXPECT_EQ(dispatch->GetTypeInfo(1, 0, info.put()), DISP_E_BADINDEX);
}

TEST(ControlObject, TheConnectionPointRefusesWhatCannotListen) {
  Ref<IUnknown> control = Ref<IUnknown>::adopt(make_control());
  auto container = query<IConnectionPointContainer>(control.get(), IID_IConnectionPointContainer);
  Ref<IConnectionPoint> point;
  EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, point.put()), CONNECT_E_NOCONNECTION);
  const IID events = {0xC29C0A3C, 0x49E0, 0x4FEE, {0x8F, 0x2F, 0x3F, 0x14, 0x3A, 0xD3, 0x1B, 0xEC}};
  ASSERT_EQ(container->FindConnectionPoint(events, point.put()), S_OK);
  // A listener that is not a dispatch interface cannot hear the events.
  auto stream = stream_of("");
  DWORD cookie = 7;
  EXPECT_EQ(point->Advise(stream.get(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(point->Unadvise(12345), CONNECT_E_NOCONNECTION);
  Ref<IConnectionPointContainer> back;
  EXPECT_EQ(point->GetConnectionPointContainer(back.put()), S_OK);
  EXPECT_EQ(back.get(), container.get());
}

TEST(ControlObject, AStreamItDidNotWriteLeavesURLAsItWas) {
  Ref<IUnknown> control = Ref<IUnknown>::adopt(make_control());
  auto dispatch = query<IDispatch>(control.get(), IID_IDispatch);
  auto persist = query<IPersistStreamInit>(control.get(), IID_IPersistStreamInit);
  ASSERT_EQ(persist->Load(stream_of(std::string("\x05\x00\x00\x00hello", 9)).get()), S_OK);
  EXPECT_EQ(url_of(dispatch.get()), L"hello");
  // Cut short: the count promises more than follows.
  EXPECT_EQ(persist->Load(stream_of(std::string("\x09\x00\x00\x00shor", 8)).get()), STG_E_READFAULT);
  EXPECT_EQ(persist->Load(stream_of(std::string("\x09\x00", 2)).get()), STG_E_READFAULT);
  // A count no URL has (2 GiB): refused before anything is read or kept.
  EXPECT_EQ(persist->Load(stream_of(std::string("\x00\x00\x00\x80", 4)).get()), E_FAIL);
  EXPECT_EQ(url_of(dispatch.get()), L"hello");
  ULARGE_INTEGER size{};
  EXPECT_EQ(persist->GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, 9u);
}

TEST(ControlObject, LiveObjectsKeepTheModuleLoaded) {
  const long before = module_refs();
  {
    Ref<IUnknown> control = Ref<IUnknown>::adopt(make_control());
    Ref<IDispatch> server = Ref<IDispatch>::adopt(dispatch_of(std::make_shared<queue::remoteServerLoc>()));
    EXPECT_EQ(module_refs(), before + 2);
  }
  EXPECT_EQ(module_refs(), before);
}

}  // namespace
}  // namespace vintrel::com
