#pragma once
// What the engine asks of its container, answered from the control's site:
// the page, when the site offers a document, and the desktop's folder
// dialog. Events go to the connection point's listeners, not here.

#include <unknwn.h>
#include <windows.h>

#include <memory>
#include <string>

#include "com/apartment.hpp"
#include "com/document_page.hpp"
#include "com/unknown.hpp"
#include "platform/container.hpp"

namespace vintrel::com {

/// The container of one control; `owner` is that control.
class SiteContainer final : public platform::Container {
 public:
  SiteContainer(IDispatch& owner, Apartment& apartment) : owner_(owner), apartment_(apartment) {}

  void OnStatusChange(const std::string&) override { hold_through_event(); }
  void OnFileComplete(const std::string&) override { hold_through_event(); }
  void OnTransferComplete() override { hold_through_event(); }
  platform::PageObject* page() override;
  platform::FolderDialog* folder_dialog() override { return apartment_.folder_dialog(); }

  /// The site the container set (IObjectWithSite), if any.
  Ref<IUnknown> site;

 private:
  void hold_through_event();

  IDispatch& owner_;
  Apartment& apartment_;
  std::unique_ptr<DocumentPage> page_;
};

}  // namespace vintrel::com
