#pragma once
// The control's one connection point, for __UserControl1, and the list of
// connection points that hands it out: script hosts find the events of an
// object through them.

#include <ocidl.h>
#include <windows.h>

#include "com/unknown.hpp"
#include "control/dispatch.hpp"

namespace vintrel::com {

/// The connection point of __UserControl1. It is part of the control that
/// owns it: it shares the control's reference count and lifetime.
class EventsPoint final : public IConnectionPoint {
 public:
  /// `owner` is the control it belongs to, `object` the engine listeners
  /// are advised to.
  EventsPoint(IConnectionPointContainer& owner, control::ControlObject& object) : owner_(owner), object_(object) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

 private:
  IConnectionPointContainer& owner_;
  control::ControlObject& object_;
};

/// The one connection point, for EnumConnectionPoints; from `at` (0 before
/// it, 1 past it).
class PointList final : public IEnumConnectionPoints, private RefCounted {
 public:
  PointList(IConnectionPoint* point, ULONG at) : point_(point), at_(at) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** out, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** out) override;

 private:
  Ref<IConnectionPoint> point_;
  ULONG at_;
};

}  // namespace vintrel::com
