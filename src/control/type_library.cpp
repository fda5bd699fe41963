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
constexpr Member data(std::string_view name, std::uint16_t low) {
  using T = std::remove_cvref_t<decltype(std::declval<UserControl1&>().*Ptr)>;
  return Member{
      name,
      data_id(low),
      Kind::data_member,
      {},
      type_of<T>(),
      [](UserControl1& c, Args&) { return automation::to_value(c.*Ptr); },
      [](UserControl1& c, const Variant& v) { c.*Ptr = automation::from_value<T>(v); },
  };
}

// The page's cookie text and address go into every request as header
// lines: a write holding a control byte fails with 5 and keeps the value.
template <std::string UserControl1::*Ptr>
constexpr Member header_text(std::string_view name, std::uint16_t low) {
  Member m = data<Ptr>(name, low);
  m.write = [](UserControl1& c, const Variant& v) {
    std::string text = automation::from_value<std::string>(v);
    refuse_control_characters(text, automation::err::invalid_call,
                              Ptr == &UserControl1::cookielist ? "The cookie text" : "The page address");
    c.*Ptr = std::move(text);
  };
  return m;
}

constexpr Member method(std::string_view name, std::uint16_t low, std::span<const Parameter> parameters, Type result,
                        Variant (*call)(UserControl1&, Args&)) {
  return Member{name, method_id(low), Kind::method, parameters, result, call, nullptr};
}

constexpr Member reader(std::string_view name, std::uint16_t low, Type result, Variant (*read)(UserControl1&, Args&)) {
  return Member{name, property_id(low), Kind::property, {}, result, read, nullptr};
}

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
    data<&UserControl1::DownloadFiles>("DownloadFiles", 25),
    data<&UserControl1::curcnt>("curcnt", 27),
    data<&UserControl1::psIndex>("psIndex", 28),
    data<&UserControl1::curpsIndex>("curpsIndex", 29),
    data<&UserControl1::i>("i", 30),
    data<&UserControl1::madeAllPingConnections>("madeAllPingConnections", 31),
    data<&UserControl1::startPinging>("startPinging", 32),
    data<&UserControl1::curpingws>("curpingws", 33),
    data<&UserControl1::qPointer>("qPointer", 34),
    data<&UserControl1::CurFile>("CurFile", 35),
    data<&UserControl1::paused>("paused", 36),
    data<&UserControl1::collectionPointer>("collectionPointer", 37),
    data<&UserControl1::chosenSaveFile>("chosenSaveFile", 38),
    data<&UserControl1::numfilesadded>("numfilesadded", 39),
    data<&UserControl1::sBuffer>("sBuffer", 40),
    data<&UserControl1::dldirectory>("dldirectory", 41),
    data<&UserControl1::dlBrowseTitle>("dlBrowseTitle", 42),
    header_text<&UserControl1::cookielist>("cookielist", 43),
    header_text<&UserControl1::containerURL>("containerURL", 44),
    data<&UserControl1::theerrnumber>("theerrnumber", 45),
    data<&UserControl1::theerrdesc>("theerrdesc", 46),

    method("BrowseCallbackProcStr", 12, browse_params, Type::i4,
           [](UserControl1& c, Args& a) {
             return Variant(c.BrowseCallbackProcStr(a[0].i4(), a[1].i4(), a[2].i4(), a[3].i4()));
           }),
    method("StatusChange", 13, text_param, Type::none,
           [](UserControl1& c, Args& a) {
             c.StatusChange(a[0].bstr());
             return Variant();
           }),
    method("FileComplete", 14, text_param, Type::none,
           [](UserControl1& c, Args& a) {
             c.FileComplete(a[0].bstr());
             return Variant();
           }),
    method("TransferComplete", 15, {}, Type::none,
           [](UserControl1& c, Args&) {
             c.TransferComplete();
             return Variant();
           }),
    method("AddFile", 16, url_param, Type::none,
           [](UserControl1& c, Args& a) {
             c.AddFile(a[0].bstr());
             return Variant();
           }),
    method("SetDirectory", 17, thedir_param, Type::none,
           [](UserControl1& c, Args& a) {
             c.SetDirectory(a[0].bstr());
             return Variant();
           }),
    method("SetDLText", 18, themessage_param, Type::none,
           [](UserControl1& c, Args& a) {
             c.SetDLText(a[0].bstr());
             return Variant();
           }),
    method("ExecFile", 19, thefile_param, Type::none,
           [](UserControl1& c, Args& a) {
             c.ExecFile(a[0].bstr());
             return Variant();
           }),
    method("PauseQueue", 20, {}, Type::none,
           [](UserControl1& c, Args&) {
             c.PauseQueue();
             return Variant();
           }),
    method("DeQuery", 21, fntemp_param, Type::variant, [](UserControl1& c, Args& a) { return c.DeQuery(a[0]); }),
    method("ResumeQueue", 22, {}, Type::none,
           [](UserControl1& c, Args&) {
             c.ResumeQueue();
             return Variant();
           }),
    method("CancelQueue", 23, {}, Type::none,
           [](UserControl1& c, Args&) {
             c.CancelQueue();
             return Variant();
           }),
    method("StartQueue", 24, {}, Type::none,
           [](UserControl1& c, Args&) {
             c.StartQueue();
             return Variant();
           }),
    method("str2bin", 32, varstr_param, Type::variant, [](UserControl1& c, Args& a) { return c.str2bin(a[0]); }),
    Member{"URL", property_id(11), Kind::property, vdata_param, Type::string,
           [](UserControl1& c, Args&) { return Variant(c.urlValue); },
           // A stored setting for the page: nothing else follows a change.
           [](UserControl1& c, const Variant& v) { c.urlValue = v.bstr(); }},
    reader("dBytesTotal", 10, Type::string, [](UserControl1& c, Args&) { return Variant(c.dBytesTotal()); }),
    reader("dBytesTransferred", 9, Type::string, [](UserControl1& c, Args&) { return Variant(c.dBytesTransferred()); }),
    reader("dCurrentFileName", 8, Type::string, [](UserControl1& c, Args&) { return Variant(c.dCurrentFileName()); }),
    reader("dCurrentFile", 7, Type::string, [](UserControl1& c, Args&) { return Variant(c.dCurrentFile()); }),
    reader("dPercentComplete", 6, Type::string, [](UserControl1& c, Args&) { return Variant(c.dPercentComplete()); }),
    reader("dRate", 5, Type::string, [](UserControl1& c, Args&) { return Variant(c.dRate()); }),
    reader("dRemainingTime", 4, Type::string, [](UserControl1& c, Args&) { return Variant(c.dRemainingTime()); }),
    reader("dErrorDesc", 3, Type::string, [](UserControl1& c, Args&) { return Variant(c.dErrorDesc()); }),
    reader("dErrorNumber", 2, Type::string, [](UserControl1& c, Args&) { return Variant(c.dErrorNumber()); }),
    reader("dTotalFiles", 1, Type::i2, [](UserControl1& c, Args&) { return Variant(c.dTotalFiles()); }),
    reader("dChosenPath", 0, Type::string, [](UserControl1& c, Args&) { return Variant(c.dChosenPath()); }),
    method("GotoFile", 37, filenum_param, Type::none,
           [](UserControl1& c, Args& a) {
             c.GotoFile(a[0].i2());
             return Variant();
           }),
    method("downloadQueue", 38, {}, Type::none,
           [](UserControl1& c, Args&) {
             c.downloadQueue();
             return Variant();
           }),
    method("addFilesToQueue", 39, {}, Type::none,
           [](UserControl1& c, Args&) {
             c.addFilesToQueue();
             return Variant();
           }),
    method("OpenIt", 42, pathname_param, Type::none,
           [](UserControl1& c, Args& a) {
             c.OpenIt(a[0].bstr());
             return Variant();
           }),
    method("CheckFreeSpace", 43, thedrive_param, Type::variant,
           [](UserControl1& c, Args& a) { return c.CheckFreeSpace(a[0].bstr()); }),
    // Added after the interface's last member, so no identifier moves.
    data<&UserControl1::maxTries>("maxTries", 47),
};

constexpr Event event_table[] = {
    {"OnStatusChange", 1, text_param},
    {"OnFileComplete", 2, text_param},
    {"OnTransferComplete", 3, {}},
};

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
