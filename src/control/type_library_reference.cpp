// The member reference for script authors, written from the table so that
// it can never describe a member the interface does not have.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "control/type_library.hpp"

namespace vintrel::control::typelib {

namespace {

std::string hex_id(DispId id) {
  char text[12];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(id));
  return text;
}

std::string type_text(Type type) {
  if (type == Type::none) return "-";
  if (type == Type::collection) return "Collection of DownloadFile";
  return std::string(type_name(type));
}

std::string signature(std::string_view name, std::span<const Parameter> parameters) {
  std::string text = std::string(name) + "(";
  for (std::size_t k = 0; k < parameters.size(); ++k) {
    if (k > 0) text += ", ";
    if (parameters[k].by_ref) text += "ByRef ";
    text += std::string(parameters[k].name) + " As " + std::string(type_name(parameters[k].type));
  }
  return text + ")";
}

std::string kind_text(const Member& m) {
  switch (m.kind) {
    case Kind::data_member:
      return "data member";
    case Kind::method:
      return "method";
    case Kind::property:
      break;
  }
  return "property";
}

std::string access_text(const Member& m) {
  if (m.kind == Kind::method) return "call";
  return m.write ? "read/write" : "read";
}

std::string rows(Use use) {
  std::string text =
      "| Member | DISPID | Kind | Type | Access | Use | What it is for |\n"
      "|---|---|---|---|---|---|---|\n";
  for (const Member& m : members()) {
    if (m.use != use) continue;
    const std::string name = m.kind == Kind::method ? signature(m.name, m.parameters) : std::string(m.name);
    text += "| `" + name + "` | " + hex_id(m.id) + " | " + kind_text(m) + " | " + type_text(m.type) + " | " +
            access_text(m) + " | " + (use == Use::internal ? "internal" : "script") + " | " + std::string(m.purpose) +
            " |\n";
  }
  return text;
}

}  // namespace

std::string reference() {
  const Library& lib = library();
  const std::string name(lib.name);
  std::string text;
  text += "# " + name + " members\n\n";
  text +=
      "<!-- Written by the build from the interface table, src/control/type_library.cpp: change the table, "
      "then copy the built file here. A test fails while the two differ. -->\n\n";
  text += "What script reaches on `" + progid(classes().front()) + "` (library " + name + " " + version_text() +
          ", interface `" + std::string(lib.interface_name) + "`, events `" + std::string(lib.events_name) +
          "`). Every member is reached by name, in any letter case, through `IDispatch`; DISPID is its dispatch "
          "identifier. Properties that return numbers as text do so on purpose: pages have always read them as "
          "text.\n\n";
  text += "## For scripts\n\n" + rows(Use::script) + "\n";
  text += "## Internal\n\n";
  text +=
      "The engine's own state and steps. They stay on the interface because it has always shown them, and "
      "a script may read them, but they are not for driving the control: writing one changes the engine's "
      "state under it, and calling one runs a step out of its order.\n\n";
  text += rows(Use::internal) + "\n";
  text += "## Events\n\n";
  text += "| Event | DISPID | What it tells |\n|---|---|---|\n";
  for (const Event& e : events())
    text += "| `" + signature(e.name, e.parameters) + "` | " + std::to_string(e.id) + " | " + std::string(e.purpose) +
            " |\n";
  return text;
}

}  // namespace vintrel::control::typelib
