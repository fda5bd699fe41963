#include "com/events_point.hpp"

#include <olectl.h>

#include <cstdint>
#include <memory>
#include <utility>

#include "com/dispatch_sink.hpp"
#include "com/type_info.hpp"
#include "control/type_library.hpp"

namespace vintrel::com {

namespace typelib = control::typelib;

HRESULT EventsPoint::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (riid == IID_IUnknown || riid == IID_IConnectionPoint) return hand_out(this, out);
  return E_NOINTERFACE;
}
ULONG EventsPoint::AddRef() { return owner_.AddRef(); }
ULONG EventsPoint::Release() { return owner_.Release(); }

HRESULT EventsPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = to_guid(typelib::library().events_id);
  return S_OK;
}

HRESULT EventsPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  return hand_out(&owner_, reinterpret_cast<void**>(out));
}

HRESULT EventsPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  Ref<IDispatch> listener;
  const GUID events = to_guid(typelib::library().events_id);
  if (FAILED(sink->QueryInterface(events, reinterpret_cast<void**>(listener.put()))) || !listener)
    if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(listener.put()))) || !listener)
      return CONNECT_E_CANNOTCONNECT;
  try {
    std::uint32_t given = 0;
    const HRESULT hr = object_.Advise(std::make_shared<DispatchSink>(std::move(listener)), given);
    *cookie = given;
    return hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT EventsPoint::Unadvise(DWORD cookie) { return object_.Unadvise(cookie); }

HRESULT EventsPoint::EnumConnections(IEnumConnections** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT PointList::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (riid == IID_IUnknown || riid == IID_IEnumConnectionPoints) return hand_out(this, out);
  return E_NOINTERFACE;
}

HRESULT PointList::Next(ULONG count, IConnectionPoint** out, ULONG* fetched) {
  if (!out) return E_POINTER;
  ULONG got = 0;
  if (count > 0 && at_ == 0) {
    out[0] = point_.get();
    out[0]->AddRef();
    at_ = 1;
    got = 1;
  }
  if (fetched) *fetched = got;
  return got == count ? S_OK : S_FALSE;
}

HRESULT PointList::Skip(ULONG count) {
  const bool had = at_ == 0 && count <= 1;
  at_ = count > 0 ? 1 : at_;
  return had || count == 0 ? S_OK : S_FALSE;
}

HRESULT PointList::Reset() {
  at_ = 0;
  return S_OK;
}

HRESULT PointList::Clone(IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  *out = new PointList(point_.get(), at_);
  return S_OK;
}

}  // namespace vintrel::com
