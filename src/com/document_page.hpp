#pragma once
// The page a control sits in, as its container offers it: the document
// behind the client site a browser hands to what a page embeds.

#include <oaidl.h>
#include <windows.h>

#include <string>
#include <utility>

#include "com/unknown.hpp"
#include "platform/container.hpp"

namespace vintrel::com {

/// The engine's view of the page: the document's "URL" and "cookie",
/// read as the engine asks for them.
class DocumentPage final : public platform::PageObject {
 public:
  explicit DocumentPage(Ref<IDispatch> document) : document_(std::move(document)) {}
  std::string URL() override;
  std::string cookie() override;

 private:
  Ref<IDispatch> document_;
};

/// The document of the container behind `site`, when it offers one: the
/// client site's container, as a browser hands it to what a page embeds.
Ref<IDispatch> document_of(IUnknown* site);

}  // namespace vintrel::com
