#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "control/type_library.hpp"

namespace vintrel::control::typelib {

namespace {

std::string idl_type(Type type) {
  switch (type) {
    case Type::none:
      break;
    case Type::i2:
      return "short";
    case Type::i4:
      return "long";
    case Type::boolean:
      return "VARIANT_BOOL";
    case Type::string:
      return "BSTR";
    case Type::variant:
      return "VARIANT";
    case Type::collection:
      // A collection is reached through IDispatch like every record.
      return "IDispatch*";
  }
  return "void";
}

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
  return text;
}

std::string idl_id(DispId id) { return hex(static_cast<std::uint32_t>(id)); }

// Appends every part in turn.
template <class... Parts>
void append(std::string& text, const Parts&... parts) {
  (text += ... += parts);
}

// "uuid(...)" takes the identifier without braces.
std::string uuid(const Guid& id) {
  const std::string text = id.to_string();
  std::string out = "uuid(";
  append(out, std::string_view(text).substr(1, text.size() - 2), ")");
  return out;
}

std::string parameter_list(std::span<const Parameter> list) {
  std::string text;
  for (const auto& p : list) {
    if (!text.empty()) text += ", ";
    if (p.by_ref)
      append(text, "[in, out] ", idl_type(p.type), "* ", p.name);
    else
      append(text, "[in] ", idl_type(p.type), " ", p.name);
  }
  return text;
}

}  // namespace

std::string idl() {
  const Library& lib = library();
  std::string text;
  text += "// Written at build time from the type library's tables; not edited by hand.\n";
  // widl reads no system IDL here: the automation types are declared by the
  // names it maps to their variant types, and IUnknown and IDispatch just
  // enough to be named; the library refers to stdole2's own.
  text +=
      "typedef short VARIANT_BOOL;\n"
      "typedef unsigned short* BSTR;\n"
      "typedef struct tagVARIANT { int reserved; } VARIANT;\n"
      "[object, local, uuid(00000000-0000-0000-C000-000000000046)] interface IUnknown {}\n"
      "[object, uuid(00020400-0000-0000-C000-000000000046)] interface IDispatch : IUnknown {}\n\n";
  append(text, "[\n  ", uuid(lib.id), ",\n  version(", version_text(), "),\n  lcid(", hex(lib.lcid),
         "),\n  helpstring(\"", lib.description, "\")\n]\n");
  append(text, "library ", lib.name, "\n{\n  importlib(\"stdole2.tlb\");\n\n");

  append(text, "  [", uuid(lib.interface_id), ", hidden]\n");
  append(text, "  dispinterface ", lib.interface_name, " {\n    properties:\n");
  for (const auto& m : members())
    if (m.kind == Kind::data_member)
      append(text, "      [id(", idl_id(m.id), ")] ", idl_type(m.type), " ", m.name, ";\n");
  text += "    methods:\n";
  for (const auto& m : members()) {
    const std::string id = idl_id(m.id);
    if (m.kind == Kind::method) {
      append(text, "      [id(", id, ")] ", idl_type(m.type), " ", m.name, "(", parameter_list(m.parameters), ");\n");
    } else if (m.kind == Kind::property) {
      append(text, "      [id(", id, "), propget] ", idl_type(m.type), " ", m.name, "();\n");
      if (m.write)
        append(text, "      [id(", id, "), propput] void ", m.name, "(", parameter_list(m.parameters), ");\n");
    }
  }
  text += "  };\n\n";

  append(text, "  [", uuid(lib.events_id), ", hidden]\n");
  append(text, "  dispinterface ", lib.events_name, " {\n    properties:\n    methods:\n");
  for (const auto& e : events())
    append(text, "      [id(", idl_id(e.id), ")] void ", e.name, "(", parameter_list(e.parameters), ");\n");
  text += "  };\n";

  for (const auto& cls : classes()) {
    append(text, "\n  [", uuid(cls.id), cls.control ? ", control" : "", "]\n");
    append(text, "  coclass ", cls.name, " {\n");
    if (cls.control) {
      append(text, "    [default] dispinterface ", lib.interface_name, ";\n");
      append(text, "    [default, source] dispinterface ", lib.events_name, ";\n");
    } else {
      // A record: its members are named at run time, through IDispatch alone.
      text += "    [default] interface IDispatch;\n";
    }
    text += "  };\n";
  }
  text += "};\n";
  return text;
}

}  // namespace vintrel::control::typelib
