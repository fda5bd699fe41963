// Queue building: the URL list, the records made from it, and readying them.

#include "control/user_control1.hpp"
#include "http/url.hpp"
#include "platform/file_system.hpp"
#include "queue/added_url.hpp"
#include "queue/local_path.hpp"
#include "text/text.hpp"

namespace vintrel::queue {

std::string collapse_doubled_separators(const std::string& path) {
  const std::string one(1, platform::path_separator());
  const std::string two = one + one;
  if (one == "\\" && path.starts_with(two)) return two + text::replace_all(std::string_view(path).substr(2), two, one);
  return text::replace_all(path, two, one);
}

std::string join_local_path(const std::string& folder, const std::string& name) {
  return collapse_doubled_separators(folder + platform::path_separator() + name);
}

}  // namespace vintrel::queue

namespace vintrel::control {

using automation::increment;
using automation::raise;
using automation::err::subscript;

void UserControl1::AddFile(const std::string& URL) {
  if (numfilesadded >= automation::SlotArray<std::string>::upper) raise(subscript);
  addedURLs[numfilesadded + 1] = URL;
  increment(numfilesadded);
}

void UserControl1::createRecords() {
  const std::int16_t count = numfilesadded;
  for (std::int32_t n = 1; n <= count; ++n) {
    // A control byte would end up in the request line or the Host field;
    // the URL fails as one with a port that is not a number does.
    if (const auto at = text::find_control(addedURLs[n]); at != std::string::npos)
      automation::raise(
          automation::err::type_mismatch, "Vintrel",
          "The URL holds " + text::control_name(addedURLs[n][at]) + ": " + text::show_controls(addedURLs[n]));
    // Without TLS an https URL reads as before: "https:" is its server and
    // its empty port text fails the pass with 13.
    const queue::AddedUrl U = queue::split_added_url(addedURLs[n], platform_.offers_tls());
    // An empty URL has no first segment: the pass ends with 9, as the
    // runtime's Split of an empty text would have it.
    if (!U.hasServer) raise(subscript);
    const std::string localPath = queue::join_local_path(sBuffer, DeQuery(U.lastSegment));

    auto record = std::make_shared<DownloadFile>();
    record->localfilename = localPath;
    record->downloadStatus = queue::status::idle;
    record->fileBytesDownloaded = 0;
    record->downloadedbytes = 0;
    record->bytesondisk = 0;
    record->contentlength = 0;
    chosenSaveFile = localPath;

    auto server = std::make_shared<remoteServerLoc>();
    server->remoteFilePath = U.remotePath;
    server->pingTime = 0;
    server->servName = U.servName;
    // A port that is not a number fails with 13 and ends the pass; records
    // made before it stay.
    server->PortNum = automation::to_i4(Variant(U.portText));
    server->host = http::host_field(U.servName, server->PortNum, U.secure);
    server->isSecure = U.secure;
    record->remoteServerLocs->Add(server);

    DownloadFiles->Add(record);
    increment(collectionPointer);
    // The record kept with the local file names the address as it was
    // asked for, whatever server or redirection then serves it.
    if (SlotArray<FileSlot>::contains(collectionPointer)) fileSlots_[collectionPointer].dlAskedUrl = addedURLs[n];
  }
}

void UserControl1::addFilesToQueue() {
  const std::int16_t last = collectionPointer;
  for (curcnt = static_cast<std::int16_t>(totalFiles + 1); curcnt <= last; increment(curcnt)) {
    if (!automation::SlotArray<std::string>::contains(curcnt)) raise(subscript);
    increment(totalFiles);
    DownloadFile& R = DownloadFiles->Item(curcnt);
    R.localfilename = queue::collapse_doubled_separators(R.localfilename);
    fileSlots_[curcnt].dlLocalFile = R.localfilename;
    R.strHTTPResponse.clear();
    R.contentlength = 0;
    R.IsHeaderReceived = false;
    R.IsResponseReceived = false;
    R.downloadedbytes = 0;
    Winsock1->Load(curcnt);
  }
}

std::string UserControl1::DeQuery(const std::string& fntemp) {
  const auto at = fntemp.find('?');
  return at == std::string::npos ? fntemp : fntemp.substr(0, at);
}

Variant UserControl1::DeQuery(Variant& fntemp) { return Variant(DeQuery(automation::to_bstr(fntemp))); }

Variant UserControl1::str2bin(Variant& varstr) {
  // Text is UTF-8 and kept byte for byte, so each byte is one character of
  // the system code page and becomes one byte of the result.
  const std::string text = automation::to_bstr(varstr);
  const auto length = text.size();
  std::vector<std::uint8_t> bytes;
  bytes.reserve(length);
  for (i = 1; static_cast<std::size_t>(i) <= length; increment(i))
    bytes.push_back(static_cast<std::uint8_t>(text[static_cast<std::size_t>(i) - 1]));
  return Variant(std::move(bytes));
}

}  // namespace vintrel::control
