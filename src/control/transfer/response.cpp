// The response on a transfer socket: the header is gathered and read, and
// decides what becomes of the attempt; the body goes into the local file
// (body.cpp). A file ends byte-identical to the server's, or it does not
// complete: bytes of a header, of an error page, of an abandoned connection
// or beyond the advertised length never reach it.

#include <algorithm>
#include <limits>

#include "control/user_control1.hpp"
#include "http/response_header.hpp"
#include "http/url.hpp"
#include "platform/file_system.hpp"
#include "queue/local_path.hpp"
#include "text/text.hpp"

namespace vintrel::control {

using namespace queue::status;
using Bytes = std::span<const std::uint8_t>;

namespace {

// Files larger than this are written through the file object.
constexpr double large_file_limit = 2147483647;

// Names tried beside a taken one before the file stops.
constexpr int max_copies = 9999;

const std::string header_too_large =
    "The response header is too large (over " + std::to_string(http::max_header_size / 1024) + " KiB)";

// Error numbers are 16-bit; anything wider is shown as the largest.
std::int16_t error_number(std::int64_t number) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(number, -32768, 32767));
}

bool is_redirection(int code) {
  return code == 300 || code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

// Answers that say "not now": the next attempt may well succeed.
bool is_transient(int code) { return code == 408 || code == 429 || (code >= 500 && code <= 599); }

std::string with_code(int code, const std::string& reason) {
  return reason.empty() ? "HTTP " + std::to_string(code) : reason;
}

}  // namespace

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
  fileSlots_[n].dlHeaderEnd = 0;
  closeWriter(n);
  Transfer& T = fileSlots_[n].dlTransfer;
  const auto redirects = T.redirects;
  const auto exact_total = T.exact_total;
  T = Transfer{};
  T.redirects = redirects;
  // The next request's range is composed from the last answer's length.
  T.exact_total = exact_total;
  // After the first answer was checked against the disk, every attempt goes
  // on from what the disk holds now: a file started again, or retried after
  // an error, asks for the rest instead of having a whole file written
  // behind its part.
  if (F.isSizeKnown) {
    const auto size = static_cast<double>(platform::file_size_of(fileSlots_[n].dlLocalFile));
    F.bytesondisk = size;
    F.isResumingDownload = size > 0;
    F.isLarge = size > large_file_limit;
  }
}

void UserControl1::Winsock1_DataArrival(std::int16_t Index, std::int32_t) {
  // Script may have replaced the collection: an element without a record
  // has nowhere to put its bytes.
  if (Index < 1 || Index > DownloadFiles->Count() || !SlotArray<FileSlot>::contains(Index)) {
    Winsock1->GetData(Index);
    return;
  }
  DownloadFiles->Item(Index).isSent = true;
  if (holdForRate(Index)) return;
  takeArrival(Index);
}

void UserControl1::takeArrival(std::int16_t n) {
  const std::shared_ptr<DownloadFile> record = DownloadFiles->ItemPtr(n);
  DownloadFile& F = *record;
  const Bytes data = Winsock1->GetData(n);
  spendRate(data.size());
  if (F.IsHeaderReceived) {
    // Bytes of the body: the server works, whatever ends this attempt.
    if (!data.empty()) fileSlots_[n].dlFailedAttempts = 0;
    receiveBody(n, F, data);
  } else {
    gatherHeader(n, F, data);
  }
}

void UserControl1::gatherHeader(std::int16_t n, DownloadFile& F, Bytes data) {
  F.downloadedbytes += static_cast<double>(data.size());
  const std::size_t before = F.strHTTPResponse.size();
  FileSlot& D = fileSlots_[n];
  D.dlLastChunk.assign(reinterpret_cast<const char*>(data.data()), data.size());
  F.strHTTPResponse += D.dlLastChunk;
  const http::HeadScan scan = http::scan_head(F.strHTTPResponse, before);
  if (!scan.end) D.dlHeaderEnd = 0;
  if (scan.too_large) return stopFile(n, F, 0, header_too_large);
  if (!scan.end) return;
  const std::size_t header_length = *scan.end + 4;
  D.dlHeaderEnd = static_cast<std::int32_t>(*scan.end + 1);
  F.IsHeaderReceived = true;
  F.downloadedbytes -= static_cast<double>(header_length);
  const http::ResponseHead head = http::read_response_head(std::string_view(F.strHTTPResponse).substr(0, *scan.end));
  handleHeader(n, F, head, data.subspan(header_length - before));
  // The gathered text held the first arrival whole, body bytes included (up
  // to a full receive buffer); cleared but kept, it made every file of a
  // queue hold on to that much for the control's life.
  if (F.strHTTPResponse.empty()) F.strHTTPResponse.shrink_to_fit();
  std::string().swap(D.dlLastChunk);
}

void UserControl1::handleHeader(std::int16_t n, DownloadFile& F, const http::ResponseHead& head, Bytes body) {
  if (!head.status) return stopFile(n, F, 0, "Unreadable response: " + head.status_line.substr(0, 200));
  const int code = *head.status;
  if (code != 200 && code != 206) return answerWithoutFile(n, F, code, head);
  // The first answer for this file: is part of it on disk already?
  if (!F.isSizeKnown && !checkLocalFile(n, F, code, head)) return;
  const std::optional<double> offset = bodyOffset(n, F, code, head);
  if (!offset) return;
  noteServerDigest(n, head);

  Transfer& T = fileSlots_[n].dlTransfer;
  T.chunked = head.chunked;
  // A chunked body's own framing wins over a length.
  if (head.content_length && !T.chunked) {
    F.contentlength = *head.content_length + *offset;
    T.length_known = true;
    T.exact_total = -1;
    const auto start = static_cast<std::int64_t>(*offset);
    if (head.exact_length && *head.exact_length <= std::numeric_limits<std::int64_t>::max() - start)
      T.exact_total = *head.exact_length + start;
  }
  if (head.length_given) StatusChange("Determining File Size");

  if (*offset > 0 && T.length_known && *offset >= F.contentlength) {
    // Nothing follows. A range starting inside the part on disk would make
    // the file shorter than what is there: the server contradicts itself,
    // and the part stays as it is.
    if (*offset != F.bytesondisk) return stopFile(n, F, code, "The server's range ends inside the part on disk");
    // Everything is on disk already.
    if (Winsock1->State(n) != platform::sck::closed) Winsock1->Close(n);
    if (!checksumsHold(n, F)) return;
    recordComplete(n, F.bytesondisk);
    F.downloadStatus = completed;
    F.strHTTPResponse.clear();
    return;
  }
  if (T.length_known && !roomFor(n, F, F.contentlength - *offset)) return;
  if (!openWriter(n, F, *offset)) return;
  keepRecord(n, code, head, *offset);
  F.startDLTime = platform_.clock().Now();
  F.downloadedbytes = *offset;
  F.strHTTPResponse.clear();
  if (T.length_known && F.downloadedbytes >= F.contentlength) return completeFile(n, F);
  if (!body.empty()) fileSlots_[n].dlFailedAttempts = 0;
  receiveBody(n, F, body);
}

void UserControl1::answerWithoutFile(std::int16_t n, DownloadFile& F, int code, const http::ResponseHead& head) {
  if (is_redirection(code)) return redirect(n, F, code, head);
  if (code == 416) {
    // Only the range asked for the rest of a part on disk can be beyond the
    // file's end; to a request for the whole file the answer tells nothing
    // about what is on disk.
    if (!F.isResumingDownload) return stopFile(n, F, code, with_code(code, head.reason));
    return rangeNotSatisfiable(n, F, head);
  }
  if (is_transient(code)) return retryFile(n, F, code, with_code(code, head.reason));
  // 404, 1xx, 204, 304, other 4xx...: nothing here is the file.
  stopFile(n, F, code, with_code(code, head.reason));
}

bool UserControl1::checkLocalFile(std::int16_t n, DownloadFile& F, int code, const http::ResponseHead& head) {
  FileSlot& D = fileSlots_[n];
  const queue::Validators answer = queue::validators_of(head, code);
  const std::string url = askedUrl(n);
  const std::string wanted = F.localfilename;
  // The name asked for, then "name (1).ext", "name (2).ext"...: the first
  // that is free or holds this download's own part.
  for (int copy = 0; copy <= max_copies; ++copy) {
    const std::string path = copy == 0 ? wanted : queue::numbered_name(wanted, copy, platform::path_separator());
    const bool exists = platform::file_exists(path);
    std::optional<queue::PartRecord> record;
    if (exists) {
      if (const auto text = platform::read_file_note(path)) record = queue::parse_part_record(*text);
    }
    const auto size = exists ? platform::file_size_of(path) : 0;
    const queue::PartVerdict verdict =
        exists ? queue::judge_part(record, size, answer, url, adoptForeignParts_ && copy == 0)
               : queue::PartVerdict::start_over;
    if (verdict == queue::PartVerdict::another_file) continue;
    // A file adopted without a record is of the version this answer names.
    if (!record) record = queue::PartRecord{url, answer.etag, answer.last_modified, answer.length, false};
    F.localfilename = path;
    D.dlLocalFile = path;
    F.isSizeKnown = true;
    switch (verdict) {
      case queue::PartVerdict::resume:
        D.dlRecord = record;
        checkSize(n, F, head);
        return false;
      case queue::PartVerdict::complete: {
        if (Winsock1->State(n) != platform::sck::closed) Winsock1->Close(n);
        closeWriter(n);
        D.dlRecord = record;
        F.bytesondisk = static_cast<double>(size);
        F.contentlength = static_cast<double>(size);
        F.downloadedbytes = static_cast<double>(size);
        F.strHTTPResponse.clear();
        // A checksum is held to the file on disk too.
        if (!checksumsHold(n, F)) return false;
        recordComplete(n, static_cast<double>(size));
        StatusChange(already_complete_text);
        F.downloadStatus = completed;
        return false;
      }
      case queue::PartVerdict::too_large:
        stopFile(n, F, 0, "The file on disk is larger than the server's file: " + path);
        return false;
      case queue::PartVerdict::changed:
        StatusChange(changed_text);
        [[fallthrough]];
      case queue::PartVerdict::start_over:
      case queue::PartVerdict::another_file:
        // This answer's body is the whole file: it is written from byte 0.
        D.dlRecord.reset();
        F.bytesondisk = 0;
        F.isResumingDownload = false;
        F.isLarge = false;
        return true;
    }
  }
  stopFile(n, F, 0, "No free name beside " + wanted);
  return false;
}

void UserControl1::checkSize(std::int16_t n, DownloadFile& F, const http::ResponseHead& head) {
  F.bytesondisk = F.FileSize();
  if (F.bytesondisk > large_file_limit) F.isLarge = true;
  // The size check reads its length 16 characters past the name (so a line
  // without a space after the colon loses its first digit); only the head
  // is searched, a body may say anything.
  if (head.size_check_length) F.contentlength = *head.size_check_length;
  if (F.bytesondisk > 0) F.isResumingDownload = true;
  newRequest(n, F);
  F.isSizeKnown = true;
}

std::string UserControl1::askedUrl(std::int16_t n) const {
  const FileSlot& D = fileSlots_[n];
  if (!D.dlAskedUrl.empty()) return D.dlAskedUrl;
  const remoteServerLoc& S = DownloadFiles->Item(n).remoteServerLocs->Item(1);
  return http::request_url(S.servName, S.PortNum, S.isSecure, S.remoteFilePath);
}

void UserControl1::keepRecord(std::int16_t n, int code, const http::ResponseHead& head, double offset) {
  FileSlot& D = fileSlots_[n];
  const queue::Validators answer = queue::validators_of(head, code);
  // Behind a part the record stands; from byte 0 the answer makes it anew.
  queue::PartRecord record = offset > 0 && D.dlRecord ? *D.dlRecord : queue::PartRecord{askedUrl(n), {}, {}, -1, false};
  if (!answer.etag.empty() || !answer.last_modified.empty()) {
    record.etag = answer.etag;
    record.last_modified = answer.last_modified;
  }
  if (answer.length >= 0) record.length = answer.length;
  record.complete = false;
  D.dlRecord = record;
  // A record that cannot be written leaves the file without one: a later
  // start takes a free name rather than trust it.
  platform::write_file_note(D.dlLocalFile, queue::format_part_record(record));
}

void UserControl1::recordComplete(std::int16_t n, double length) {
  FileSlot& D = fileSlots_[n];
  queue::PartRecord record = D.dlRecord ? *D.dlRecord : queue::PartRecord{askedUrl(n), {}, {}, -1, false};
  record.length = automation::whole_bytes(length);
  record.complete = true;
  D.dlRecord = record;
  platform::write_file_note(D.dlLocalFile, queue::format_part_record(record));
  platform::settle_file_note(D.dlLocalFile);
}

void UserControl1::discardPart(std::int16_t n, DownloadFile& F) {
  StatusChange(changed_text);
  FileSlot& D = fileSlots_[n];
  closeWriter(n);
  if (const int error = platform::truncate_file(D.dlLocalFile, 0))
    return stopFile(n, F, error, platform::system_error_text(error) + ": " + D.dlLocalFile);
  D.dlRecord.reset();
  F.bytesondisk = 0;
  F.isResumingDownload = false;
  F.isLarge = false;
  newRequest(n, F);
  F.contentlength = 0;
}

std::optional<double> UserControl1::bodyOffset(std::int16_t n, DownloadFile& F, int code,
                                               const http::ResponseHead& head) {
  // Behind the part on disk when the server sends the rest, where its range
  // says the rest starts when it says so.
  const FileSlot& D = fileSlots_[n];
  const bool other_version =
      D.dlRecord && queue::compare_version(*D.dlRecord, queue::validators_of(head, code)) == queue::Version::different;
  if (code == 206 && F.isResumingDownload) {
    // A server that does not heed If-Range may send the rest of another
    // version: it must not be joined to the part.
    if (other_version) {
      discardPart(n, F);
      return std::nullopt;
    }
    const auto& range = head.content_range;
    if (!range || !range->first) return F.bytesondisk;
    if (static_cast<double>(*range->first) > F.bytesondisk) {
      stopFile(n, F, 206, "The server's range leaves a gap after the part on disk");
      return std::nullopt;
    }
    return static_cast<double>(*range->first);
  }
  if (F.isResumingDownload) {
    // The server sends the whole file: it ignored the range, or If-Range
    // found that the part is of another version.
    if (other_version) StatusChange(changed_text);
    F.isResumingDownload = false;
    F.bytesondisk = 0;
    F.isLarge = false;
  }
  return 0.0;
}

void UserControl1::newRequest(std::int16_t n, DownloadFile& F) {
  // The connection has served its purpose; closed now, nothing more of it
  // can reach the next response.
  closeWriter(n);
  if (Winsock1->State(n) != platform::sck::closed) Winsock1->Close(n);
  F.downloadedbytes = 0;
  F.IsHeaderReceived = false;
  F.strHTTPResponse.clear();
  F.IsResponseReceived = false;
  F.downloadStatus = pinged;
  // The next request is known now (the rest of a part, a redirection's
  // target, the whole file again): nothing is gained by waiting for Timer1.
  request_tick(n, pinged);
}

void UserControl1::redirect(std::int16_t n, DownloadFile& F, int code, const http::ResponseHead& head) {
  StatusChange("Redirecting");
  Transfer& T = fileSlots_[n].dlTransfer;
  if (++T.redirects > 20) return stopFile(n, F, code, "Too many redirections");
  const auto& location = head.location;
  if (!location || location->empty()) return stopFile(n, F, code, "Redirection without a location");
  // It would become the next request line and Host field, where a line
  // end starts a header of the server's choosing.
  if (const auto at = text::find_control(*location); at != std::string::npos)
    return stopFile(n, F, code,
                    "Redirection refused: the Location holds " + text::control_name((*location)[at]) + ": " +
                        text::show_controls(*location));
  // A relative Location keeps the scheme of the request it answers.
  const FileSlot& D = fileSlots_[n];
  const std::string base = http::request_url(D.dlServName, D.dlPortNum, D.dlSecure, D.dlRemotePath);
  const auto target = http::parse_http_url(http::resolve_reference(base, *location));
  if (!target || (target->secure && !platform_.offers_tls()))
    return stopFile(n, F, code, "Redirection to an address that cannot be fetched: " + *location);

  remoteServerLoc& S = F.remoteServerLocs->Item(1);
  S.servName = target->host;
  S.host = http::host_field(target->host, target->port, target->secure);
  S.PortNum = target->port;
  S.remoteFilePath = target->path;
  S.isSecure = target->secure;
  chooseServer(n, S);

  // The new name is the last segment of the new path, without its query;
  // an empty or dot segment keeps the name the file has.
  const std::string path = target->path.substr(0, target->path.find('?'));
  const std::string name = path.substr(path.rfind('/') + 1);
  if (!name.empty() && name != "." && name != "..") {
    const std::string local = queue::join_local_path(sBuffer, name);
    if (local != F.localfilename) {
      // Whatever lies under the new name is judged afresh by the next
      // answer: it may be a stranger's file, which a range must not touch.
      F.isSizeKnown = false;
      F.isResumingDownload = false;
      F.bytesondisk = 0;
      F.isLarge = false;
      fileSlots_[n].dlRecord.reset();
    }
    F.localfilename = local;
    fileSlots_[n].dlLocalFile = F.localfilename;
  }
  newRequest(n, F);
  F.contentlength = 0;
}

void UserControl1::rangeNotSatisfiable(std::int16_t n, DownloadFile& F, const http::ResponseHead& head) {
  if (Winsock1->State(n) != platform::sck::closed) Winsock1->Close(n);
  F.strHTTPResponse.clear();
  closeWriter(n);
  const std::string& path = fileSlots_[n].dlLocalFile;
  const auto local = platform::file_size_of(path);
  const std::optional<std::int64_t> total = head.content_range ? head.content_range->total : std::nullopt;
  if (!total || *total == local) {
    // The part on disk is the whole file: nothing left to fetch.
    F.contentlength = static_cast<double>(local);
    F.downloadedbytes = static_cast<double>(local);
    if (!checksumsHold(n, F)) return;
    recordComplete(n, static_cast<double>(local));
    F.downloadStatus = completed;
    return;
  }
  // The server's file is not the one on disk: fetch it whole again.
  if (const int error = platform::truncate_file(path, 0))
    return stopFile(n, F, error, platform::system_error_text(error) + ": " + path);
  fileSlots_[n].dlRecord.reset();
  F.bytesondisk = 0;
  F.isResumingDownload = false;
  F.isLarge = false;
  newRequest(n, F);
  F.contentlength = 0;
}

void UserControl1::stopFile(std::int16_t n, DownloadFile& F, std::int64_t number, const std::string& description) {
  // Stopped like a missing file: nothing more is written, the page is told,
  // and the file waits for the page to start it again.
  closeWriter(n);
  if (Winsock1->State(n) != platform::sck::closed) Winsock1->Close(n);
  F.strHTTPResponse.clear();
  theerrnumber = error_number(number);
  theerrdesc = description;
  StatusChange("File Not Found");
}

void UserControl1::retryFile(std::int16_t n, DownloadFile& F, std::int64_t number, const std::string& description) {
  // Handled like a failed connection: keep what is on disk and connect again
  // on the next tick, unless too many attempts in a row brought nothing.
  if (giveUp(n, F, number, description)) return;
  closeWriter(n);
  if (Winsock1->State(n) != platform::sck::closed) Winsock1->Close(n);
  F.IsHeaderReceived = false;
  F.strHTTPResponse.clear();
  F.IsResponseReceived = false;
  theerrnumber = error_number(number);
  theerrdesc = description;
  F.downloadStatus = pinged;
  StatusChange("Waiting for a connection");
}

void UserControl1::Winsock1_Close(std::int16_t Index) {
  if (Index < 1 || Index > DownloadFiles->Count() || !SlotArray<FileSlot>::contains(Index)) return;
  const std::shared_ptr<DownloadFile> record = DownloadFiles->ItemPtr(Index);
  DownloadFile& F = *record;
  // A connection the engine abandoned or finished is nothing to act on.
  if (F.downloadStatus != downloading) return;
  const Transfer& T = fileSlots_[Index].dlTransfer;
  if (F.IsHeaderReceived && T.writer != Writer::none && !T.chunked && !T.length_known) return completeFile(Index, F);
  retryFile(Index, F, platform::sck_err::aborted, "Connection closed before the whole file arrived");
}

}  // namespace vintrel::control
