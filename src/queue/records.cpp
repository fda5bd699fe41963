#include "queue/records.hpp"

#include <array>

#include "automation/members.hpp"
#include "http/digest.hpp"
#include "platform/file_system.hpp"

namespace vintrel::queue {

using automation::member;
using automation::Member;
using automation::Variant;

namespace {

// Declaration order: script enumerates the members in this order.
const std::array<Member<remoteServerLoc>, 14> server_members{
    member<remoteServerLoc, &remoteServerLoc::remoteFilePath>("remoteFilePath"),
    member<remoteServerLoc, &remoteServerLoc::pingTime>("pingTime"),
    member<remoteServerLoc, &remoteServerLoc::status>("status"),
    member<remoteServerLoc, &remoteServerLoc::servName>("servName"),
    member<remoteServerLoc, &remoteServerLoc::PortNum>("PortNum"),
    member<remoteServerLoc, &remoteServerLoc::bytesReceived>("bytesReceived"),
    member<remoteServerLoc, &remoteServerLoc::serverChecked>("serverChecked"),
    member<remoteServerLoc, &remoteServerLoc::host>("host"),
    member<remoteServerLoc, &remoteServerLoc::isCon>("isCon"),
    member<remoteServerLoc, &remoteServerLoc::pingSock>("pingSock"),
    member<remoteServerLoc, &remoteServerLoc::timeInterval>("timeInterval"),
    member<remoteServerLoc, &remoteServerLoc::startPingTime>("startPingTime"),
    member<remoteServerLoc, &remoteServerLoc::stopPingTime>("stopPingTime"),
    member<remoteServerLoc, &remoteServerLoc::isSecure>("isSecure"),
};

const std::array<Member<DownloadFile>, 27> file_members{
    member<DownloadFile, &DownloadFile::remainingTime>("remainingTime"),
    member<DownloadFile, &DownloadFile::TotalTime>("TotalTime"),
    member<DownloadFile, &DownloadFile::therate>("therate"),
    member<DownloadFile, &DownloadFile::tempBytesReceived>("tempBytesReceived"),
    member<DownloadFile, &DownloadFile::startDLTime>("startDLTime"),
    member<DownloadFile, &DownloadFile::remoteFilename>("remoteFilename"),
    member<DownloadFile, &DownloadFile::localfilename>("localfilename"),
    member<DownloadFile, &DownloadFile::host>("host"),
    member<DownloadFile, &DownloadFile::downloadStatus>("downloadStatus"),
    member<DownloadFile, &DownloadFile::fileBytesDownloaded>("fileBytesDownloaded"),
    member<DownloadFile, &DownloadFile::servName>("servName"),
    member<DownloadFile, &DownloadFile::remoteServerLocs>("remoteServerLocs"),
    member<DownloadFile, &DownloadFile::bestPingTime>("bestPingTime"),
    member<DownloadFile, &DownloadFile::numServersChecked>("numServersChecked"),
    member<DownloadFile, &DownloadFile::chosenServer>("chosenServer"),
    member<DownloadFile, &DownloadFile::bytesondisk>("bytesondisk"),
    member<DownloadFile, &DownloadFile::downloadedbytes>("downloadedbytes"),
    member<DownloadFile, &DownloadFile::contentlength>("contentlength"),
    member<DownloadFile, &DownloadFile::IsHeaderReceived>("IsHeaderReceived"),
    member<DownloadFile, &DownloadFile::IsResponseReceived>("IsResponseReceived"),
    member<DownloadFile, &DownloadFile::isResumingDownload>("isResumingDownload"),
    member<DownloadFile, &DownloadFile::strHTTPResponse>("strHTTPResponse"),
    member<DownloadFile, &DownloadFile::isCon>("isCon"),
    member<DownloadFile, &DownloadFile::isSent>("isSent"),
    member<DownloadFile, &DownloadFile::isSizeKnown>("isSizeKnown"),
    member<DownloadFile, &DownloadFile::isLarge>("isLarge"),
    // Checked when written, so that a mistyped checksum fails where script
    // wrote it rather than after a whole download.
    Member<DownloadFile>{"checksum", [](const DownloadFile& f) { return Variant(f.checksum); },
                         [](DownloadFile& f, const Variant& value) {
                           std::string text = automation::to_bstr(value);
                           std::string why;
                           if (!text.empty() && !http::parse_checksum(text, why))
                             automation::raise(automation::err::type_mismatch, "Vintrel",
                                               "Type mismatch: the checksum is not ALGO=HEX: " + why);
                           f.checksum = std::move(text);
                         }},
};

template <class C, std::size_t N>
Variant get_member(const std::array<Member<C>, N>& table, const C& object, std::string_view name) {
  const auto* m = automation::find_member<C>(table, name);
  if (!m) automation::raise(automation::err::no_member);
  return m->get(object);
}

template <class C, std::size_t N>
void put_member(const std::array<Member<C>, N>& table, C& object, std::string_view name, const Variant& value) {
  const auto* m = automation::find_member<C>(table, name);
  if (!m) automation::raise(automation::err::no_member);
  m->put(object, value);
}

template <class C, std::size_t N>
std::vector<std::string> names_of(const std::array<Member<C>, N>& table) {
  std::vector<std::string> names;
  names.reserve(N);
  for (const auto& m : table) names.emplace_back(m.name);
  return names;
}

}  // namespace

Variant remoteServerLoc::get(std::string_view name) const { return get_member(server_members, *this, name); }
void remoteServerLoc::put(std::string_view name, const Variant& value) {
  put_member(server_members, *this, name, value);
}
std::vector<std::string> remoteServerLoc::member_names() const { return names_of(server_members); }

Variant DownloadFile::get(std::string_view name) const { return get_member(file_members, *this, name); }
void DownloadFile::put(std::string_view name, const Variant& value) { put_member(file_members, *this, name, value); }
std::vector<std::string> DownloadFile::member_names() const { return names_of(file_members); }

Variant DownloadFile::call(std::string_view name, std::vector<Variant>& args) {
  if (automation::same_name(name, "FileSize")) {
    if (!args.empty()) automation::raise(automation::err::wrong_arg_count);
    return Variant(FileSize());
  }
  if (automation::same_name(name, "IsInQueue")) {
    if (args.size() != 1) automation::raise(automation::err::wrong_arg_count);
    auto queue = std::dynamic_pointer_cast<DownloadFileCollection>(automation::to_object(args[0]));
    if (!queue) automation::raise(automation::err::type_mismatch);
    return Variant(IsInQueue(*queue));
  }
  return Object::call(name, args);
}

double LookupFileSize(const std::string& name) { return static_cast<double>(platform::file_size_of(name)); }

double DownloadFile::FileSize() const {
  // The size travels through its decimal text and back, so an empty name
  // fails the way the empty text fails as a number.
  if (localfilename.empty()) automation::raise(automation::err::type_mismatch);
  return LookupFileSize(localfilename);
}

bool DownloadFile::IsInQueue(const DownloadFileCollection& dlQueue) const {
  bool found = false;
  for (std::int32_t n = 1; n <= dlQueue.Count(); ++n)
    if (dlQueue.Item(n).localfilename == localfilename) found = true;
  return found;
}

}  // namespace vintrel::queue
