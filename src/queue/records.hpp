#pragma once
// The records of the queue: one DownloadFile per queued file, one
// remoteServerLoc per candidate server of a file. Plain data whose members
// script reads and writes by name.

#include <cstdint>
#include <memory>
#include <string>

#include "automation/automation.hpp"
#include "automation/collection.hpp"

namespace vintrel::queue {

using automation::Date;

/// One candidate server of a file.
class remoteServerLoc final : public automation::Object {
 public:
  std::string remoteFilePath;
  std::int32_t pingTime = 0;
  std::string status;
  std::string servName;
  std::int32_t PortNum = 0;
  std::int32_t bytesReceived = 0;
  bool serverChecked = false;
  std::string host;
  bool isCon = false;
  std::int32_t pingSock = 0;
  std::int32_t timeInterval = 0;
  Date startPingTime;
  Date stopPingTime;
  /// The server is reached over TLS (an https URL); appended last so that
  /// the members before it keep their places.
  bool isSecure = false;

  std::string_view class_name() const override { return "remoteServerLoc"; }
  automation::Variant get(std::string_view name) const override;
  void put(std::string_view name, const automation::Variant& value) override;
  std::vector<std::string> member_names() const override;
};

class DownloadFile;
/// A collection of queued files.
using DownloadFileCollection = automation::Collection<DownloadFile>;
/// A collection of candidate servers.
using ServerCollection = automation::Collection<remoteServerLoc>;

/// One queued file.
class DownloadFile final : public automation::Object {
 public:
  double remainingTime = 0;
  double TotalTime = 0;
  std::int32_t therate = 0;
  double tempBytesReceived = 0;
  Date startDLTime;
  std::string remoteFilename;
  std::string localfilename;
  std::string host;
  std::string downloadStatus;
  double fileBytesDownloaded = 0;
  std::string servName;
  std::shared_ptr<ServerCollection> remoteServerLocs = std::make_shared<ServerCollection>();
  double bestPingTime = 0;
  std::int32_t numServersChecked = 0;
  std::int16_t chosenServer = 0;
  double bytesondisk = 0;
  double downloadedbytes = 0;
  double contentlength = 0;
  bool IsHeaderReceived = false;
  bool IsResponseReceived = false;
  bool isResumingDownload = false;
  std::string strHTTPResponse;
  bool isCon = false;
  bool isSent = false;
  bool isSizeKnown = false;
  bool isLarge = false;
  /// The checksum the finished file must have, ALGO=HEX ("sha-256=9f86...");
  /// empty for none. Writing text of another form fails with 13. Appended
  /// last so that the members before it keep their places.
  std::string checksum;

  /// Size in bytes of the local file `localfilename` (0 when missing);
  /// an empty name fails with 13.
  double FileSize() const;
  /// True when a record of `dlQueue` has the same local name (exact case).
  bool IsInQueue(const DownloadFileCollection& dlQueue) const;

  std::string_view class_name() const override { return "DownloadFile"; }
  automation::Variant get(std::string_view name) const override;
  void put(std::string_view name, const automation::Variant& value) override;
  automation::Variant call(std::string_view name, std::vector<automation::Variant>& args) override;
  std::vector<std::string> member_names() const override;
};

/// Size of the named file from its directory entry, without opening it;
/// 0 when it does not exist.
double LookupFileSize(const std::string& name);

/// The file states held in downloadStatus.
namespace status {
inline constexpr const char* idle = "N/A";
inline constexpr const char* pinging = "pinging";
inline constexpr const char* pinged = "pinged";
inline constexpr const char* downloading = "downloading";
inline constexpr const char* completed = "Completed";
}  // namespace status

}  // namespace vintrel::queue
