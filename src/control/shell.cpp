// Shell services: the folder dialog and opening files.

#include <optional>

#include "control/user_control1.hpp"

namespace vintrel::control {

void UserControl1::SetDirectory(const std::string& thedir) { dldirectory = thedir; }

void UserControl1::SetDLText(const std::string& themessage) { dlBrowseTitle = themessage; }

void UserControl1::chooseFolder() {
  platform::FolderDialog* dialog = container_ ? container_->folder_dialog() : nullptr;
  if (!dialog) return;  // no dialog to show counts as cancelled

  // Shared with the dialog: its answer may come after we stopped waiting
  // (the loop was stopped), and must not write into a finished call.
  struct Answer {
    bool given = false;
    std::optional<std::string> folder;
  };
  auto answer = std::make_shared<Answer>();
  folderDialogOpen_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{folderDialogOpen_};

  dialog->show(dlBrowseTitle, dldirectory, [answer](std::optional<std::string> folder) {
    answer->given = true;
    answer->folder = std::move(folder);
  });
  // Ticks and socket events of files already queued go on meanwhile.
  platform_.wait_until([answer] { return answer->given; });
  if (!answer->given) return;
  if (answer->folder) {
    sBuffer = *answer->folder;
    return;
  }
  // Only the user's cancel keeps quiet: a folder answer that names nothing,
  // or nobody to ask, is raised before the queue goes on, so the URL list
  // is not dropped for a choice nobody made.
  const platform::FolderFailure failure = dialog->failure();
  switch (failure.kind) {
    case platform::FolderFailure::Kind::none:
      break;
    case platform::FolderFailure::Kind::unusable_answer:
      automation::raise(automation::err::path_not_found, "Vintrel", failure.description);
    case platform::FolderFailure::Kind::cannot_ask:
      automation::raise(automation::err::invalid_call, "Vintrel", failure.description);
  }
}

std::int32_t UserControl1::BrowseCallbackProcStr(std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
  // The dialog preselects its folder itself; the callback has nothing to do.
  return 0;
}

void UserControl1::ExecFile(const std::string& thefile) { platform_.shell_open(thefile); }

void UserControl1::OpenIt(const std::string& pathname) { platform_.shell_open(pathname); }

}  // namespace vintrel::control
