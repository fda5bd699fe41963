#include "com/object_dispatch.hpp"

#include <mutex>
#include <string>
#include <vector>

#include "automation/collection.hpp"
#include "automation/enumerator.hpp"
#include "com/unknown.hpp"
#include "com/values.hpp"

namespace vintrel::com {

// {5B1F3D2E-8C4A-4F6B-9E27-1A3C5D7E9F02}
const IID IID_IEngineObject = {0x5b1f3d2e, 0x8c4a, 0x4f6b, {0x9e, 0x27, 0x1a, 0x3c, 0x5d, 0x7e, 0x9f, 0x02}};

namespace {

using automation::Variant;

// Names met so far, by identifier - 1. Records have no type information, so
// identifiers are handed out as names are asked for; script may ask on any
// apartment's thread.
std::mutex names_mutex;
std::vector<std::string> names;
constexpr std::size_t max_names = 4096;

std::string name_of(DISPID id) {
  std::lock_guard lock(names_mutex);
  if (id < 1 || static_cast<std::size_t>(id) > names.size()) return {};
  return names[static_cast<std::size_t>(id) - 1];
}

// For Each over a collection: the engine's enumerator as IEnumVARIANT.
class VariantEnumerator final : public IEnumVARIANT, private RefCounted {
 public:
  explicit VariantEnumerator(std::shared_ptr<automation::Enumerator> items) : items_(std::move(items)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IEnumVARIANT) return hand_out(static_cast<IEnumVARIANT*>(this), out);
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* out, ULONG* fetched) override {
    if (!out) return E_POINTER;
    ULONG got = 0;
    try {
      Variant item;
      while (got < count && items_->Next(item)) {
        VariantInit(&out[got]);
        to_variant(item, &out[got]);
        ++got;
      }
    } catch (...) {
      for (ULONG k = 0; k < got; ++k) VariantClear(&out[k]);
      if (fetched) *fetched = 0;
      return E_OUTOFMEMORY;
    }
    if (fetched) *fetched = got;
    return got == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    return items_->Skip(static_cast<std::int32_t>(count)) ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    items_->Reset();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
    if (!out) return E_POINTER;
    try {
      *out = new VariantEnumerator(items_->Clone());
      return S_OK;
    } catch (...) {
      *out = nullptr;
      return E_OUTOFMEMORY;
    }
  }

 private:
  std::shared_ptr<automation::Enumerator> items_;
};

class ObjectDispatch final : public IDispatch, public IEngineObject, private RefCounted {
 public:
  explicit ObjectDispatch(std::shared_ptr<automation::Object> object) : object_(std::move(object)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch) return hand_out(static_cast<IDispatch*>(this), out);
    if (riid == IID_IEngineObject) return hand_out(static_cast<IEngineObject*>(this), out);
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  std::shared_ptr<automation::Object> STDMETHODCALLTYPE engine_object() override { return object_; }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names_in, UINT count, LCID, DISPID* ids) override {
    if (!names_in || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    try {
      ids[0] = record_dispid(names_in[0]);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    if (ids[0] == DISPID_UNKNOWN) return DISP_E_UNKNOWNNAME;
    // Records take no named arguments.
    for (UINT k = 1; k < count; ++k) ids[k] = DISPID_UNKNOWN;
    return count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* info, UINT*) override {
    static DISPPARAMS no_params{};
    if (!params) params = &no_params;
    std::string name;
    if (id == DISPID_NEWENUM)
      name = "_NewEnum";
    else if (id != DISPID_VALUE) {
      name = name_of(id);
      if (name.empty()) return DISP_E_MEMBERNOTFOUND;
    }
    const bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
    const UINT named = params->cNamedArgs;
    if (named > (put ? 1u : 0u) || (named == 1 && params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
      return DISP_E_NONAMEDARGS;
    return guarded_invoke(info, [&] {
      std::vector<Variant> args;
      // Arguments arrive last first.
      for (UINT k = params->cArgs; k-- > 0;) args.push_back(from_variant(params->rgvarg[k]));
      if (put) {
        if (args.size() != 1) automation::raise(automation::err::wrong_arg_count);
        object_->put(name, args.front());
        return;
      }
      Variant value;
      if (!args.empty() || !(flags & DISPATCH_PROPERTYGET)) {
        if (!args.empty() && is_data_member(name))
          value = item_of(object_->get(name), args);
        else
          value = object_->call(name, args);
      } else {
        try {
          value = object_->get(name);
        } catch (const automation::AutomationError& error) {
          // A method read as a value: script cannot tell a call from a read.
          if (error.number() != automation::err::no_member || !(flags & DISPATCH_METHOD)) throw;
          value = object_->call(name, args);
        }
      }
      if (id == DISPID_NEWENUM) {
        auto items = std::dynamic_pointer_cast<automation::Enumerator>(value.object());
        if (!items) automation::raise(automation::err::no_member);
        if (result) {
          VariantClear(result);
          V_VT(result) = VT_UNKNOWN;
          V_UNKNOWN(result) = static_cast<IEnumVARIANT*>(new VariantEnumerator(std::move(items)));
        }
        return;
      }
      if (result) to_variant(value, result);
    });
  }

 private:
  // A member read by get that is not one of the collection's own methods:
  // remoteServerLocs of a DownloadFile, say.
  bool is_data_member(const std::string& name) const {
    if (std::dynamic_pointer_cast<automation::CollectionBase>(object_)) return false;
    for (const auto& member : object_->member_names())
      if (automation::same_name(member, name)) return true;
    return false;
  }

  std::shared_ptr<automation::Object> object_;
};

}  // namespace

Variant item_of(const Variant& holder, std::vector<Variant>& args) {
  if (holder.type() != automation::VarType::Dispatch || !holder.object())
    automation::raise(automation::err::wrong_arg_count);
  return holder.object()->call("", args);
}

DISPID record_dispid(std::wstring_view wide) {
  const std::string name = to_utf8(wide);
  std::lock_guard lock(names_mutex);
  for (std::size_t k = 0; k < names.size(); ++k)
    if (automation::same_name(names[k], name)) return static_cast<DISPID>(k + 1);
  // Names are kept for the process; script that makes up names without
  // end gets no identifier past this many, and its lookups fail instead.
  if (names.size() >= max_names) return DISPID_UNKNOWN;
  names.push_back(name);
  return static_cast<DISPID>(names.size());
}

std::shared_ptr<automation::Object> engine_object_of(IUnknown* unknown) {
  if (!unknown) return nullptr;
  IEngineObject* own = nullptr;
  if (FAILED(unknown->QueryInterface(IID_IEngineObject, reinterpret_cast<void**>(&own))) || !own) return nullptr;
  std::shared_ptr<automation::Object> object = own->engine_object();
  own->Release();
  return object;
}

IDispatch* dispatch_of(std::shared_ptr<automation::Object> object) {
  return static_cast<IDispatch*>(new ObjectDispatch(std::move(object)));
}

}  // namespace vintrel::com
