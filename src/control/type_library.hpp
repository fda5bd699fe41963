#pragma once
// The type description of the module: its library, its classes, the
// interface _UserControl1 member by member and the event interface
// __UserControl1. Dispatch, events, registration and any listing read these
// tables; no member name or identifier is written anywhere else.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.hpp"
#include "control/interfaces/guid.hpp"
#include "control/interfaces/interfaces.hpp"

namespace vintrel::control {

class UserControl1;

namespace typelib {

/// The types members and parameters are declared with.
enum class Type : std::uint8_t {
  none,        // no result
  i2,          // 16-bit signed integer
  i4,          // 32-bit signed integer
  boolean,     // automation boolean
  string,      // automation string
  variant,     // any value
  collection,  // a Collection of DownloadFile records
};
/// The name of a type as a listing shows it ("Integer", "String"...).
std::string_view type_name(Type type);

enum class Kind : std::uint8_t {
  data_member,  // a public member of the control: read and write, nothing else
  method,
  property,  // a property procedure: read, and write where it has a writer
};

/// Who a member is for.
enum class Use : std::uint8_t {
  script,    // what scripts drive and watch the control with
  internal,  // the engine's own state or step, reachable only because the
             // interface has always shown it
};

struct Parameter {
  std::string_view name;
  Type type;
  bool by_ref = false;
};

using Args = std::vector<automation::Variant>;

/// One member of _UserControl1 and the engine behind it.
struct Member {
  std::string_view name;
  DispId id;
  Kind kind;
  /// The parameters of a method, or the value a property writer takes.
  std::span<const Parameter> parameters;
  /// The result of a method or property reader; the type of a data member.
  Type type;
  /// Calls the method or reads the property. Arguments arrive converted to
  /// their parameter types, by-reference ones as the caller's values.
  automation::Variant (*read)(UserControl1& control, Args& args);
  /// Writes the property with a value of its type; null when read-only.
  void (*write)(UserControl1& control, const automation::Variant& value);
  Use use = Use::script;
  /// What it is for, in a sentence for script authors (the member
  /// reference prints it).
  std::string_view purpose;
};

struct Event {
  std::string_view name;
  DispId id;
  std::span<const Parameter> parameters;
  std::string_view purpose;
};

/// A creatable class of the module.
struct Class {
  std::string_view name;
  Guid id;
  bool control;  // a control: embedded by a container, with events
};

/// The library and its identity.
struct Library {
  std::string_view name;
  std::string_view description;
  std::uint16_t major_version;
  std::uint16_t minor_version;
  std::uint32_t lcid;
  Guid id;
  std::string_view interface_name;  // the control's default interface
  Guid interface_id;
  std::string_view events_name;  // the control's event interface
  Guid events_id;
  std::uint16_t toolbox_bitmap;  // resource number of the control's picture
  std::uint32_t misc_status;     // the control's OLE misc status bits
};

const Library& library();
/// "446.0".
std::string version_text();
/// The classes of the module; the control first.
std::span<const Class> classes();
/// "Vintrel.UserControl1": library name, a point, class name.
std::string progid(const Class& cls);

/// The members of _UserControl1 in interface order.
std::span<const Member> members();
/// The member with identifier `id`, null when there is none.
const Member* find(DispId id);
/// The member named `name` in any letter case, null when there is none.
const Member* find(std::string_view name);

/// The events of __UserControl1.
std::span<const Event> events();
/// The event named `name`; every caller names one that exists.
const Event& event(std::string_view name);

/// The interface as text, one member a line with identifier, kind,
/// parameters and type: for people reading what script can reach.
std::string listing();

/// The member reference for script authors, as Markdown: every member
/// with its identifier, kind, type, access and purpose, the internal ones
/// marked, then the events. doc/members.md holds it as the build writes it.
std::string reference();

/// The library as IDL, for widl to compile into the type library Windows
/// script hosts read: the same identifiers, names and dispatch identifiers,
/// _UserControl1 and __UserControl1 as dispinterfaces (script reaches every
/// member through Invoke; no member is bound by vtable), and one coclass per
/// class.
std::string idl();

}  // namespace typelib
}  // namespace vintrel::control
