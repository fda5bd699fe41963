#include "com/site_container.hpp"

#include <utility>

namespace vintrel::com {

platform::PageObject* SiteContainer::page() {
  Ref<IDispatch> document = document_of(site.get());
  if (!document) return nullptr;
  page_ = std::make_unique<DocumentPage>(std::move(document));
  return page_.get();
}

void SiteContainer::hold_through_event() {
  // A listener may drop the last reference to the control while the engine
  // is still inside the step that raised the event: the control lives until
  // the loop has finished that step.
  owner_.AddRef();
  apartment_.platform().post([&owner = owner_] { Apartment::release_later(owner); });
}

}  // namespace vintrel::com
