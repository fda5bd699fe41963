#pragma once
// How the queue start reads one URL handed to AddFile: the server to connect
// to, the Host field, the port as written, the request path and the name
// the local file takes.

#include <string>

namespace vintrel::queue {

/// The pieces of one added URL.
struct AddedUrl {
  bool hasServer = false;   ///< false: the text has no first segment at all
  bool secure = false;      ///< an https URL, taken only when TLS is offered
  std::string servName;     ///< name or address to connect to (IPv6 without brackets)
  std::string portText;     ///< as written; the queue start converts it
  std::string remotePath;   ///< from the first "/" on, query kept; "" when none
  std::string lastSegment;  ///< the last "/" segment, query included
};

/// Splits `url` as the queue start does. Plain URLs keep the control's old
/// reading, but for the scheme: a leading "http://" is removed (exact
/// case), the first segment is the server and its port as
/// http::split_authority reads them ("[::1]:8080" in brackets). An
/// "https://" prefix (any letter case, only when `tls`) is removed once and
/// gives the port 443. The Host field follows from these (http::host_field).
AddedUrl split_added_url(const std::string& url, bool tls);

}  // namespace vintrel::queue
