#pragma once
// What the control needs from its host: somewhere to send its three events,
// the page it sits in (address and cookie text), and the folder dialog.

#include <cstdint>
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

/// Why a dialog answered without a folder although nobody cancelled it.
struct FolderFailure {
  enum class Kind : std::uint8_t {
    none,             // a folder, or the user cancelled
    unusable_answer,  // an answer given in advance names no existing folder
    cannot_ask,       // nobody can be asked: no desktop to show the dialog on
  };
  Kind kind = Kind::none;
  /// For the person reading the error: what was wrong, and with what.
  std::string description;
};

/// The folder dialog: asks the user for a download folder.
class FolderDialog {
 public:
  virtual ~FolderDialog() = default;
  /// The confirmed folder, or nothing when the user cancelled or the
  /// dialog failed (see failure()).
  using Answer = std::function<void(std::optional<std::string> folder)>;
  /// Shows the dialog titled `title` with `preselect` selected (when not
  /// empty). Returns at once; the answer comes later, on the loop.
  virtual void show(const std::string& title, const std::string& preselect, Answer answer) = 0;
  /// Why the latest answer held no folder, when it was not the user's
  /// cancel: a failure must not pass for a cancel, which a caller may take
  /// as "do nothing".
  virtual FolderFailure failure() const { return {}; }
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
