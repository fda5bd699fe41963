#include "com/control.hpp"

#include <olectl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "com/apartment.hpp"
#include "com/object_dispatch.hpp"
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

// Reads a property of a document by name; empty when it has none.
std::string read_text(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return {};
  DISPPARAMS none{};
  VARIANT value;
  VariantInit(&value);
  if (FAILED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr)))
    return {};
  std::string text;
  if (SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR)) && V_BSTR(&value))
    text = to_utf8(std::wstring_view(V_BSTR(&value), SysStringLen(V_BSTR(&value))));
  VariantClear(&value);
  return text;
}

// The page the control sits in: the document its container offers.
class DocumentPage final : public platform::PageObject {
 public:
  explicit DocumentPage(Ref<IDispatch> document) : document_(std::move(document)) {}
  std::string URL() override { return read_text(document_.get(), L"URL"); }
  std::string cookie() override { return read_text(document_.get(), L"cookie"); }

 private:
  Ref<IDispatch> document_;
};

// The document of the container behind `site`, when it offers one: the
// client site's container, as a browser hands it to what a page embeds.
Ref<IDispatch> document_of(IUnknown* site) {
  if (!site) return {};
  Ref<IOleClientSite> client;
  if (FAILED(site->QueryInterface(IID_IOleClientSite, reinterpret_cast<void**>(client.put()))) || !client) return {};
  Ref<IOleContainer> container;
  if (FAILED(client->GetContainer(container.put())) || !container) return {};
  Ref<IDispatch> document;
  if (FAILED(container->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(document.put())))) return {};
  return document;
}

// One listener of __UserControl1: its IDispatch gets each event by
// identifier, arguments last first.
class DispatchSink final : public control::EventSink {
 public:
  explicit DispatchSink(Ref<IDispatch> sink) : sink_(std::move(sink)) {}

  void Invoke(control::DispId id, std::string_view, std::vector<Variant>& args) override {
    std::vector<VARIANT> values(args.size());
    for (auto& v : values) VariantInit(&v);
    try {
      for (std::size_t k = 0; k < args.size(); ++k) to_variant(args[k], &values[args.size() - 1 - k]);
    } catch (...) {
      for (auto& v : values) VariantClear(&v);
      throw;
    }
    DISPPARAMS params{values.data(), nullptr, static_cast<UINT>(values.size()), 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info{};
    UINT bad_arg = 0;
    // What a listener's failure means is the listener's business: the
    // control goes on and the other listeners still hear the event.
    sink_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &info, &bad_arg);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    VariantClear(&result);
    for (auto& v : values) VariantClear(&v);
  }

 private:
  Ref<IDispatch> sink_;
};

// "URL" read from and written to a container's property bag.
class BagAdapter final : public control::PropertyBag {
 public:
  BagAdapter(IPropertyBag* bag, IErrorLog* log) : bag_(bag), log_(log) {}

  Variant Read(std::string_view name, const Variant& default_value) override {
    const std::wstring wide = to_utf16(name);
    VARIANT value;
    VariantInit(&value);
    if (FAILED(bag_->Read(wide.c_str(), &value, log_))) return default_value;
    Variant result;
    try {
      result = from_variant(value);
    } catch (...) {
      VariantClear(&value);
      throw;
    }
    VariantClear(&value);
    return result;
  }
  void Write(std::string_view name, const Variant& value, const Variant&) override {
    const std::wstring wide = to_utf16(name);
    VARIANT v;
    VariantInit(&v);
    to_variant(value, &v);
    const HRESULT hr = bag_->Write(wide.c_str(), &v);
    VariantClear(&v);
    if (FAILED(hr) && SUCCEEDED(failure)) failure = hr;
  }

  HRESULT failure = S_OK;

 private:
  IPropertyBag* bag_;
  IErrorLog* log_;
};

// The longest "URL" a stream may hold: a stream that claims more is not one
// this control wrote.
constexpr std::uint32_t max_stream_text = 16u << 20;

class Control;

// The connection point of __UserControl1; shares the control's lifetime.
class EventsPoint final : public IConnectionPoint {
 public:
  explicit EventsPoint(Control& owner) : owner_(owner) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
    if (!iid) return E_POINTER;
    *iid = to_guid(typelib::library().events_id);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  Control& owner_;
};

// The one connection point, for EnumConnectionPoints.
class PointList final : public IEnumConnectionPoints, private RefCounted {
 public:
  PointList(IConnectionPoint* point, ULONG at) : point_(point), at_(at) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IEnumConnectionPoints) return hand_out(this, out);
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** out, ULONG* fetched) override {
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
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const bool had = at_ == 0 && count <= 1;
    at_ = count > 0 ? 1 : at_;
    return had || count == 0 ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    at_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** out) override {
    if (!out) return E_POINTER;
    *out = new PointList(point_.get(), at_);
    return S_OK;
  }

 private:
  Ref<IConnectionPoint> point_;
  ULONG at_;
};

// What the engine asks of its container: the page, when the site offers a
// document, and the desktop's folder dialog. Events go to the connection
// point's listeners, not here.
class SiteContainer final : public platform::Container {
 public:
  SiteContainer(Control& owner, Apartment& apartment) : owner_(owner), apartment_(apartment) {}

  void OnStatusChange(const std::string&) override { hold_through_event(); }
  void OnFileComplete(const std::string&) override { hold_through_event(); }
  void OnTransferComplete() override { hold_through_event(); }
  platform::PageObject* page() override {
    Ref<IDispatch> document = document_of(site.get());
    if (!document) return nullptr;
    page_ = std::make_unique<DocumentPage>(std::move(document));
    return page_.get();
  }
  platform::FolderDialog* folder_dialog() override { return apartment_.folder_dialog(); }

  Ref<IUnknown> site;

 private:
  void hold_through_event();

  Control& owner_;
  Apartment& apartment_;
  std::unique_ptr<DocumentPage> page_;
};

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
        point_(*this),
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

  control::ControlObject& object() { return object_; }
  Apartment& apartment() { return *apartment_.held; }

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

HRESULT EventsPoint::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (riid == IID_IUnknown || riid == IID_IConnectionPoint) return hand_out(this, out);
  return E_NOINTERFACE;
}
ULONG EventsPoint::AddRef() { return owner_.AddRef(); }
ULONG EventsPoint::Release() { return owner_.Release(); }

HRESULT EventsPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  return hand_out(static_cast<IConnectionPointContainer*>(&owner_), reinterpret_cast<void**>(out));
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
    const HRESULT hr = owner_.object().Advise(std::make_shared<DispatchSink>(std::move(listener)), given);
    *cookie = given;
    return hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT EventsPoint::Unadvise(DWORD cookie) { return owner_.object().Unadvise(cookie); }

void SiteContainer::hold_through_event() {
  // A listener may drop the last reference to the control while the engine
  // is still inside the step that raised the event: the control lives until
  // the loop has finished that step.
  owner_.AddRef();
  apartment_.platform().post([&owner = owner_] { Apartment::release_later(static_cast<IDispatch&>(owner)); });
}

}  // namespace

IUnknown* make_control() { return static_cast<IDispatch*>(new Control()); }

}  // namespace vintrel::com
