// Failures of a transfer socket never end the file: the error is kept for
// the page and the next tick connects again.

#include "control/user_control1.hpp"

namespace vintrel::control {

void UserControl1::Winsock1_Error(std::int16_t Index, platform::SocketError& error) {
  // A socket whose index has no record (script may have replaced the
  // collection) has nobody to report to.
  if (Index < 1 || Index > DownloadFiles->Count() || !SlotArray<FileSlot>::contains(Index)) return;
  // A server that cannot prove who it is, or speaks no TLS we accept, gives
  // the same answer on every attempt: the file stops at once, saying why.
  // So does a proxy that will not open a tunnel to the server.
  if (platform::is_tls_failure(error.Number) || platform::is_proxy_refusal(error.Number)) {
    DownloadFile& R = DownloadFiles->Item(Index);
    return stopFile(Index, R, error.Number, error.Description);
  }
  // The writer is closed so the part on disk is complete as it stands; the
  // next attempt measures it and asks for the rest.
  closeWriter(Index);
  StatusChange("Waiting for a connection");
  DownloadFile& R = DownloadFiles->Item(Index);
  R.IsHeaderReceived = false;
  R.strHTTPResponse.clear();
  R.IsResponseReceived = false;
  theerrnumber = error.Number;
  theerrdesc = error.Description;
  R.downloadStatus = queue::status::pinged;
}

}  // namespace vintrel::control
