// VintrelTest.Helper: what a script under Wine's script host needs and the
// host lacks (WScript.Sleep, WScript.ConnectObject, event prefixes), and
// the views of a control only native code has (dispatch identifiers, type
// information, persistence, safety, a page around the control). Lives in a
// test DLL of its own, registered beside Vintrel.dll, never in it.

#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

namespace {

std::atomic<long> live{0};

// {0E5C9A11-6F2B-4C3D-8A7E-2B4D6F8A0C13}
const CLSID CLSID_Helper = {0x0e5c9a11, 0x6f2b, 0x4c3d, {0x8a, 0x7e, 0x2b, 0x4d, 0x6f, 0x8a, 0x0c, 0x13}};
constexpr const wchar_t* helper_progid = L"VintrelTest.Helper";

extern "C" IMAGE_DOS_HEADER __ImageBase;

// IUnknown's counting, shared by every object here: made holding one
// reference, deleted with the last. One AddRef and Release serve all the
// interfaces an object implements.
template <class... Interfaces>
class Counted : public Interfaces... {
 public:
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~Counted() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

// A dispatch object whose members are found by name only, with no type
// information to offer.
template <class... Others>
class Untyped : public Counted<IDispatch, Others...> {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
};

std::wstring bstr_text(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

// A string argument (by value or by reference), converted the script way.
std::wstring text_arg(const VARIANT& value) {
  VARIANT copy;
  VariantInit(&copy);
  if (FAILED(VariantChangeType(&copy, const_cast<VARIANT*>(&value), 0, VT_BSTR))) return {};
  std::wstring text = bstr_text(V_BSTR(&copy));
  VariantClear(&copy);
  return text;
}

long long_arg(const VARIANT& value) {
  VARIANT copy;
  VariantInit(&copy);
  if (FAILED(VariantChangeType(&copy, const_cast<VARIANT*>(&value), 0, VT_I4))) return 0;
  return V_I4(&copy);
}

IDispatch* object_arg(const VARIANT& value) {
  const VARIANT* v = V_VT(&value) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(&value) : &value;
  if (V_VT(v) == VT_DISPATCH) return V_DISPATCH(v);
  return nullptr;
}

void set_text(VARIANT* result, const std::wstring& text) {
  if (!result) return;
  V_VT(result) = VT_BSTR;
  V_BSTR(result) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

void set_long(VARIANT* result, long value) {
  if (!result) return;
  V_VT(result) = VT_I4;
  V_I4(result) = value;
}

std::wstring hex(HRESULT hr) {
  wchar_t text[16];
  std::swprintf(text, 16, L"0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::wstring guid_text(const GUID& id) {
  wchar_t text[40];
  StringFromGUID2(id, text, 40);
  return text;
}

// Pumps the thread's messages for `ms` milliseconds or until `done`.
template <class F>
bool pump(DWORD ms, F&& done) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now < 50 ? end - now : 50), QS_ALLINPUT);
  }
}

// The events a Watch heard, in order: "OnStatusChange(Locating File)".
struct Record {
  std::vector<std::wstring> events;
  // An event starting so makes the listener let go of the control inside
  // the event (UnwatchOn).
  std::wstring let_go_on;
  std::function<void()> let_go;
};

// Listens on a control's source interface the way a script host binds
// events: the interface comes from IProvideClassInfo2, member names from the
// class's type information.
class Sink final : public Untyped<> {
 public:
  Sink(Record& record, IID source, ITypeInfo* events) : record_(record), source_(source), events_(events) {
    events_->AddRef();
  }
  ~Sink() { events_->Release(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == source_) {
      AddRef();
      *out = static_cast<IDispatch*>(this);
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    BSTR name = nullptr;
    UINT got = 0;
    std::wstring text;
    if (SUCCEEDED(events_->GetNames(id, &name, 1, &got)) && got == 1) {
      text = bstr_text(name);
      SysFreeString(name);
    } else {
      text = L"?" + std::to_wstring(id);
    }
    text += L"(";
    for (UINT k = params ? params->cArgs : 0; k-- > 0;) {
      text += text_arg(params->rgvarg[k]);
      if (k > 0) text += L",";
    }
    text += L")";
    record_.events.push_back(text);
    if (!record_.let_go_on.empty() && text.compare(0, record_.let_go_on.size(), record_.let_go_on) == 0) {
      record_.let_go_on.clear();
      record_.let_go();
    }
    return S_OK;
  }

 private:
  Record& record_;
  IID source_;
  ITypeInfo* events_;
};

// The document a page offers its controls: its address and cookie.
class Document final : public Untyped<IOleContainer> {
 public:
  Document(std::wstring url, std::wstring cookie) : url_(std::move(url)), cookie_(std::move(cookie)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch)
      *out = static_cast<IDispatch*>(this);
    else if (riid == IID_IOleContainer || riid == IID_IParseDisplayName)
      *out = static_cast<IOleContainer*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx*, LPOLESTR, ULONG*, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumObjects(DWORD, IEnumUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockContainer(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count != 1) return DISP_E_UNKNOWNNAME;
    if (_wcsicmp(names[0], L"URL") == 0) {
      ids[0] = 1;
      return S_OK;
    }
    if (_wcsicmp(names[0], L"cookie") == 0) {
      ids[0] = 2;
      return S_OK;
    }
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (id != 1 && id != 2) return DISP_E_MEMBERNOTFOUND;
    set_text(result, id == 1 ? url_ : cookie_);
    return S_OK;
  }

 private:
  std::wstring url_;
  std::wstring cookie_;
};

// The client site a page gives what it embeds.
class Site final : public Counted<IOleClientSite> {
 public:
  explicit Site(Document* document) : document_(document) {}
  ~Site() { document_->Release(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IOleClientSite) return E_NOINTERFACE;
    AddRef();
    *out = this;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** out) override {
    document_->AddRef();
    *out = document_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

 private:
  Document* document_;
};

// A property bag in memory, as a container keeps a control's properties.
class Bag final : public Counted<IPropertyBag> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IPropertyBag) return E_NOINTERFACE;
    AddRef();
    *out = this;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    for (auto& [key, stored] : values)
      if (_wcsicmp(key.c_str(), name) == 0) return VariantCopy(value, &stored);
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
    values.emplace_back(name, VARIANT{});
    VariantInit(&values.back().second);
    return VariantCopy(&values.back().second, value);
  }
  ~Bag() {
    for (auto& entry : values) VariantClear(&entry.second);
  }

  std::vector<std::pair<std::wstring, VARIANT>> values;
};

enum Member : DISPID {
  m_wait = 1,
  m_watch,
  m_unwatch,
  m_wait_for,
  m_event_count,
  m_event,
  m_events,
  m_clear,
  m_dispid,
  m_type_dispid,
  m_source,
  m_class_name,
  m_bag_round_trip,
  m_stream_round_trip,
  m_load_empty_bag,
  m_safety,
  m_embed,
  m_dirty,
  m_unwatch_on,
  m_points,
  m_set_variable,
};

struct Name {
  const wchar_t* name;
  DISPID id;
};
constexpr Name member_names[] = {
    {L"Wait", m_wait},
    {L"Watch", m_watch},
    {L"Unwatch", m_unwatch},
    {L"WaitFor", m_wait_for},
    {L"EventCount", m_event_count},
    {L"Event", m_event},
    {L"Events", m_events},
    {L"Clear", m_clear},
    {L"DispId", m_dispid},
    {L"TypeDispId", m_type_dispid},
    {L"SourceInterface", m_source},
    {L"ClassName", m_class_name},
    {L"BagRoundTrip", m_bag_round_trip},
    {L"StreamRoundTrip", m_stream_round_trip},
    {L"LoadEmptyBag", m_load_empty_bag},
    {L"Safety", m_safety},
    {L"Embed", m_embed},
    {L"IsDirty", m_dirty},
    {L"UnwatchOn", m_unwatch_on},
    {L"ConnectionPoints", m_points},
    {L"SetVariable", m_set_variable},
};

class Helper final : public Untyped<> {
 public:
  Helper() {
    ++live;
    record_.let_go = [this] { unwatch(); };
  }
  ~Helper() {
    unwatch();
    --live;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
    AddRef();
    *out = this;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    for (UINT k = 0; k < count; ++k) ids[k] = DISPID_UNKNOWN;
    if (count != 1) return DISP_E_UNKNOWNNAME;
    for (const auto& n : member_names)
      if (_wcsicmp(n.name, names[0]) == 0) {
        ids[0] = n.id;
        return S_OK;
      }
    return DISP_E_UNKNOWNNAME;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    const UINT argc = params ? params->cArgs : 0;
    // Arguments arrive last first.
    auto arg = [&](UINT k) -> const VARIANT& { return params->rgvarg[argc - 1 - k]; };
    auto need = [&](UINT n) { return argc == n; };
    if (result) VariantInit(result);
    switch (id) {
      case m_wait:
        if (!need(1)) return DISP_E_BADPARAMCOUNT;
        pump(static_cast<DWORD>(long_arg(arg(0))), [] { return false; });
        return S_OK;
      case m_wait_for: {
        // WaitFor(start, ms): true once an event whose text starts so has
        // come ("OnFileComplete(", "OnStatusChange(File Not Found)").
        if (!need(2)) return DISP_E_BADPARAMCOUNT;
        const std::wstring name = text_arg(arg(0));
        const bool came = pump(static_cast<DWORD>(long_arg(arg(1))), [&] {
          for (const auto& e : record_.events)
            if (e.compare(0, name.size(), name) == 0) return true;
          return false;
        });
        if (result) {
          V_VT(result) = VT_BOOL;
          V_BOOL(result) = came ? VARIANT_TRUE : VARIANT_FALSE;
        }
        return S_OK;
      }
      case m_watch: {
        if (!need(1) || !object_arg(arg(0))) return DISP_E_TYPEMISMATCH;
        const HRESULT hr = watch(object_arg(arg(0)));
        set_text(result, hex(hr));
        return S_OK;
      }
      case m_unwatch:
        unwatch();
        return S_OK;
      case m_unwatch_on:
        // UnwatchOn(start): the next event whose text starts so ends the
        // watch from inside the event, releasing the control there.
        if (!need(1)) return DISP_E_BADPARAMCOUNT;
        record_.let_go_on = text_arg(arg(0));
        return S_OK;
      case m_event_count:
        set_long(result, static_cast<long>(record_.events.size()));
        return S_OK;
      case m_event: {
        if (!need(1)) return DISP_E_BADPARAMCOUNT;
        const long n = long_arg(arg(0));
        if (n < 1 || static_cast<std::size_t>(n) > record_.events.size()) return DISP_E_BADINDEX;
        set_text(result, record_.events[static_cast<std::size_t>(n - 1)]);
        return S_OK;
      }
      case m_events: {
        std::wstring all;
        for (const auto& e : record_.events) all += e + L"\n";
        set_text(result, all);
        return S_OK;
      }
      case m_clear:
        record_.events.clear();
        return S_OK;
      case m_dispid:
      case m_type_dispid: {
        if (!need(2) || !object_arg(arg(0))) return DISP_E_TYPEMISMATCH;
        std::wstring name = text_arg(arg(1));
        set_long(result,
                 id == m_dispid ? dispid_of(object_arg(arg(0)), name) : type_dispid_of(object_arg(arg(0)), name));
        return S_OK;
      }
      case m_source:
      case m_class_name: {
        if (!need(1) || !object_arg(arg(0))) return DISP_E_TYPEMISMATCH;
        set_text(result, id == m_source ? source_of(object_arg(arg(0))) : class_name_of(object_arg(arg(0))));
        return S_OK;
      }
      case m_bag_round_trip:
      case m_stream_round_trip: {
        if (!need(2) || !object_arg(arg(0)) || !object_arg(arg(1))) return DISP_E_TYPEMISMATCH;
        set_text(result, id == m_bag_round_trip ? bag_round_trip(object_arg(arg(0)), object_arg(arg(1)))
                                                : stream_round_trip(object_arg(arg(0)), object_arg(arg(1))));
        return S_OK;
      }
      case m_load_empty_bag: {
        if (!need(1) || !object_arg(arg(0))) return DISP_E_TYPEMISMATCH;
        IPersistPropertyBag* persist = nullptr;
        HRESULT hr = object_arg(arg(0))->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&persist));
        if (SUCCEEDED(hr)) {
          Bag* bag = new Bag();
          hr = persist->Load(bag, nullptr);
          bag->Release();
          persist->Release();
        }
        set_text(result, hex(hr));
        return S_OK;
      }
      case m_safety: {
        // Safety(control, "IDispatch" | "IPersistPropertyBag" | ...):
        // "hr supported enabled".
        if (!need(2) || !object_arg(arg(0))) return DISP_E_TYPEMISMATCH;
        set_text(result, safety_of(object_arg(arg(0)), text_arg(arg(1))));
        return S_OK;
      }
      case m_embed: {
        // Embed(control, url, cookie): the control sits in a page.
        if (!need(3) || !object_arg(arg(0))) return DISP_E_TYPEMISMATCH;
        IObjectWithSite* with_site = nullptr;
        HRESULT hr = object_arg(arg(0))->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&with_site));
        if (SUCCEEDED(hr)) {
          Site* site = new Site(new Document(text_arg(arg(1)), text_arg(arg(2))));
          hr = with_site->SetSite(site);
          site->Release();
          with_site->Release();
        }
        set_text(result, hex(hr));
        return S_OK;
      }
      case m_dirty: {
        if (!need(1) || !object_arg(arg(0))) return DISP_E_TYPEMISMATCH;
        IPersistStreamInit* persist = nullptr;
        HRESULT hr = object_arg(arg(0))->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist));
        if (SUCCEEDED(hr)) {
          hr = persist->IsDirty();
          persist->Release();
        }
        set_text(result, hex(hr));
        return S_OK;
      }
      case m_points: {
        // ConnectionPoints(control): the interface of each point the
        // container lists, separated by blanks.
        if (!need(1) || !object_arg(arg(0))) return DISP_E_TYPEMISMATCH;
        set_text(result, points_of(object_arg(arg(0))));
        return S_OK;
      }
      case m_set_variable: {
        // SetVariable(name, value): the script's own process environment
        // (the folder answer), which Wine's script host cannot change;
        // an empty value removes the variable.
        if (!need(2)) return DISP_E_BADPARAMCOUNT;
        const std::wstring value = text_arg(arg(1));
        SetEnvironmentVariableW(text_arg(arg(0)).c_str(), value.empty() ? nullptr : value.c_str());
        return S_OK;
      }
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  HRESULT watch(IDispatch* control) {
    unwatch();
    IProvideClassInfo2* info = nullptr;
    HRESULT hr = control->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info));
    if (FAILED(hr)) return hr;
    IID source{};
    hr = info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source);
    ITypeInfo* cls = nullptr;
    if (SUCCEEDED(hr)) hr = info->GetClassInfo(&cls);
    info->Release();
    if (FAILED(hr)) return hr;
    // The [default, source] interface of the class, as a host finds it.
    ITypeInfo* events = nullptr;
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(cls->GetTypeAttr(&attr))) {
      for (UINT k = 0; k < attr->cImplTypes && !events; ++k) {
        INT flags = 0;
        HREFTYPE ref = 0;
        if (FAILED(cls->GetImplTypeFlags(k, &flags)) || !(flags & IMPLTYPEFLAG_FSOURCE) ||
            !(flags & IMPLTYPEFLAG_FDEFAULT))
          continue;
        if (SUCCEEDED(cls->GetRefTypeOfImplType(k, &ref))) cls->GetRefTypeInfo(ref, &events);
      }
      cls->ReleaseTypeAttr(attr);
    }
    cls->Release();
    if (!events) return E_NOINTERFACE;
    IConnectionPointContainer* container = nullptr;
    hr = control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (SUCCEEDED(hr)) {
      hr = container->FindConnectionPoint(source, &point_);
      container->Release();
    }
    if (SUCCEEDED(hr)) {
      Sink* sink = new Sink(record_, source, events);
      hr = point_->Advise(sink, &cookie_);
      sink->Release();
    }
    events->Release();
    return hr;
  }

  void unwatch() {
    if (!point_) return;
    IConnectionPoint* point = point_;
    point_ = nullptr;
    point->Unadvise(cookie_);
    point->Release();
  }

  static long dispid_of(IDispatch* object, std::wstring& name) {
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return SUCCEEDED(hr) ? id : static_cast<long>(hr);
  }

  static long type_dispid_of(IDispatch* object, std::wstring& name) {
    ITypeInfo* info = nullptr;
    HRESULT hr = object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
    if (FAILED(hr)) return static_cast<long>(hr);
    LPOLESTR names[] = {name.data()};
    MEMBERID id = MEMBERID_NIL;
    hr = info->GetIDsOfNames(names, 1, &id);
    info->Release();
    return SUCCEEDED(hr) ? id : static_cast<long>(hr);
  }

  static std::wstring source_of(IDispatch* object) {
    IProvideClassInfo2* info = nullptr;
    HRESULT hr = object->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info));
    if (FAILED(hr)) return hex(hr);
    IID source{};
    hr = info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source);
    info->Release();
    return FAILED(hr) ? hex(hr) : guid_text(source);
  }

  static std::wstring class_name_of(IDispatch* object) {
    IProvideClassInfo* info = nullptr;
    HRESULT hr = object->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&info));
    if (FAILED(hr)) return hex(hr);
    ITypeInfo* cls = nullptr;
    hr = info->GetClassInfo(&cls);
    info->Release();
    if (FAILED(hr)) return hex(hr);
    BSTR name = nullptr;
    hr = cls->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    cls->Release();
    if (FAILED(hr)) return hex(hr);
    std::wstring text = bstr_text(name);
    SysFreeString(name);
    return text;
  }

  // Saves `from` into a property bag and loads `to` from it: "URL=value"
  // for each value the bag got, or the failing status.
  static std::wstring bag_round_trip(IDispatch* from, IDispatch* to) {
    IPersistPropertyBag* out = nullptr;
    IPersistPropertyBag* in = nullptr;
    HRESULT hr = from->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&out));
    if (SUCCEEDED(hr)) hr = to->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&in));
    std::wstring text;
    Bag* bag = new Bag();
    if (SUCCEEDED(hr)) hr = out->Save(bag, TRUE, TRUE);
    if (SUCCEEDED(hr)) hr = in->Load(bag, nullptr);
    for (auto& [key, value] : bag->values) text += key + L"=" + text_arg(value) + L";";
    bag->Release();
    if (out) out->Release();
    if (in) in->Release();
    return FAILED(hr) ? hex(hr) : text;
  }

  // The same through a stream in memory: the stream's size, or the failing
  // status.
  static std::wstring stream_round_trip(IDispatch* from, IDispatch* to) {
    IPersistStreamInit* out = nullptr;
    IPersistStreamInit* in = nullptr;
    IStream* stream = nullptr;
    HRESULT hr = from->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&out));
    if (SUCCEEDED(hr)) hr = to->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&in));
    if (SUCCEEDED(hr)) hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    if (SUCCEEDED(hr)) hr = out->Save(stream, TRUE);
    ULARGE_INTEGER size{};
    if (SUCCEEDED(hr)) {
      LARGE_INTEGER zero{};
      stream->Seek(zero, STREAM_SEEK_CUR, &size);
      stream->Seek(zero, STREAM_SEEK_SET, nullptr);
      hr = in->Load(stream);
    }
    if (stream) stream->Release();
    if (out) out->Release();
    if (in) in->Release();
    return FAILED(hr) ? hex(hr) : std::to_wstring(size.QuadPart);
  }

  static std::wstring points_of(IDispatch* object) {
    IConnectionPointContainer* container = nullptr;
    HRESULT hr = object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr)) return hex(hr);
    IEnumConnectionPoints* points = nullptr;
    hr = container->EnumConnectionPoints(&points);
    container->Release();
    if (FAILED(hr)) return hex(hr);
    std::wstring text;
    IConnectionPoint* point = nullptr;
    ULONG got = 0;
    while (points->Next(1, &point, &got) == S_OK && got == 1) {
      IID iid{};
      point->GetConnectionInterface(&iid);
      text += (text.empty() ? L"" : L" ") + guid_text(iid);
      point->Release();
    }
    points->Release();
    return text;
  }

  static std::wstring safety_of(IDispatch* object, const std::wstring& which) {
    IID iid = IID_NULL;
    if (which == L"IDispatch") iid = IID_IDispatch;
    if (which == L"IPersistPropertyBag") iid = IID_IPersistPropertyBag;
    if (which == L"IPersistStreamInit") iid = IID_IPersistStreamInit;
    if (which == L"IUnknown") iid = IID_IUnknown;
    IObjectSafety* safety = nullptr;
    HRESULT hr = object->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety));
    if (FAILED(hr)) return hex(hr);
    DWORD supported = 0;
    DWORD enabled = 0;
    hr = safety->GetInterfaceSafetyOptions(iid, &supported, &enabled);
    safety->Release();
    return hex(hr) + L" " + std::to_wstring(supported) + L" " + std::to_wstring(enabled);
  }

  Record record_;
  IConnectionPoint* point_ = nullptr;
  DWORD cookie_ = 0;
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *out = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    Helper* helper = new Helper();
    const HRESULT hr = helper->QueryInterface(riid, out);
    helper->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      ++live;
    else
      --live;
    return S_OK;
  }
};

Factory factory;

// Where Vintrel.dll registers too: per user, or for the machine when
// elevated (Wine runs elevated, and its COM reads only the machine's
// classes).
HKEY classes_root() {
  HANDLE token = nullptr;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  bool elevated = false;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
               elevation.TokenIsElevated != 0;
    CloseHandle(token);
  }
  return elevated ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

bool set_value(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle = nullptr;
  const std::wstring path = L"Software\\Classes\\" + key;
  if (RegCreateKeyExW(classes_root(), path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS)
    return false;
  const LSTATUS status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return status == ERROR_SUCCESS;
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_Helper) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, out);
}

STDAPI DllCanUnloadNow() { return live == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
  const std::wstring clsid = guid_text(CLSID_Helper);
  const bool ok = set_value(helper_progid, nullptr, L"Vintrel test helper") &&
                  set_value(std::wstring(helper_progid) + L"\\CLSID", nullptr, clsid) &&
                  set_value(L"CLSID\\" + clsid, nullptr, L"Vintrel test helper") &&
                  set_value(L"CLSID\\" + clsid + L"\\InprocServer32", nullptr, path) &&
                  set_value(L"CLSID\\" + clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
                  set_value(L"CLSID\\" + clsid + L"\\ProgID", nullptr, helper_progid);
  return ok ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
  const std::wstring clsid = guid_text(CLSID_Helper);
  RegDeleteTreeW(classes_root(), (L"Software\\Classes\\CLSID\\" + clsid).c_str());
  RegDeleteTreeW(classes_root(), (std::wstring(L"Software\\Classes\\") + helper_progid).c_str());
  return S_OK;
}
