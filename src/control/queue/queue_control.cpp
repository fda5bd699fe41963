// Queue control: the operations with which script runs the queue.

#include "control/user_control1.hpp"

namespace vintrel::control {

using namespace queue::status;

void UserControl1::StartQueue() {
  // The dialog keeps the loop running, so a page handler could call us
  // again while our own dialog is still open.
  if (folderDialogOpen_) automation::raise(automation::err::invalid_call);
  // A host without a page object leaves the page data empty.
  platform::PageObject* page = container_ ? container_->page() : nullptr;
  std::string cookie = page ? page->cookie() : std::string();
  std::string address = page ? page->URL() : std::string();
  // Both go into every request as header lines: text with a line end in it
  // would add headers of its own, so the queue does not start with it.
  refuse_control_characters(cookie, automation::err::invalid_call, "The page's cookie text");
  refuse_control_characters(address, automation::err::invalid_call, "The page's address");
  cookielist = std::move(cookie);
  containerURL = std::move(address);
  chooseFolder();
  if (sBuffer.empty()) numfilesadded = 0;
  createRecords();
  if (numfilesadded > 0) {
    addFilesToQueue();
    downloadQueue();
  }
}

void UserControl1::downloadQueue() {
  automation::increment(qPointer);
  i = CurFile;
  const std::int16_t n = CurFile;
  DownloadFile& F = DownloadFiles->Item(n);
  F.downloadStatus = pinging;
  F.isResumingDownload = false;
  F.isCon = false;
  F.isSent = false;
  // Redirections and failed attempts are counted from each start of the
  // file.
  fileSlots_[n].dlTransfer.redirects = 0;
  fileSlots_[n].dlFailedAttempts = 0;
  launchProbes(n);
  // A single server needs no probing: the file is ready to connect now.
  if (DownloadFiles->Item(n).downloadStatus == pinged) request_tick(n, pinged);
}

void UserControl1::GotoFile(std::int16_t FileNum) {
  theerrnumber = 0;
  theerrdesc = "No Error";
  if (totalFiles < FileNum) {
    StatusChange("Completed All Transfers");
    TransferComplete();
    return;
  }
  CurFile = FileNum;
  downloadQueue();
}

void UserControl1::PauseQueue() {
  paused = 1;
  localFiles.Close(CurFile);
  if (Winsock1->State(CurFile) != platform::sck::closed) Winsock1->Close(CurFile);
  StatusChange("Paused Queue");
  DownloadFile& R = DownloadFiles->Item(CurFile);
  R.IsHeaderReceived = false;
  R.strHTTPResponse.clear();
  R.IsResponseReceived = false;
}

void UserControl1::ResumeQueue() {
  if (paused != 1) return;
  paused = 0;
  GotoFile(CurFile);
}

void UserControl1::CancelQueue() {
  localFiles.Close(CurFile);
  if (Winsock1->State(CurFile) != platform::sck::closed) Winsock1->Close(CurFile);
  DownloadFiles->Item(CurFile).strHTTPResponse.clear();
  StatusChange("Cancelled Download Queue");
}

}  // namespace vintrel::control
