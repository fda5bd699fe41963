// The two requests the control sends, composed as text byte for byte.

#include "control/user_control1.hpp"

namespace vintrel::control {

namespace {
constexpr const char* crlf = "\r\n";

// Byte counts are whole numbers held in doubles; they go out as plain digits,
// never failing: a count no request could carry is sent as the largest one.
std::string decimal(double v) { return automation::number_text(automation::whole_bytes(v)); }
}  // namespace

void UserControl1::buildRequest(std::int16_t fileIndex) {
  const DownloadFile& F = DownloadFiles->Item(fileIndex);
  FileSlot& D = fileSlots_[fileIndex];
  std::string request;
  request.reserve(256 + cookielist.size() + containerURL.size());
  request += "GET " + D.dlRemotePath + " HTTP/1.1" + crlf;
  request += "Referer: " + containerURL + crlf;
  request += "Host: " + D.dlHost + crlf;
  if (F.isResumingDownload) {
    request += "Range: bytes=" + decimal(F.bytesondisk) + "-";
    if (F.contentlength > 0) {
      // The server's own digits when contentlength still holds its total.
      const std::int64_t exact = D.dlTransfer.exact_total;
      request += exact >= 0 && static_cast<double>(exact) == F.contentlength ? automation::number_text(exact)
                                                                             : decimal(F.contentlength);
    }
    request += crlf;
  }
  request += std::string("Connection: close") + crlf;
  request += std::string("Accept: */*") + crlf;
  request += "Cookie: " + cookielist + crlf;
  request += crlf;
  D.dlRequest = std::move(request);
}

void UserControl1::buildPingRequest(std::int16_t probeIndex, const std::string& path, const std::string& host) {
  probeSlots_[probeIndex].psRequest = "GET " + path + " HTTP/1.1" + crlf + "Host: " + host + crlf +
                                      "Connection: close" + crlf + "Accept: */*" + crlf + crlf;
}

}  // namespace vintrel::control
