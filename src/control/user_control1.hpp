#pragma once
// UserControl1: the download control. It owns the queue state, the platform
// services, the socket arrays and the file writers; its procedures are its
// methods, each defined in this folder or the subfolder of its subsystem
// (queue/, mirror/, transfer/, progress/; each section below names its
// files, relative to this folder). This header is the
// one place where the whole surface is visible: the public members are what
// script and hosts reach, and the engine's per-file and per-probe state is
// private, in one record per slot, which tests read through
// UserControl1TestView (tests/support/user_control1_test_view.hpp).

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/automation.hpp"
#include "automation/slots.hpp"
#include "control/transfer/rate_budget.hpp"
#include "files/file_io.hpp"
#include "http/chunked.hpp"
#include "http/digest.hpp"
#include "http/response_header.hpp"
#include "platform/container.hpp"
#include "platform/file_system.hpp"
#include "platform/hasher.hpp"
#include "platform/numbered_files.hpp"
#include "platform/platform.hpp"
#include "queue/part_record.hpp"
#include "queue/records.hpp"

namespace vintrel::control {

using automation::Date;
using automation::SlotArray;
using automation::Variant;
using queue::DownloadFile;
using queue::remoteServerLoc;

/// Raises `number` with the description "<what> holds control character
/// 0xNN" when `value` holds a byte below 0x20 or DEL: such text never goes
/// into a request, where a line end would start a header of its own.
void refuse_control_characters(std::string_view value, std::int32_t number, std::string_view what);

/// The download control.
class UserControl1 {
 public:
  /// Creates a control with its initial values and starts Timer1 (1000 ms).
  explicit UserControl1(platform::Platform& platform, platform::Container* container = nullptr);
  ~UserControl1();
  UserControl1(const UserControl1&) = delete;
  UserControl1& operator=(const UserControl1&) = delete;

  /// Sets the host (events, page, folder dialog); null for none.
  void set_container(platform::Container* container) { container_ = container; }
  platform::Container* container() const { return container_; }

  /// Eager ticks: when a step of the tick has work to do at once (a
  /// transfer just connected, a file just completed, a file just made ready
  /// by a start), the next tick runs on the loop right after the current
  /// handler instead of waiting for Timer1. Off by default; a host's choice,
  /// not part of what script sees.
  void set_eager_ticks(bool eager) { eagerTicks_ = eager; }
  bool eager_ticks() const { return eagerTicks_; }

  /// A file without the control's record under a download's name is
  /// somebody else's, and the download takes a free name beside it. A host
  /// whose user vouches for such files (`vintrel get --continue`) has them
  /// taken for parts of the download instead, checked by length only.
  void set_adopt_foreign_parts(bool adopt) { adoptForeignParts_ = adopt; }
  bool adopt_foreign_parts() const { return adoptForeignParts_; }

  /// Header lines the host's user adds (a client name, a header a server
  /// wants), each ending in CRLF, sent after the control's own lines in
  /// every file request and probe. Checked by the host; empty by default,
  /// which leaves the requests as they always were.
  void set_extra_header_lines(std::string lines) { extraHeaderLines_ = std::move(lines); }
  const std::string& extra_header_lines() const { return extraHeaderLines_; }

  /// Sets maxRate (bytes per second, 0 for no cap; below 0 fails with 5)
  /// and counts afresh from now: what a lifted or raised cap held back is
  /// taken on the next loop turn (transfer/rate_cap.cpp).
  void set_max_rate(std::int32_t bytes_per_second);

  /// The status told when a part on disk is of another version than the
  /// server's file, and when the file on disk is the server's already.
  static constexpr const char* changed_text =
      "The file changed on the server since the part on disk was fetched; fetching it again";
  static constexpr const char* already_complete_text = "File Already Complete";

  // ---- Public members: script reads and writes them as properties --------
  std::shared_ptr<queue::DownloadFileCollection> DownloadFiles = std::make_shared<queue::DownloadFileCollection>();
  std::int16_t curcnt = 0;
  std::int16_t psIndex = 0;
  std::int16_t CurFile = 1;
  std::int16_t paused = 0;
  std::int16_t collectionPointer = 0;
  std::int16_t numfilesadded = 0;
  std::string sBuffer;
  std::string dldirectory;
  std::string dlBrowseTitle;
  std::string cookielist;
  std::string containerURL;
  std::int16_t theerrnumber = 0;
  std::string theerrdesc = "No Error";
  /// Connection attempts in a row that bring no byte before a file is
  /// given up; 0 or less tries for ever.
  std::int16_t maxTries = 20;
  /// Bytes per second the control takes at most from its transfers; 0, the
  /// default, for no cap. Probes are never held but count. Set it through
  /// set_max_rate() for the change to take effect at once.
  std::int32_t maxRate = 0;

  // ---- Kept for the automation surface; nothing in the engine reads them --
  // Script has always been able to name these (the members as properties,
  // the rest in what the control tells of itself), so they stay with the
  // values they always had; but the engine keeps its working state
  // elsewhere and decides nothing by them: writing one changes nothing. Some
  // are still written where script can watch them (`i`: the file being
  // started, and str2bin's count with its 16-bit overflow; `qPointer`: one
  // more per start; `chosenSaveFile`: the last path queued; `dlLastChunk`
  // and `dlHeaderEnd`: each file's last arrival and head end while its head
  // gathers); `getHeaderValue` is the old reading of one field, which the
  // engine's head reader (http::read_response_head) replaced. The records
  // have such members too, left in their places in queue/records.hpp:
  // DownloadFile's TotalTime, remoteFilename, chosenServer,
  // IsResponseReceived, isCon and numServersChecked, and remoteServerLoc's
  // pingTime, bytesReceived, serverChecked, isCon, timeInterval,
  // startPingTime and stopPingTime.
  std::int16_t curpsIndex = 0;
  std::int16_t i = 0;
  bool madeAllPingConnections = false;
  bool startPinging = false;
  std::int16_t curpingws = 1;
  std::int16_t qPointer = 1;
  std::string chosenSaveFile;
  /// The value after "\r\n" `name` ": " in `header` up to its line end
  /// (exact capitals), "" when absent (transfer/response.cpp).
  static std::string getHeaderValue(const std::string& header, const std::string& name);
  /// Per file, in each FileSlot: the last arrival while the head gathers,
  /// and the 1-based position of the blank line that ends the head once it
  /// has come (0 before); heads take up to 256 KiB, so wider than 16 bits.
  struct KeptFileState {
    std::string dlLastChunk;
    std::int32_t dlHeaderEnd = 0;
  };

  // ---- Engine state that script does not see ------------------------------
  // Hosts and tests read these; the per-file and per-probe state is private
  // (below).
  std::string urlValue;
  double remainingKB = 0;
  double remainingSecs = 0;
  double transferBytes = 0;
  double curRate = 0;
  std::unique_ptr<files::FileIO> outFile;  // created on first use
  std::int16_t totalFiles = 0;

  /// The URLs AddFile was given, in order (queue/).
  SlotArray<std::string> addedURLs;

  // ---- Child controls and services ----------------------------------------
  std::unique_ptr<platform::SocketArray> Winsock1;
  std::unique_ptr<platform::SocketArray> pingWs;
  std::unique_ptr<platform::Timer> Timer1;
  /// Paces transfers under maxRate; runs only while one is held back.
  std::unique_ptr<platform::Timer> rateTimer;
  platform::NumberedFiles localFiles;  // the plain file of each file index
  /// How CheckFreeSpace learns the free space; empty for the real disk.
  std::function<platform::FreeSpace(const std::string&)> freeSpaceQuery;
  platform::Platform& platform() const { return platform_; }

  /// The server file `n` is fetched from (of its mirrors, the chosen one),
  /// for hosts that show it; nothing for an index outside the slots. Script
  /// does not see it. Defined in mirror/probing.cpp, where it is chosen.
  struct ChosenServer {
    std::string servName;
    std::int32_t PortNum = 0;
  };
  std::optional<ChosenServer> chosen_server(std::int64_t n) const;
  /// How many attempts in a row of file `n` have failed without a byte of
  /// its body (the count maxTries is held against), for hosts that show
  /// it; 0 for an index outside the slots. Defined in
  /// transfer/transfer_errors.cpp, where it is counted.
  std::int32_t failed_attempts(std::int64_t n) const;

  // ---- Queue building (queue/queue_building.cpp) ----------------------------
  /// Appends a URL to the list; the 101st fails with 9.
  void AddFile(const std::string& URL);
  /// Turns every URL of the list into a record with one candidate server.
  void createRecords();
  /// Makes the waiting records ready and loads their transfer sockets.
  void addFilesToQueue();
  /// The name without its query part ("a?b" gives "a").
  Variant DeQuery(Variant& fntemp);
  static std::string DeQuery(const std::string& fntemp);
  /// The bytes of a text, one byte per character.
  Variant str2bin(Variant& varstr);

  // ---- Queue control (queue/queue_control.cpp) -----------------------------
  void StartQueue();
  void downloadQueue();
  void GotoFile(std::int16_t FileNum);
  void PauseQueue();
  void ResumeQueue();
  void CancelQueue();

  // ---- Mirror probing (mirror/probing.cpp) ---------------------------------
  /// Starts the probes of file `n` (a step of downloadQueue).
  void launchProbes(std::int16_t n);
  /// Judges the probes of file `n` (a step of the tick).
  void evaluateProbes(std::int16_t n);
  void pingWs_Connect(std::int16_t Index);
  void pingWs_DataArrival(std::int16_t Index, std::int32_t bytesTotal);
  void pingWs_Error(std::int16_t Index, platform::SocketError& error);
  void pingWs_Close(std::int16_t Index);
  /// Copies server S into the chosen-server slots of file `n`.
  void chooseServer(std::int16_t n, const remoteServerLoc& S);
  /// Ends the probing of file `n`: picks a server when none was measured,
  /// closes the probes still running and sets the file "pinged".
  void finishProbing(std::int16_t n);

  // ---- HTTP transfer (transfer/) -------------------------------------------
  // The requests are built in request.cpp (sent by sendRequest, a step of
  // the tick), the responses read in response.cpp, the transfer sockets'
  // errors handled in transfer_errors.cpp.
  void buildRequest(std::int16_t fileIndex);
  // `server`, when given, is where the probe connects: through a proxy the
  // request names it in full.
  void buildPingRequest(std::int16_t probeIndex, const std::string& path, const std::string& host,
                        const queue::remoteServerLoc* server = nullptr);
  void Winsock1_DataArrival(std::int16_t Index, std::int32_t bytesTotal);
  /// The pacing timer's tick: takes what the rate cap held back once the
  /// budget has grown to it (transfer/rate_cap.cpp).
  void rateTimer_Timer();
  void Winsock1_Error(std::int16_t Index, platform::SocketError& error);
  void Winsock1_Close(std::int16_t Index);
  /// Readies file `n` for a new connection (a step of the tick's connect):
  /// a clean response state, and the part on disk measured afresh.
  void prepareConnection(std::int16_t n);

 private:
  // The steps of a response, in transfer/response.cpp and (the body's)
  // transfer/body.cpp.
  /// Takes what waits on transfer socket `n` and reads it as the response.
  void takeArrival(std::int16_t n);
  /// True when the rate cap holds back what waits on transfer socket `n`
  /// for now; the pacing timer takes it later (transfer/rate_cap.cpp).
  bool holdForRate(std::int16_t n);
  /// Milliseconds until the rate cap lets more be taken; 0 for now.
  std::int64_t rateWait();
  /// Counts `bytes` taken from a socket against the rate cap.
  void spendRate(std::size_t bytes);
  void gatherHeader(std::int16_t n, DownloadFile& F, std::span<const std::uint8_t> data);
  /// The decisions on a response's head: `head` is all they read of it.
  void handleHeader(std::int16_t n, DownloadFile& F, const http::ResponseHead& head,
                    std::span<const std::uint8_t> body);
  /// An answer other than 200 and 206: redirected, retried or stopped.
  void answerWithoutFile(std::int16_t n, DownloadFile& F, int code, const http::ResponseHead& head);
  /// The first answer for a file: whatever lies under its name is judged by
  /// the record kept with it. True when this answer's body is to be written
  /// from its first byte (a new file, a free name, a changed part); false
  /// when the file was resumed, found complete or stopped.
  bool checkLocalFile(std::int16_t n, DownloadFile& F, int code, const http::ResponseHead& head);
  /// The part on disk is resumed: its length is noted and the request made
  /// again, for the rest.
  void checkSize(std::int16_t n, DownloadFile& F, const http::ResponseHead& head);
  /// Writes the record of file `n` before its first body byte; the body
  /// starts at `offset`.
  void keepRecord(std::int16_t n, int code, const http::ResponseHead& head, double offset);
  /// Marks the record of file `n` complete at `length` bytes.
  void recordComplete(std::int16_t n, double length);
  /// The part of file `n` is of another version than the server's: it is
  /// emptied and the file fetched whole on a new request.
  void discardPart(std::int16_t n, DownloadFile& F);
  /// The address file `n` was asked for, which its record names.
  std::string askedUrl(std::int16_t n) const;
  /// Where the body goes in the file; nothing when the file was stopped.
  std::optional<double> bodyOffset(std::int16_t n, DownloadFile& F, int code, const http::ResponseHead& head);
  void receiveBody(std::int16_t n, DownloadFile& F, std::span<const std::uint8_t> data);
  bool openWriter(std::int16_t n, DownloadFile& F, double offset);
  bool writeBody(std::int16_t n, DownloadFile& F, std::span<const std::uint8_t> bytes);
  void closeWriter(std::int16_t n);
  void completeFile(std::int16_t n, DownloadFile& F);
  void redirect(std::int16_t n, DownloadFile& F, int code, const http::ResponseHead& head);
  void rangeNotSatisfiable(std::int16_t n, DownloadFile& F, const http::ResponseHead& head);
  void newRequest(std::int16_t n, DownloadFile& F);
  void stopFile(std::int16_t n, DownloadFile& F, std::int64_t number, const std::string& description);
  /// False, with the file stopped, when `bytes` more do not fit on the
  /// download folder's volume.
  bool roomFor(std::int16_t n, DownloadFile& F, double bytes);
  void retryFile(std::int16_t n, DownloadFile& F, std::int64_t number, const std::string& description);
  // Checksums (transfer/checksum.cpp): the server's digest read from a 200
  // or 206 head, the hashers started where the writer opens (over the part
  // on disk first) and fed each written piece, and the check before a file
  // may be called complete: false, with the file stopped, when it fails.
  void noteServerDigest(std::int16_t n, const http::ResponseHead& head);
  bool startChecksums(std::int16_t n, DownloadFile& F, std::int64_t offset);
  void feedChecksums(std::int16_t n, std::span<const std::uint8_t> bytes);
  bool checksumsHold(std::int16_t n, DownloadFile& F);
  /// Counts a failed attempt of file `n`; at maxTries in a row the file is
  /// stopped as a missing one, with "Gave up after N attempts: " before
  /// `description`, and true is returned.
  bool giveUp(std::int16_t n, DownloadFile& F, std::int64_t number, const std::string& description);

 public:
  /// dErrorNumber of a file whose bytes do not have the checksum the user
  /// or the server gave; its bytes are moved to its name +
  /// bad_checksum_suffix.
  static constexpr std::int16_t checksum_mismatch = 12300;
  static constexpr const char* bad_checksum_suffix = ".bad-checksum";

  // ---- The tick (progress/tick.cpp) ----------------------------------------
  // It connects each file's transfer, sends its request and measures the
  // rate; probing and the response are judged by their own folders' steps.
  void Timer1_Timer();
  /// Asks for an early tick for file `n` in the state `status`: posted once,
  /// however often asked before it runs, and dropped when the file has left
  /// that state (or the timer ticked) by then. Does nothing unless eager.
  void request_tick(std::int16_t n, const char* status);
  /// After an event of transfer socket `index`: the tick has work at once
  /// when it is the current file's and it just connected or completed.
  void transfer_event_done(std::int16_t index);
  /// Sends the request buildRequest made for file `fileIndex`.
  void sendRequest(std::int16_t fileIndex);
  /// Rate and remaining time of the current transfer (a step of the tick).
  void updateRate(DownloadFile& F);

  // ---- Progress properties and events (progress/properties.cpp) ------------
  // The events go to the container: in a ControlObject (control/dispatch)
  // its EventHub (events.cpp), which hands each to the host and
  // then to every connected sink.
  std::string dBytesTotal() const;
  std::string dBytesTransferred() const;
  std::string dCurrentFileName() const;
  std::string dCurrentFile() const;
  std::string dPercentComplete() const;
  std::string dRate() const;
  std::string dRemainingTime() const;
  std::string dErrorDesc() const;
  std::string dErrorNumber() const;
  std::int16_t dTotalFiles() const;
  std::string dChosenPath() const;
  void StatusChange(const std::string& Text);
  void FileComplete(const std::string& Text);
  void TransferComplete();

  // ---- Shell services (shell.cpp) ------------------------------------------
  void SetDirectory(const std::string& thedir);
  void SetDLText(const std::string& themessage);
  void chooseFolder();
  std::int32_t BrowseCallbackProcStr(std::int32_t hWnd, std::int32_t uMsg, std::int32_t lParam, std::int32_t lpData);
  void ExecFile(const std::string& thefile);
  void OpenIt(const std::string& pathname);

  // ---- Disk (disk.cpp, over files/free_space) -----------------------------
  Variant CheckFreeSpace(const std::string& thedrive);

  // ---- Events' steps (user_control1.cpp) ----------------------------------
  /// Runs one step of an event (a tick, a socket event). An event has no
  /// caller to hand an error to, and a step that fails half-way must not
  /// leave file `n` stuck with nobody told: the file stops as a missing
  /// one does, the error's number and description kept for the page.
  template <class F>
  void guarded(std::int16_t n, F&& step) {
    try {
      step();
    } catch (const automation::AutomationError& e) {
      stepFailed(n, e.number(), e.description());
    } catch (const std::exception& e) {
      stepFailed(n, internal_error, std::string("Internal error: ") + e.what());
    }
  }

 private:
  // ---- Engine state, per file and per probe ---------------------------------
  // Slots 1..100, an index outside failing with 9 as every slot array does;
  // the fields keep the names the procedures use.
  friend struct UserControl1TestView;

  /// The digests the file on a connection is checked against.
  struct Checksums {
    /// The response's digest of the whole file, when it gave one.
    std::optional<http::ServerDigest> server;
    /// One hasher per algorithm to check, fed every byte of the file from
    /// its first, the part on disk included, once the writer is open.
    std::vector<std::pair<http::DigestAlgorithm, std::unique_ptr<platform::Hasher>>> running;
  };

  /// What the engine knows of the response on a file's current connection.
  struct Transfer {
    enum class Writer : std::uint8_t { none, plain, large };
    Writer writer = Writer::none;  // where the body goes; none once it may not
    bool length_known = false;     // the response advertised its length
    bool chunked = false;
    http::ChunkedDecoder decoder;
    std::int32_t redirects = 0;  // since the file was started
    // The last advertised total as the server wrote it, -1 when none; it
    // names the end of the next range exactly where contentlength, a
    // double, cannot.
    std::int64_t exact_total = -1;
    Checksums checks;
  };
  using Writer = Transfer::Writer;

  /// The engine's state of one file, by file index.
  /// Its dlLastChunk and dlHeaderEnd are kept for the surface only (above).
  struct FileSlot : KeptFileState {
    std::string dlLocalFile;  // the path the body is written to
    // The chosen server (chooseServer copies it from the record's list).
    std::string dlServName;
    std::int32_t dlPortNum = 0;
    std::string dlHost;  // the Host field
    std::string dlRemotePath;
    bool dlSecure = false;  // reached over TLS
    // Attempts in a row that failed before a byte of the body came; set
    // back to 0 by a body byte and by each start of the file.
    std::int32_t dlFailedAttempts = 0;
    std::string dlRequest;  // the request buildRequest made, sent by sendRequest
    Transfer dlTransfer;
    // The address the file was asked for, and the record of what its local
    // file is: read from the disk at the first answer, written before the
    // first body byte; its validators go into If-Range.
    std::string dlAskedUrl;
    std::optional<queue::PartRecord> dlRecord;
  };
  SlotArray<FileSlot> fileSlots_;

  /// How the probing judged each probe: each is measured or found silent once.
  enum class ProbeVerdict : std::uint8_t { none, measured, silent };
  /// The engine's state of one probe, by probe socket index.
  struct ProbeSlot {
    std::string psRequest;
    Date psStartTime;
    Date psFirstDataTime;  // the empty date until its first bytes
    double psBytes = 0;
    ProbeVerdict psVerdict = ProbeVerdict::none;
  };
  SlotArray<ProbeSlot> probeSlots_;

  static constexpr std::int64_t internal_error = 51;
  void stepFailed(std::int16_t n, std::int64_t number, const std::string& description) noexcept;
  class SocketSink;
  platform::Platform& platform_;
  platform::Container* container_;
  std::unique_ptr<SocketSink> winsockSink_;
  std::unique_ptr<SocketSink> pingSink_;
  bool folderDialogOpen_ = false;
  bool eagerTicks_ = false;
  bool adoptForeignParts_ = false;
  std::string extraHeaderLines_;
  // The rate cap's budget, and the transfer sockets whose arrivals wait for
  // it, in the order they came.
  RateBudget rateBudget_;
  std::vector<std::int16_t> rateHeld_;
  // The early tick wanted: for which file, in which state; a posted tick
  // finding anything else does nothing, so a file an error put back to
  // "pinged" in between waits for Timer1 like every retry.
  bool tickRequested_ = false;
  std::int16_t tickFile_ = 0;
  const char* tickStatus_ = "";
  bool tickPosted_ = false;
  // Expires with the control, so a tick posted before it died does nothing.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vintrel::control
