#include "com/document_page.hpp"

#include <ocidl.h>

#include "com/values.hpp"

namespace vintrel::com {

namespace {

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

}  // namespace

std::string DocumentPage::URL() { return read_text(document_.get(), L"URL"); }

std::string DocumentPage::cookie() { return read_text(document_.get(), L"cookie"); }

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

}  // namespace vintrel::com
