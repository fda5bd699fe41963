#pragma once
// What the control needs from its host: somewhere to send its three events,
// the page it sits in (address and cookie text), and the folder dialog.

#include <functional>
#include <optional>
#include <string>

namespace vintrel::platform {

/// The page object of the host: its address and its cookie text.
class PageObject {
 public:
  virtual ~PageObject() = default;
  /// The page's address.
  virtual std::string URL() = 0;
  /// The page's cookie text.
  virtual std::string cookie() = 0;
};

/// The folder dialog: asks the user for a download folder.
class FolderDialog {
 public:
  virtual ~FolderDialog() = default;
  /// The confirmed folder, or nothing when the user cancelled.
  using Answer = std::function<void(std::optional<std::string> folder)>;
  /// Shows the dialog titled `title` with `preselect` selected (when not
  /// empty). Returns at once; the answer comes later, on the loop.
  virtual void show(const std::string& title, const std::string& preselect, Answer answer) = 0;
};

/// The host of a control.
class Container {
 public:
  virtual ~Container() = default;
  /// The control's events, raised synchronously on the control's thread; a
  /// handler may call back into the control.
  virtual void OnStatusChange(const std::string& Text) = 0;
  virtual void OnFileComplete(const std::string& Text) = 0;
  virtual void OnTransferComplete() = 0;
  /// The page the control sits in; null for a host without one.
  virtual PageObject* page() { return nullptr; }
  /// The folder dialog; null when the host offers none (the dialog then
  /// counts as cancelled).
  virtual FolderDialog* folder_dialog() { return nullptr; }
};

}  // namespace vintrel::platform
