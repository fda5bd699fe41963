#include "control/type_library.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include "automation/members.hpp"
#include "control/user_control1.hpp"

namespace vintrel::control::typelib {

namespace {

using automation::Variant;

// The high half of an identifier tells what a member is.
constexpr DispId data_id(std::uint16_t low) { return static_cast<DispId>(0x40030000u | low); }
constexpr DispId method_id(std::uint16_t low) { return static_cast<DispId>(0x60030000u | low); }
constexpr DispId property_id(std::uint16_t low) { return static_cast<DispId>(0x68030000u | low); }

template <class T>
constexpr Type type_of() {
  if constexpr (std::is_same_v<T, std::int16_t>)
    return Type::i2;
  else if constexpr (std::is_same_v<T, std::int32_t>)
    return Type::i4;
  else if constexpr (std::is_same_v<T, bool>)
    return Type::boolean;
  else if constexpr (std::is_same_v<T, std::string>)
    return Type::string;
  else {
    static_assert(std::is_same_v<T, std::shared_ptr<queue::DownloadFileCollection>>);
    return Type::collection;
  }
}

// A public member of the control: reading returns it, writing replaces it.
template <auto Ptr>
constexpr Member data(std::string_view name, std::uint16_t low, Use use, std::string_view purpose) {
  using T = std::remove_cvref_t<decltype(std::declval<UserControl1&>().*Ptr)>;
  return Member{
      name,
      data_id(low),
      Kind::data_member,
      {},
      type_of<T>(),
      [](UserControl1& c, Args&) { return automation::to_value(c.*Ptr); },
      [](UserControl1& c, const Variant& v) { c.*Ptr = automation::from_value<T>(v); },
      use,
      purpose,
  };
}

// Written through set_max_rate, so that a lifted cap frees a held transfer
// at once.
constexpr Member rate_cap(std::string_view name, std::uint16_t low, Use use, std::string_view purpose) {
  Member m = data<&UserControl1::maxRate>(name, low, use, purpose);
  m.write = [](UserControl1& c, const Variant& v) { c.set_max_rate(automation::from_value<std::int32_t>(v)); };
  return m;
}

// The page's cookie text and address go into every request as header
// lines: a write holding a control byte fails with 5 and keeps the value.
template <std::string UserControl1::*Ptr>
constexpr Member header_text(std::string_view name, std::uint16_t low, Use use, std::string_view purpose) {
  Member m = data<Ptr>(name, low, use, purpose);
  m.write = [](UserControl1& c, const Variant& v) {
    std::string text = automation::from_value<std::string>(v);
    refuse_control_characters(text, automation::err::invalid_call,
                              Ptr == &UserControl1::cookielist ? "The cookie text" : "The page address");
    c.*Ptr = std::move(text);
  };
  return m;
}

constexpr Member method(std::string_view name, std::uint16_t low, std::span<const Parameter> parameters, Type result,
                        Use use, std::string_view purpose, Variant (*call)(UserControl1&, Args&)) {
  return Member{name, method_id(low), Kind::method, parameters, result, call, nullptr, use, purpose};
}

// The progress properties are all for script.
constexpr Member reader(std::string_view name, std::uint16_t low, Type result, std::string_view purpose,
                        Variant (*read)(UserControl1&, Args&)) {
  return Member{name, property_id(low), Kind::property, {}, result, read, nullptr, Use::script, purpose};
}

constexpr Use script = Use::script;
constexpr Use internal = Use::internal;

constexpr Parameter browse_params[] = {
    {"hWnd", Type::i4}, {"uMsg", Type::i4}, {"lParam", Type::i4}, {"lpData", Type::i4}};
constexpr Parameter text_param[] = {{"Text", Type::string}};
constexpr Parameter url_param[] = {{"URL", Type::string}};
constexpr Parameter thedir_param[] = {{"thedir", Type::string}};
constexpr Parameter themessage_param[] = {{"themessage", Type::string}};
constexpr Parameter thefile_param[] = {{"thefile", Type::string}};
constexpr Parameter fntemp_param[] = {{"fntemp", Type::variant, true}};
constexpr Parameter varstr_param[] = {{"varstr", Type::variant, true}};
constexpr Parameter vdata_param[] = {{"vData", Type::string}};
constexpr Parameter filenum_param[] = {{"FileNum", Type::i2}};
constexpr Parameter pathname_param[] = {{"pathname", Type::string}};
constexpr Parameter thedrive_param[] = {{"thedrive", Type::string}};

constexpr std::array member_table{
    data<&UserControl1::DownloadFiles>("DownloadFiles", 25, script,
                                       "Every file record created so far, in queue order: `DownloadFiles(n)` is file "
                                       "n; more servers of a file join its `remoteServerLocs` before it starts."),
    data<&UserControl1::curcnt>("curcnt", 27, internal,
                                "The file index `addFilesToQueue` is making ready; afterwards one past the last."),
    data<&UserControl1::psIndex>("psIndex", 28, internal,
                                 "The last probe index handed out: one more for every server of every file start."),
    data<&UserControl1::curpsIndex>("curpsIndex", 29, internal, "Nothing uses it."),
    data<&UserControl1::i>("i", 30, internal, "Scratch: the file index being started, or a loop counter."),
    data<&UserControl1::madeAllPingConnections>("madeAllPingConnections", 31, internal, "Nothing uses it."),
    data<&UserControl1::startPinging>("startPinging", 32, internal, "Nothing uses it."),
    data<&UserControl1::curpingws>("curpingws", 33, internal, "Nothing uses it."),
    data<&UserControl1::qPointer>("qPointer", 34, internal, "Counts the starts of files; nothing reads it."),
    data<&UserControl1::CurFile>("CurFile", 35, script,
                                 "The index of the current file: the one being fetched and the one the `d` properties "
                                 "describe. Moved by `GotoFile`; writing it starts nothing."),
    data<&UserControl1::paused>("paused", 36, script, "1 while the queue is paused by `PauseQueue`, else 0."),
    data<&UserControl1::collectionPointer>("collectionPointer", 37, internal,
                                           "The number of records in `DownloadFiles` (its `Count`)."),
    data<&UserControl1::chosenSaveFile>("chosenSaveFile", 38, internal, "The local path of the last record created."),
    data<&UserControl1::numfilesadded>(
        "numfilesadded", 39, script,
        "How many URLs `AddFile` has listed; the list outlives `StartQueue`, which queues all of them again."),
    data<&UserControl1::sBuffer>("sBuffer", 40, internal,
                                 "The folder chosen at `StartQueue`; read it as `dChosenPath`."),
    data<&UserControl1::dldirectory>("dldirectory", 41, internal,
                                     "The folder the folder dialog opens at; set it with `SetDirectory`."),
    data<&UserControl1::dlBrowseTitle>("dlBrowseTitle", 42, internal,
                                       "The folder dialog's title; set it with `SetDLText`."),
    header_text<&UserControl1::cookielist>(
        "cookielist", 43, internal,
        "The page's cookie text, taken from the page at `StartQueue` and sent with every request."),
    header_text<&UserControl1::containerURL>(
        "containerURL", 44, internal, "The page's address, taken from the page at `StartQueue` and sent as `Referer`."),
    data<&UserControl1::theerrnumber>("theerrnumber", 45, internal,
                                      "The number of the last transfer error; read it as `dErrorNumber`."),
    data<&UserControl1::theerrdesc>("theerrdesc", 46, internal,
                                    "The description of the last transfer error; read it as `dErrorDesc`."),

    method("BrowseCallbackProcStr", 12, browse_params, Type::i4, internal,
           "The old folder dialog's callback: does nothing and returns 0.",
           [](UserControl1& c, Args& a) {
             return Variant(c.BrowseCallbackProcStr(a[0].i4(), a[1].i4(), a[2].i4(), a[3].i4()));
           }),
    method("StatusChange", 13, text_param, Type::none, internal,
           "Raises `OnStatusChange` with the text, as the engine does at every status.",
           [](UserControl1& c, Args& a) {
             c.StatusChange(a[0].bstr());
             return Variant();
           }),
    method("FileComplete", 14, text_param, Type::none, internal,
           "Raises `OnFileComplete` with the text, as the engine does when a file is saved.",
           [](UserControl1& c, Args& a) {
             c.FileComplete(a[0].bstr());
             return Variant();
           }),
    method("TransferComplete", 15, {}, Type::none, internal,
           "Raises `OnTransferComplete`, as `GotoFile` past the last file does.",
           [](UserControl1& c, Args&) {
             c.TransferComplete();
             return Variant();
           }),
    method("AddFile", 16, url_param, Type::none, script,
           "Lists a URL (`http://` or `https://`) for `StartQueue` to queue; at most 100.",
           [](UserControl1& c, Args& a) {
             c.AddFile(a[0].bstr());
             return Variant();
           }),
    method("SetDirectory", 17, thedir_param, Type::none, script, "The folder the folder dialog opens at.",
           [](UserControl1& c, Args& a) {
             c.SetDirectory(a[0].bstr());
             return Variant();
           }),
    method("SetDLText", 18, themessage_param, Type::none, script, "The folder dialog's title.",
           [](UserControl1& c, Args& a) {
             c.SetDLText(a[0].bstr());
             return Variant();
           }),
    method("ExecFile", 19, thefile_param, Type::none, script,
           "Opens a file with the program the system gives it, maximised.",
           [](UserControl1& c, Args& a) {
             c.ExecFile(a[0].bstr());
             return Variant();
           }),
    method("PauseQueue", 20, {}, Type::none, script,
           "Stops the current file's transfer and marks the queue paused; the part on disk stays.",
           [](UserControl1& c, Args&) {
             c.PauseQueue();
             return Variant();
           }),
    method("DeQuery", 21, fntemp_param, Type::variant, internal,
           "A file name without its query part (the text before the first `?`).",
           [](UserControl1& c, Args& a) { return c.DeQuery(a[0]); }),
    method("ResumeQueue", 22, {}, Type::none, script,
           "After `PauseQueue`: starts the current file again, resuming from what is on disk.",
           [](UserControl1& c, Args&) {
             c.ResumeQueue();
             return Variant();
           }),
    method("CancelQueue", 23, {}, Type::none, script,
           "Stops the current file's transfer; the part on disk stays and nothing goes on by itself.",
           [](UserControl1& c, Args&) {
             c.CancelQueue();
             return Variant();
           }),
    method("StartQueue", 24, {}, Type::none, script,
           "Takes the page's address and cookie, asks for the folder, queues every listed URL and starts the current "
           "file. A folder answer that names no folder raises 76, no way to ask raises 5; the list then stays.",
           [](UserControl1& c, Args&) {
             c.StartQueue();
             return Variant();
           }),
    method("str2bin", 32, varstr_param, Type::variant, internal, "The bytes of a text, one per character.",
           [](UserControl1& c, Args& a) { return c.str2bin(a[0]); }),
    Member{"URL", property_id(11), Kind::property, vdata_param, Type::string,
           [](UserControl1& c, Args&) { return Variant(c.urlValue); },
           // A stored setting for the page: nothing else follows a change.
           [](UserControl1& c, const Variant& v) { c.urlValue = v.bstr(); }, script,
           "A setting the page keeps with the control, saved and loaded with it; the download engine never reads it."},
    reader("dBytesTotal", 10, Type::string, "The current file's size in bytes, as text; \"0\" while unknown.",
           [](UserControl1& c, Args&) { return Variant(c.dBytesTotal()); }),
    reader("dBytesTransferred", 9, Type::string,
           "The current file's bytes on disk, as text, a part from an earlier run included.",
           [](UserControl1& c, Args&) { return Variant(c.dBytesTransferred()); }),
    reader("dCurrentFileName", 8, Type::string, "The current file's full local path.",
           [](UserControl1& c, Args&) { return Variant(c.dCurrentFileName()); }),
    reader("dCurrentFile", 7, Type::string, "`CurFile` as text.",
           [](UserControl1& c, Args&) { return Variant(c.dCurrentFile()); }),
    reader("dPercentComplete", 6, Type::string, "How much of the current file is on disk, in whole percent, as text.",
           [](UserControl1& c, Args&) { return Variant(c.dPercentComplete()); }),
    reader("dRate", 5, Type::string, "The current transfer's rate in whole KB (1024 bytes) per second, as text.",
           [](UserControl1& c, Args&) { return Variant(c.dRate()); }),
    reader("dRemainingTime", 4, Type::string, "The current file's estimated seconds left, as text.",
           [](UserControl1& c, Args&) { return Variant(c.dRemainingTime()); }),
    reader("dErrorDesc", 3, Type::string, "The last transfer error's description; \"No Error\" when none.",
           [](UserControl1& c, Args&) { return Variant(c.dErrorDesc()); }),
    reader("dErrorNumber", 2, Type::string,
           "The last transfer error's number, as text (a socket error, or the server's status such as 404); \"0\" when "
           "none.",
           [](UserControl1& c, Args&) { return Variant(c.dErrorNumber()); }),
    reader("dTotalFiles", 1, Type::i2,
           "How many files are queued (a number, not text): `GotoFile dTotalFiles + 1` ends the queue.",
           [](UserControl1& c, Args&) { return Variant(c.dTotalFiles()); }),
    reader("dChosenPath", 0, Type::string, "The folder chosen at `StartQueue`.",
           [](UserControl1& c, Args&) { return Variant(c.dChosenPath()); }),
    method("GotoFile", 37, filenum_param, Type::none, script,
           "Makes file n current and starts it; past the last file, ends the queue with `OnTransferComplete`. Call it "
           "from `OnFileComplete` to go on.",
           [](UserControl1& c, Args& a) {
             c.GotoFile(a[0].i2());
             return Variant();
           }),
    method("downloadQueue", 38, {}, Type::none, internal, "Starts the current file, as `StartQueue` and `GotoFile` do.",
           [](UserControl1& c, Args&) {
             c.downloadQueue();
             return Variant();
           }),
    method("addFilesToQueue", 39, {}, Type::none, internal,
           "Makes the records created since the last call ready to transfer, as `StartQueue` does.",
           [](UserControl1& c, Args&) {
             c.addFilesToQueue();
             return Variant();
           }),
    method("OpenIt", 42, pathname_param, Type::none, script,
           "Opens a file with the program the system gives it, in a normal window.",
           [](UserControl1& c, Args& a) {
             c.OpenIt(a[0].bstr());
             return Variant();
           }),
    method("CheckFreeSpace", 43, thedrive_param, Type::variant, script,
           "The free bytes of the system volume, as a Currency; the drive given is not consulted.",
           [](UserControl1& c, Args& a) { return c.CheckFreeSpace(a[0].bstr()); }),
    // Added after the interface's last member, so no identifier moves.
    data<&UserControl1::maxTries>("maxTries", 47, script,
                                  "Connection attempts in a row that bring no byte before a file is given up as \"File "
                                  "Not Found\" (default 20; 0 or less tries for ever)."),
    rate_cap("maxRate", 48, script,
             "Bytes per second the transfers take at most (0, the default: no cap); below 0 fails with 5. A change "
             "takes effect at once. Probes of mirrors are never slowed but count."),
};

constexpr Event event_table[] = {
    {"OnStatusChange", 1, text_param,
     "A status of the current file: \"Locating File\", \"Downloading\", \"File Not Found\"..."},
    {"OnFileComplete", 2, text_param, "The current file is saved, at the local path given; call `GotoFile` to go on."},
    {"OnTransferComplete", 3, {}, "The queue has ended: `GotoFile` went past the last file."},
};

// A member nobody can tell the purpose of would be missing from the
// reference script authors read.
constexpr bool described() {
  for (const Member& m : member_table)
    if (m.purpose.empty()) return false;
  for (const Event& e : event_table)
    if (e.purpose.empty()) return false;
  return true;
}
static_assert(described(), "every member and event of the table says what it is for");

constexpr Library the_library{
    "Vintrel",
    "Vintrel",
    446,
    0,
    0x409,
    make_guid("{DEA46A7F-7C3D-4EBE-8A45-CBEC16A43765}"),
    "_UserControl1",
    make_guid("{7BF1047D-ABE1-4689-A7C8-C1F4681B48CB}"),
    "__UserControl1",
    make_guid("{C29C0A3C-49E0-4FEE-8F2F-3F143AD31BEC}"),
    30000,
    // recompose on resize, cannot link inside, inside-out, activate when
    // visible, invisible at run time, set client site first
    0x20591,
};

constexpr Class class_table[] = {
    {"UserControl1", make_guid("{C14EF994-D5AA-417A-84B1-46DCB9ECAC02}"), true},
    {"remoteServerLoc", make_guid("{D20E73FB-C194-4BDE-A7BF-B4464310C434}"), false},
};

std::string hex_id(DispId id) {
  char text[12];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(id));
  return text;
}

}  // namespace

std::string_view type_name(Type type) {
  switch (type) {
    case Type::none:
      break;
    case Type::i2:
      return "Integer";
    case Type::i4:
      return "Long";
    case Type::boolean:
      return "Boolean";
    case Type::string:
      return "String";
    case Type::variant:
      return "Variant";
    case Type::collection:
      return "Collection";
  }
  return "";
}

const Library& library() { return the_library; }

std::string version_text() {
  return std::to_string(the_library.major_version) + "." + std::to_string(the_library.minor_version);
}

std::span<const Class> classes() { return class_table; }

std::string progid(const Class& cls) { return std::string(the_library.name) + "." + std::string(cls.name); }

std::span<const Member> members() { return member_table; }

const Member* find(DispId id) {
  for (const auto& m : member_table)
    if (m.id == id) return &m;
  return nullptr;
}

const Member* find(std::string_view name) {
  for (const auto& m : member_table)
    if (automation::same_name(m.name, name)) return &m;
  return nullptr;
}

std::span<const Event> events() { return event_table; }

const Event& event(std::string_view name) {
  for (const auto& e : event_table)
    if (e.name == name) return e;
  // Only the control's own three events are ever raised.
  std::abort();
}

std::string listing() {
  auto parameters = [](std::span<const Parameter> list) {
    std::string text;
    for (const auto& p : list) {
      if (!text.empty()) text += ", ";
      text += p.by_ref ? "ByRef " : "ByVal ";
      text += p.name;
      text += " As ";
      text += type_name(p.type);
    }
    return text;
  };
  std::string text = "library " + std::string(the_library.name) + " " + version_text() + "\ninterface " +
                     std::string(the_library.interface_name) + "\n";
  for (const auto& m : member_table) {
    text += "  " + hex_id(m.id) + "  ";
    switch (m.kind) {
      case Kind::data_member:
        text += "member    ";
        break;
      case Kind::method:
        text += "method    ";
        break;
      case Kind::property:
        text += m.write ? "property  " : "readonly  ";
        break;
    }
    text += std::string(m.name);
    if (m.kind == Kind::method) text += "(" + parameters(m.parameters) + ")";
    if (m.type != Type::none) text += " As " + std::string(type_name(m.type));
    text += "\n";
  }
  text += "events " + std::string(the_library.events_name) + "\n";
  for (const auto& e : event_table)
    text += "  " + hex_id(e.id) + "  event     " + std::string(e.name) + "(" + parameters(e.parameters) + ")\n";
  return text;
}

}  // namespace vintrel::control::typelib
