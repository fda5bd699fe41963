// The body of a response on a transfer socket, into the local file: opened
// at the resume point (or truncated to it), written only while it stays
// within the advertised length and the disk's room, closed and reported when
// the last byte is in.

#include <cerrno>

#include "control/user_control1.hpp"
#include "platform/file_system.hpp"

namespace vintrel::control {

using namespace queue::status;
using Bytes = std::span<const std::uint8_t>;

void UserControl1::receiveBody(std::int16_t n, DownloadFile& F, Bytes data) {
  Transfer& T = fileSlots_[n].dlTransfer;
  if (T.writer == Writer::none) return;
  if (T.chunked) {
    bool written = true;
    const auto result = T.decoder.feed(data, [&](Bytes piece) {
      if (written) written = writeBody(n, F, piece);
    });
    if (!written) return;
    if (result == http::ChunkedDecoder::Result::done) return completeFile(n, F);
    if (result == http::ChunkedDecoder::Result::error)
      retryFile(n, F, platform::sck_err::aborted, "Bad chunked body: " + T.decoder.error());
    return;
  }
  if (T.length_known) {
    // Bytes beyond the advertised length are not the file's.
    const double room = std::max(0.0, F.contentlength - F.downloadedbytes);
    const auto take = static_cast<std::size_t>(std::min(room, static_cast<double>(data.size())));
    if (!writeBody(n, F, data.first(take))) return;
    if (F.downloadedbytes >= F.contentlength) completeFile(n, F);
    return;
  }
  // No length: the body ends when the server closes the connection.
  writeBody(n, F, data);
}

bool UserControl1::openWriter(std::int16_t n, DownloadFile& F, double offset) {
  Transfer& T = fileSlots_[n].dlTransfer;
  const std::string& path = fileSlots_[n].dlLocalFile;
  const auto position = static_cast<std::int64_t>(offset);
  closeWriter(n);
  if (F.isLarge) {
    if (!outFile) outFile = std::make_unique<files::FileIO>();
    try {
      outFile->OpenFile(path);
      outFile->AutoFlush(true);
      outFile->SeekAbsolute(static_cast<std::int32_t>(position >> 32),
                            static_cast<std::int32_t>(static_cast<std::uint32_t>(position & 0xFFFFFFFF)));
    } catch (const automation::AutomationError& e) {
      const int error = outFile->LastError();
      if (outFile->IsOpen()) outFile->CloseFile();
      stopFile(n, F, error, e.description());
      return false;
    }
    // Whatever lies past the resume point is not part of this transfer.
    if (const int error = platform::truncate_file(path, position)) {
      outFile->CloseFile();
      stopFile(n, F, error, platform::system_error_text(error) + ": " + path);
      return false;
    }
    T.writer = Writer::large;
    return startChecksums(n, F, position);
  }
  int error = localFiles.Open(n, path);
  if (!error) error = localFiles.Truncate(n, position);
  if (!error) error = localFiles.Seek(n, position);
  if (error) {
    localFiles.Close(n);
    stopFile(n, F, error, platform::system_error_text(error) + ": " + path);
    return false;
  }
  T.writer = Writer::plain;
  return startChecksums(n, F, position);
}

bool UserControl1::writeBody(std::int16_t n, DownloadFile& F, Bytes bytes) {
  if (bytes.empty()) return true;
  Transfer& T = fileSlots_[n].dlTransfer;
  if (T.writer == Writer::large) {
    try {
      outFile->WriteBytes(bytes);
    } catch (const automation::AutomationError& e) {
      stopFile(n, F, outFile->LastError(), e.description());
      return false;
    }
  } else {
    if (const int error = localFiles.Write(n, bytes)) {
      stopFile(n, F, error, platform::system_error_text(error) + ": " + fileSlots_[n].dlLocalFile);
      return false;
    }
  }
  feedChecksums(n, bytes);
  F.downloadedbytes += static_cast<double>(bytes.size());
  return true;
}

void UserControl1::closeWriter(std::int16_t n) {
  Transfer& T = fileSlots_[n].dlTransfer;
  if (T.writer == Writer::large && outFile && outFile->IsOpen()) outFile->CloseFile();
  localFiles.Close(n);
  T.writer = Writer::none;
}

void UserControl1::completeFile(std::int16_t n, DownloadFile& F) {
  closeWriter(n);
  // A body that ended at its last chunk or at the close had no length up
  // front; now it has one.
  if (!fileSlots_[n].dlTransfer.length_known) F.contentlength = F.downloadedbytes;
  if (!checksumsHold(n, F)) return;
  recordComplete(n, F.contentlength);
  Winsock1->Close(n);
  F.downloadStatus = completed;
  F.strHTTPResponse.clear();
}

bool UserControl1::roomFor(std::int16_t n, DownloadFile& F, double bytes) {
  const std::string& path = fileSlots_[n].dlLocalFile;
  std::string folder = path.substr(0, path.rfind(platform::path_separator()) + 1);
  if (folder.empty()) folder = ".";
  const platform::FreeSpace space = freeSpaceQuery ? freeSpaceQuery(folder) : platform::free_space_of(folder);
  // A query that fails answers nothing at all; the writes will tell.
  if (space.total_free == 0 && space.available == 0) return true;
  if (bytes <= static_cast<double>(space.available)) return true;
  stopFile(n, F, ENOSPC,
           "Not enough free space: " + std::to_string(automation::whole_bytes(bytes)) + " bytes to fetch, " +
               std::to_string(space.available) + " bytes free in " + folder);
  return false;
}

}  // namespace vintrel::control
