#pragma once
// The control's interface written out row by row, and what the dispatch tests
// need to call it: arguments, new values and the state a write may touch.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "control/surface.hpp"

namespace vintrel::dispatch_rig {

using automation::Variant;
using automation::VarType;
using control::DispId;
using testing::error_of;
using testing::Surface;
namespace invoke = control::invoke;
namespace err = automation::err;

// The interface as its tables give it, written out here on purpose: the
// dispatch must agree with this copy, not with itself.
enum class Is { member, method, reader, property };
struct Row {
  const char* name;
  std::uint32_t high;
  std::uint32_t low;
  Is is;
  int parameters;
  VarType type;  // of a member or reader; Empty for methods
};

const Row interface_rows[] = {
    {"DownloadFiles", 0x4003, 25, Is::member, 0, VarType::Dispatch},
    {"curcnt", 0x4003, 27, Is::member, 0, VarType::I2},
    {"psIndex", 0x4003, 28, Is::member, 0, VarType::I2},
    {"curpsIndex", 0x4003, 29, Is::member, 0, VarType::I2},
    {"i", 0x4003, 30, Is::member, 0, VarType::I2},
    {"madeAllPingConnections", 0x4003, 31, Is::member, 0, VarType::Bool},
    {"startPinging", 0x4003, 32, Is::member, 0, VarType::Bool},
    {"curpingws", 0x4003, 33, Is::member, 0, VarType::I2},
    {"qPointer", 0x4003, 34, Is::member, 0, VarType::I2},
    {"CurFile", 0x4003, 35, Is::member, 0, VarType::I2},
    {"paused", 0x4003, 36, Is::member, 0, VarType::I2},
    {"collectionPointer", 0x4003, 37, Is::member, 0, VarType::I2},
    {"chosenSaveFile", 0x4003, 38, Is::member, 0, VarType::Bstr},
    {"numfilesadded", 0x4003, 39, Is::member, 0, VarType::I2},
    {"sBuffer", 0x4003, 40, Is::member, 0, VarType::Bstr},
    {"dldirectory", 0x4003, 41, Is::member, 0, VarType::Bstr},
    {"dlBrowseTitle", 0x4003, 42, Is::member, 0, VarType::Bstr},
    {"cookielist", 0x4003, 43, Is::member, 0, VarType::Bstr},
    {"containerURL", 0x4003, 44, Is::member, 0, VarType::Bstr},
    {"theerrnumber", 0x4003, 45, Is::member, 0, VarType::I2},
    {"theerrdesc", 0x4003, 46, Is::member, 0, VarType::Bstr},
    {"BrowseCallbackProcStr", 0x6003, 12, Is::method, 4, VarType::Empty},
    {"StatusChange", 0x6003, 13, Is::method, 1, VarType::Empty},
    {"FileComplete", 0x6003, 14, Is::method, 1, VarType::Empty},
    {"TransferComplete", 0x6003, 15, Is::method, 0, VarType::Empty},
    {"AddFile", 0x6003, 16, Is::method, 1, VarType::Empty},
    {"SetDirectory", 0x6003, 17, Is::method, 1, VarType::Empty},
    {"SetDLText", 0x6003, 18, Is::method, 1, VarType::Empty},
    {"ExecFile", 0x6003, 19, Is::method, 1, VarType::Empty},
    {"PauseQueue", 0x6003, 20, Is::method, 0, VarType::Empty},
    {"DeQuery", 0x6003, 21, Is::method, 1, VarType::Empty},
    {"ResumeQueue", 0x6003, 22, Is::method, 0, VarType::Empty},
    {"CancelQueue", 0x6003, 23, Is::method, 0, VarType::Empty},
    {"StartQueue", 0x6003, 24, Is::method, 0, VarType::Empty},
    {"str2bin", 0x6003, 32, Is::method, 1, VarType::Empty},
    {"URL", 0x6803, 11, Is::property, 0, VarType::Bstr},
    {"dBytesTotal", 0x6803, 10, Is::reader, 0, VarType::Bstr},
    {"dBytesTransferred", 0x6803, 9, Is::reader, 0, VarType::Bstr},
    {"dCurrentFileName", 0x6803, 8, Is::reader, 0, VarType::Bstr},
    {"dCurrentFile", 0x6803, 7, Is::reader, 0, VarType::Bstr},
    {"dPercentComplete", 0x6803, 6, Is::reader, 0, VarType::Bstr},
    {"dRate", 0x6803, 5, Is::reader, 0, VarType::Bstr},
    {"dRemainingTime", 0x6803, 4, Is::reader, 0, VarType::Bstr},
    {"dErrorDesc", 0x6803, 3, Is::reader, 0, VarType::Bstr},
    {"dErrorNumber", 0x6803, 2, Is::reader, 0, VarType::Bstr},
    {"dTotalFiles", 0x6803, 1, Is::reader, 0, VarType::I2},
    {"dChosenPath", 0x6803, 0, Is::reader, 0, VarType::Bstr},
    {"GotoFile", 0x6003, 37, Is::method, 1, VarType::Empty},
    {"downloadQueue", 0x6003, 38, Is::method, 0, VarType::Empty},
    {"addFilesToQueue", 0x6003, 39, Is::method, 0, VarType::Empty},
    {"OpenIt", 0x6003, 42, Is::method, 1, VarType::Empty},
    {"CheckFreeSpace", 0x6003, 43, Is::method, 1, VarType::Empty},
    {"maxTries", 0x4003, 47, Is::member, 0, VarType::I2},
    {"maxRate", 0x4003, 48, Is::member, 0, VarType::I4},
};

inline DispId id_of(const Row& row) { return static_cast<DispId>(row.high << 16 | row.low); }

inline std::string upper(std::string text) {
  for (auto& ch : text)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  return text;
}

inline std::vector<Variant> arguments(int count) {
  return std::vector<Variant>(static_cast<std::size_t>(count), Variant("1"));
}

// Everything a write could disturb: the public members in table order, then
// the state behind them, the host's events and the sockets.
inline std::vector<std::string> state_of(Surface& s) {
  const control::UserControl1& c = s.c;
  auto n = [](auto v) { return std::to_string(v); };
  return {std::to_string(reinterpret_cast<std::uintptr_t>(c.DownloadFiles.get())),
          n(c.curcnt),
          n(c.psIndex),
          n(c.curpsIndex),
          n(c.i),
          n(c.madeAllPingConnections),
          n(c.startPinging),
          n(c.curpingws),
          n(c.qPointer),
          n(c.CurFile),
          n(c.paused),
          n(c.collectionPointer),
          c.chosenSaveFile,
          n(c.numfilesadded),
          c.sBuffer,
          c.dldirectory,
          c.dlBrowseTitle,
          c.cookielist,
          c.containerURL,
          n(c.theerrnumber),
          c.theerrdesc,
          n(c.maxTries),
          n(c.maxRate),
          c.urlValue,
          n(c.totalFiles),
          n(c.DownloadFiles->Count()),
          c.addedURLs[1],
          n(s.host.events.size()),
          n(s.platform.array(0).element(1).loads),
          n(s.platform.array(1).element(1).loads)};
}

// A value of the member's type unlike its initial value, handed over in a
// form the member must convert.
inline Variant new_value_for(const Row& row) {
  switch (row.type) {
    case VarType::I2:
    case VarType::I4:
      return Variant("123");
    case VarType::Bool:
      return Variant(true);
    case VarType::Dispatch:
      return Variant(std::static_pointer_cast<automation::Object>(std::make_shared<queue::DownloadFileCollection>()));
    default:
      return Variant("written");
  }
}

inline std::string text_of(const Variant& v) {
  if (v.type() == VarType::Dispatch) return std::to_string(reinterpret_cast<std::uintptr_t>(v.object().get()));
  return automation::to_bstr(v);
}

}  // namespace vintrel::dispatch_rig
