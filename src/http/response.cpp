// The response on a transfer socket: header, then body into the local file.

#include "control/user_control1.hpp"

namespace vintrel::control {

std::string UserControl1::getHeaderValue(const std::string& header, const std::string& name) {
  const std::string key = "\r\n" + name + ": ";
  const auto at = header.find(key);
  if (at == std::string::npos) return {};
  const auto start = at + key.size();
  const auto end = header.find("\r\n", start);
  return header.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void UserControl1::prepareConnection(std::int16_t n) {
  DownloadFile& F = DownloadFiles->Item(n);
  F.IsHeaderReceived = false;
  F.IsResponseReceived = false;
  F.strHTTPResponse.clear();
  dlHeaderEnd[n] = 0;
}

void UserControl1::Winsock1_DataArrival(std::int16_t Index, std::int32_t) {
  // The response handling comes with the transfer; until then the bytes are
  // taken and counted so the socket never stalls.
  if (Index < 1 || Index > DownloadFiles->Count()) return;
  DownloadFile& F = DownloadFiles->Item(Index);
  F.isSent = true;
  F.downloadedbytes += static_cast<double>(Winsock1->GetData(Index).size());
}

void UserControl1::Winsock1_Close(std::int16_t) {}

}  // namespace vintrel::control
