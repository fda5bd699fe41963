#include "com/control.hpp"

#include <olectl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "com/apartment.hpp"
#include "com/bag_adapter.hpp"
#include "com/events_point.hpp"
#include "com/object_dispatch.hpp"
#include "com/site_container.hpp"
#include "com/type_info.hpp"
#include "com/unknown.hpp"
#include "com/values.hpp"
#include "control/dispatch.hpp"
#include "control/object_safety.hpp"
#include "control/persistence.hpp"
#include "control/type_library.hpp"
#include "control/user_control1.hpp"

namespace vintrel::com {

namespace {

using automation::Variant;
namespace typelib = control::typelib;

// The longest "URL" a stream may hold: a stream that claims more is not one
// this control wrote.
constexpr std::uint32_t max_stream_text = 16u << 20;

class Control final : public IDispatch,
                      public IConnectionPointContainer,
                      public IProvideClassInfo2,
                      public IPersistPropertyBag,
                      public IPersistStreamInit,
                      public IObjectSafety,
                      public IObjectWithSite,
                      private RefCounted {
 public:
  Control()
      : apartment_{Apartment::of_this_thread()},
        container_(*this, *apartment_.held),
        object_(apartment_.held->platform(), &container_),
        point_(*this, object_),
        saved_url_(object_.control().urlValue) {}

  ~Control() override = default;

  // --- IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == to_guid(typelib::library().interface_id))
      return hand_out(static_cast<IDispatch*>(this), out);
    if (riid == IID_IConnectionPointContainer) return hand_out(static_cast<IConnectionPointContainer*>(this), out);
    if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2)
      return hand_out(static_cast<IProvideClassInfo2*>(this), out);
    if (riid == IID_IPersistPropertyBag) return hand_out(static_cast<IPersistPropertyBag*>(this), out);
    if (riid == IID_IPersistStreamInit) return hand_out(static_cast<IPersistStreamInit*>(this), out);
    if (riid == IID_IPersist) return hand_out(static_cast<IPersistPropertyBag*>(this), out);
    if (riid == IID_IObjectSafety) return hand_out(static_cast<IObjectSafety*>(this), out);
    if (riid == IID_IObjectWithSite) return hand_out(static_cast<IObjectWithSite*>(this), out);
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  // --- IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return type_info_of(typelib::library().interface_id, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    HRESULT hr = S_OK;
    const typelib::Member* member = typelib::find(to_utf8(names[0]));
    ids[0] = member ? member->id : DISPID_UNKNOWN;
    if (!member) hr = DISP_E_UNKNOWNNAME;
    // Arguments are passed by position only.
    for (UINT k = 1; k < count; ++k) {
      ids[k] = DISPID_UNKNOWN;
      hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* info, UINT*) override {
    static DISPPARAMS no_params{};
    if (!params) params = &no_params;
    if (!typelib::find(static_cast<control::DispId>(id))) return DISP_E_MEMBERNOTFOUND;
    const bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
    const UINT named = params->cNamedArgs;
    if (named > (put ? 1u : 0u) || (named == 1 && params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
      return DISP_E_NONAMEDARGS;
    // The call may reach script (an event, the dialog's wait) that drops
    // the last reference to this control: it lives until the call returns.
    Ref<IDispatch> self(this);
    return guarded_invoke(info, [&] {
      std::vector<Variant> args;
      for (UINT k = params->cArgs; k-- > 0;) args.push_back(from_variant(params->rgvarg[k]));
      const auto member = static_cast<control::DispId>(id);
      Variant value;
      if (!put && !args.empty() && typelib::find(member)->kind != typelib::Kind::method) {
        // DownloadFiles(2): a property that takes no arguments hands them
        // to the default member of the object it holds, as script expects
        // of a collection property.
        std::vector<Variant> none;
        value = item_of(object_.Invoke(member, DISPATCH_PROPERTYGET, none), args);
      } else {
        value = object_.Invoke(member, static_cast<std::uint16_t>(flags & 0xF), args);
      }
      // Only what the member takes by reference goes back to the caller:
      // VBScript passes every variable by reference, and a value handed
      // back unasked would replace an object with a new wrapper of it.
      const typelib::Member& called = *typelib::find(member);
      if (!put && called.kind == typelib::Kind::method)
        for (std::size_t k = 0; k < args.size() && k < called.parameters.size(); ++k)
          if (called.parameters[k].by_ref) write_back(args[k], params->rgvarg[params->cArgs - 1 - k]);
      if (result && !put) to_variant(value, result);
    });
  }

  // --- IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
    if (!out) return E_POINTER;
    *out = new PointList(&point_, 0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid != to_guid(typelib::library().events_id)) return CONNECT_E_NOCONNECTION;
    return hand_out(static_cast<IConnectionPoint*>(&point_), reinterpret_cast<void**>(out));
  }

  // --- IProvideClassInfo2
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override {
    return type_info_of(typelib::classes().front().id, info);
  }
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override {
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = to_guid(typelib::library().events_id);
    return S_OK;
  }

  // --- IPersist, IPersistPropertyBag, IPersistStreamInit
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override {
    if (!id) return E_POINTER;
    *id = to_guid(typelib::classes().front().id);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE InitNew() override {
    saved_url_ = object_.control().urlValue;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override {
    if (!bag) return E_POINTER;
    BagAdapter adapter(bag, log);
    return persisted([&] { object_.Load(adapter); }, S_OK);
  }
  HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clear_dirty, BOOL) override {
    if (!bag) return E_POINTER;
    BagAdapter adapter(bag, nullptr);
    const HRESULT hr = persisted([&] { object_.Save(adapter); }, S_OK);
    if (FAILED(hr)) return hr;
    if (FAILED(adapter.failure)) return adapter.failure;
    if (clear_dirty) saved_url_ = object_.control().urlValue;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return object_.control().urlValue != saved_url_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE Load(IStream* stream) override {
    if (!stream) return E_POINTER;
    // A byte count, little-endian, then the text in UTF-8.
    unsigned char head[4];
    ULONG got = 0;
    if (FAILED(stream->Read(head, sizeof head, &got)) || got != sizeof head) return STG_E_READFAULT;
    const std::uint32_t size = std::uint32_t{head[0]} | std::uint32_t{head[1]} << 8 | std::uint32_t{head[2]} << 16 |
                               std::uint32_t{head[3]} << 24;
    if (size > max_stream_text) return E_FAIL;
    std::string text(size, '\0');
    if (size > 0 && (FAILED(stream->Read(text.data(), size, &got)) || got != size)) return STG_E_READFAULT;
    object_.control().urlValue = std::move(text);
    saved_url_ = object_.control().urlValue;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clear_dirty) override {
    if (!stream) return E_POINTER;
    const std::string& text = object_.control().urlValue;
    if (text.size() > max_stream_text) return E_FAIL;
    const auto size = static_cast<std::uint32_t>(text.size());
    const unsigned char head[4] = {static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8),
                                   static_cast<unsigned char>(size >> 16), static_cast<unsigned char>(size >> 24)};
    ULONG put = 0;
    if (FAILED(stream->Write(head, sizeof head, &put)) || put != sizeof head) return STG_E_WRITEFAULT;
    if (size > 0 && (FAILED(stream->Write(text.data(), size, &put)) || put != size)) return STG_E_WRITEFAULT;
    if (clear_dirty) saved_url_ = text;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override {
    if (!size) return E_POINTER;
    size->QuadPart = 4 + object_.control().urlValue.size();
    return S_OK;
  }

  // --- IObjectSafety
  HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override {
    const control::Guid id = safety_id(riid);
    std::uint32_t s = 0;
    std::uint32_t e = 0;
    const HRESULT hr = object_.GetInterfaceSafetyOptions(&id, supported ? &s : nullptr, enabled ? &e : nullptr);
    if (supported) *supported = s;
    if (enabled) *enabled = e;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override {
    const control::Guid id = safety_id(riid);
    return object_.SetInterfaceSafetyOptions(&id, mask, enabled);
  }

  // --- IObjectWithSite
  HRESULT STDMETHODCALLTYPE SetSite(IUnknown* site) override {
    container_.site = Ref<IUnknown>(site);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSite(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!container_.site) return E_FAIL;
    return container_.site->QueryInterface(riid, out);
  }

 private:
  // The safety answers know the persistence interfaces of the Linux
  // module; IPersistStreamInit is this module's stream persistence and is
  // answered as IPersistStream is.
  static control::Guid safety_id(REFIID riid) {
    if (riid == IID_IPersistStreamInit) return control::IID_IPersistStream;
    return from_guid(riid);
  }

  template <class F>
  static HRESULT persisted(F&& body, HRESULT ok) {
    try {
      body();
      return ok;
    } catch (const automation::AutomationError& error) {
      return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, error.number() & 0xFFFF);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_FAIL;
    }
  }

  // Declared first, so the apartment outlives everything that runs on it.
  struct Hold {
    std::shared_ptr<Apartment> held;
    ~Hold() { Apartment::retire(std::move(held)); }
  } apartment_;
  SiteContainer container_;
  control::ControlObject object_;
  EventsPoint point_;
  std::string saved_url_;
};

}  // namespace

IUnknown* make_control() { return static_cast<IDispatch*>(new Control()); }

}  // namespace vintrel::com
