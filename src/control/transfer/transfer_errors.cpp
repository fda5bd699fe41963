// Failures of a transfer socket end the file only after maxTries attempts
// in a row that brought nothing: until then the error is kept for the page
// and the next tick connects again.

#include <limits>

#include "control/user_control1.hpp"

namespace vintrel::control {

bool UserControl1::giveUp(std::int16_t n, DownloadFile& F, std::int64_t number, const std::string& description) {
  std::int32_t& failed = fileSlots_[n].dlFailedAttempts;
  if (failed < std::numeric_limits<std::int32_t>::max()) ++failed;
  // Without a limit a host that does not count for itself (a script, a
  // page) would watch an unreachable server being asked for ever. Only the
  // current file is stopped: the host takes "File Not Found" for it, and
  // another file starts counting afresh when it becomes current again.
  if (maxTries <= 0 || failed < maxTries || n != CurFile) return false;
  stopFile(n, F, number,
           "Gave up after " + std::to_string(failed) + (failed == 1 ? " attempt: " : " attempts: ") + description);
  return true;
}

std::int32_t UserControl1::failed_attempts(std::int64_t n) const {
  return SlotArray<FileSlot>::contains(n) ? fileSlots_[n].dlFailedAttempts : 0;
}

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
  DownloadFile& R = DownloadFiles->Item(Index);
  if (giveUp(Index, R, error.Number, error.Description)) return;
  StatusChange("Waiting for a connection");
  R.IsHeaderReceived = false;
  R.strHTTPResponse.clear();
  R.IsResponseReceived = false;
  theerrnumber = error.Number;
  theerrdesc = error.Description;
  R.downloadStatus = queue::status::pinged;
}

}  // namespace vintrel::control
