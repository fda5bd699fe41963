// The two requests the control sends, composed as text byte for byte.

#include "control/user_control1.hpp"
#include "http/authority.hpp"
#include "http/url.hpp"
#include "text/text.hpp"

namespace vintrel::control {

void refuse_control_characters(std::string_view value, std::int32_t number, std::string_view what) {
  const auto at = text::find_control(value);
  if (at == std::string_view::npos) return;
  automation::raise(number, "Vintrel", std::string(what) + " holds " + text::control_name(value[at]));
}

namespace {
constexpr const char* crlf = "\r\n";

// Byte counts are whole numbers held in doubles; they go out as plain digits,
// never failing: a count no request could carry is sent as the largest one.
std::string decimal(double v) { return automation::number_text(automation::whole_bytes(v)); }

// A plain request to a proxy names the server in full ("http://host:port/
// path"), as the proxy must know where to forward it, and carries the
// proxy's credentials; the rest of the request is what the server gets.
struct RequestLine {
  std::string target;
  std::string proxy_fields;
};
RequestLine request_line(const platform::Platform& platform, const std::string& server, std::int32_t port, bool secure,
                         const std::string& path) {
  const platform::ProxyServer* proxy = secure ? nullptr : platform.proxy_for(server, port, false);
  if (proxy == nullptr) return {http::request_target(path), {}};
  RequestLine line{"http://" + http::host_and_port(server, port) + http::request_target(path), {}};
  if (const std::string credentials = proxy->authorization(); !credentials.empty()) {
    line.proxy_fields = "Proxy-Authorization: " + credentials + crlf;
  }
  return line;
}
}  // namespace

void UserControl1::buildRequest(std::int16_t fileIndex) {
  const DownloadFile& F = DownloadFiles->Item(fileIndex);
  FileSlot& D = fileSlots_[fileIndex];
  // Script may have written any of these after they were checked where
  // they came in; a line end in one would add headers of its own. The
  // tick stops the file with the error instead of sending anything.
  refuse_control_characters(D.dlRemotePath, automation::err::type_mismatch, "Request not sent: the path");
  refuse_control_characters(D.dlHost, automation::err::type_mismatch, "Request not sent: the host");
  refuse_control_characters(D.dlServName, automation::err::type_mismatch, "Request not sent: the server name");
  refuse_control_characters(containerURL, automation::err::invalid_call, "Request not sent: the page address");
  refuse_control_characters(cookielist, automation::err::invalid_call, "Request not sent: the cookie text");
  std::string request;
  request.reserve(256 + cookielist.size() + containerURL.size() + extraHeaderLines_.size());
  const RequestLine line = request_line(platform_, D.dlServName, D.dlPortNum, D.dlSecure, D.dlRemotePath);
  request += "GET " + line.target + " HTTP/1.1" + crlf;
  request += "Referer: " + containerURL + crlf;
  request += "Host: " + D.dlHost + crlf;
  request += line.proxy_fields;
  if (F.isResumingDownload) {
    request += "Range: bytes=" + decimal(F.bytesondisk) + "-";
    if (F.contentlength > 0) {
      // The server's own digits when contentlength still holds its total.
      const std::int64_t exact = D.dlTransfer.exact_total;
      request += exact >= 0 && static_cast<double>(exact) == F.contentlength ? automation::number_text(exact)
                                                                             : decimal(F.contentlength);
    }
    request += crlf;
    // The rest only if the server's file is still the one the part is of;
    // otherwise the server sends it whole.
    if (D.dlRecord) {
      const std::string validator = queue::if_range_value(*D.dlRecord);
      if (!validator.empty() && text::find_control(validator) == std::string::npos)
        request += "If-Range: " + validator + crlf;
    }
  }
  request += std::string("Connection: close") + crlf;
  request += std::string("Accept: */*") + crlf;
  request += "Cookie: " + cookielist + crlf;
  request += extraHeaderLines_;
  request += crlf;
  D.dlRequest = std::move(request);
}

void UserControl1::buildPingRequest(std::int16_t probeIndex, const std::string& path, const std::string& host,
                                    const remoteServerLoc* server) {
  std::string& slot = probeSlots_[probeIndex].psRequest;
  // A probe carrying a control byte is never sent: the slot stays empty
  // and the candidate is judged silent.
  if (text::find_control(path) != std::string::npos || text::find_control(host) != std::string::npos ||
      (server != nullptr && text::find_control(server->servName) != std::string::npos)) {
    slot.clear();
    return;
  }
  const RequestLine line = server != nullptr
                               ? request_line(platform_, server->servName, server->PortNum, server->isSecure, path)
                               : RequestLine{http::request_target(path), {}};
  slot = "GET " + line.target + " HTTP/1.1" + crlf + "Host: " + host + crlf + line.proxy_fields + "Connection: close" +
         crlf + "Accept: */*" + crlf + extraHeaderLines_ + crlf;
}

}  // namespace vintrel::control
