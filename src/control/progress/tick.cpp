// The tick: once a second the current file is moved one step on.

#include "control/user_control1.hpp"

namespace vintrel::control {

using namespace queue::status;
using automation::int_div;
using platform::sck::connected;

namespace {
// A start time not later than this counts as unset (an unset date is day 0).
const Date unset_start_limit = platform::make_date(1971, 1, 1, 0, 1, 0);
}  // namespace

void UserControl1::Timer1_Timer() {
  // Whatever an early tick was wanted for, this tick does it.
  tickRequested_ = false;
  if (totalFiles < 1 || CurFile < 1) return;
  // The index is fixed for the whole tick: a page handler that calls
  // GotoFile from inside one of its events does not redirect the rest.
  const std::int16_t n = CurFile;
  if (n > DownloadFiles->Count() || !Winsock1->IsLoaded(n)) return;
  // Held by reference count, so a handler that replaces DownloadFiles cannot
  // pull the record from under the tick.
  const std::shared_ptr<DownloadFile> record = DownloadFiles->ItemPtr(n);
  DownloadFile& F = *record;

  if (F.downloadStatus == pinging) {
    theerrdesc = "No Error";
    theerrnumber = 0;
    StatusChange("Connecting");
    evaluateProbes(n);
  }

  if (F.downloadStatus == pinged) {
    StatusChange("Locating File");
    F.downloadStatus = downloading;
    F.isCon = false;
    F.isSent = false;
    if (Winsock1->State(n) != platform::sck::closed) Winsock1->Close(n);
    prepareConnection(n);
    buildRequest(n);
    const FileSlot& D = fileSlots_[n];
    Winsock1->Connect(n, D.dlServName, D.dlPortNum, D.dlSecure);
  }

  if (Winsock1->State(n) == connected && F.downloadStatus == downloading) {
    sendRequest(n);
    StatusChange("Downloading");
    theerrdesc = "No Error";
    theerrnumber = 0;
    updateRate(F);
    F.tempBytesReceived = F.downloadedbytes;
  }

  if (F.downloadStatus == completed) {
    StatusChange("Completed Downloading a File");
    FileComplete(F.localfilename);
    F.downloadStatus = idle;
  }
}

void UserControl1::request_tick(std::int16_t n, const char* status) {
  if (!eagerTicks_) return;
  tickRequested_ = true;
  tickFile_ = n;
  tickStatus_ = status;
  if (tickPosted_) return;
  tickPosted_ = true;
  // Posted, never run here: the caller may be a socket handler or script
  // in the middle of a call, and the tick raises events of its own.
  platform_.post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.expired()) return;
    tickPosted_ = false;
    if (!tickRequested_ || !Timer1->enabled()) return;
    tickRequested_ = false;
    if (CurFile != tickFile_ || tickFile_ < 1 || tickFile_ > DownloadFiles->Count()) return;
    if (DownloadFiles->Item(tickFile_).downloadStatus != tickStatus_) return;
    guarded(CurFile, [this] { Timer1_Timer(); });
  });
}

void UserControl1::transfer_event_done(std::int16_t index) {
  if (!eagerTicks_ || index != CurFile || index < 1 || index > DownloadFiles->Count()) return;
  const DownloadFile& F = DownloadFiles->Item(index);
  if (F.downloadStatus == completed) {
    request_tick(index, completed);
  } else if (F.downloadStatus == downloading && !F.isSent && Winsock1->IsLoaded(index) &&
             Winsock1->State(index) == connected) {
    request_tick(index, downloading);
  }
}

void UserControl1::updateRate(DownloadFile& F) {
  const Date now = platform_.clock().Now();
  if (F.startDLTime <= unset_start_limit) {
    F.startDLTime = now;
    return;
  }
  const auto E = platform::seconds_between(F.startDLTime, now);
  if (E < 1 || F.tempBytesReceived < 1024) return;
  transferBytes = F.downloadedbytes - F.bytesondisk;
  // 64-bit integer division: byte counts beyond 2^31 must not overflow.
  curRate = static_cast<double>(int_div(static_cast<double>(int_div(transferBytes, static_cast<double>(E))), 1024));
  remainingKB = (F.contentlength - F.downloadedbytes) / 1024;
  if (curRate > 0) remainingSecs = static_cast<double>(int_div(remainingKB, curRate));
  F.remainingTime = remainingSecs;
  F.therate = automation::round_to_i4(curRate);
}

void UserControl1::sendRequest(std::int16_t fileIndex) {
  DownloadFile& F = DownloadFiles->Item(fileIndex);
  F.downloadStatus = downloading;
  F.isCon = true;
  if (F.isSent) return;
  Winsock1->SendData(fileIndex, fileSlots_[fileIndex].dlRequest);
  F.isSent = true;
  F.downloadedbytes = 0;
  F.contentlength = 0;
}

}  // namespace vintrel::control
