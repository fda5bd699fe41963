#include <cstdio>
#include <string>

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

std::string idl_id(DispId id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(id));
  return text;
}

// "uuid(...)" takes the identifier without braces.
std::string uuid(const Guid& id) {
  const std::string text = id.to_string();
  return "uuid(" + text.substr(1, text.size() - 2) + ")";
}

std::string parameter_list(std::span<const Parameter> list) {
  std::string text;
  for (const auto& p : list) {
    if (!text.empty()) text += ", ";
    text += p.by_ref ? "[in, out] " + idl_type(p.type) + "* " : "[in] " + idl_type(p.type) + " ";
    text += p.name;
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
  text += "[\n  " + uuid(lib.id) + ",\n  version(" + version_text() + "),\n  lcid(" + idl_id(lib.lcid) +
          "),\n  helpstring(\"" + std::string(lib.description) + "\")\n]\n";
  text += "library " + std::string(lib.name) + "\n{\n  importlib(\"stdole2.tlb\");\n\n";

  text += "  [" + uuid(lib.interface_id) + ", hidden]\n";
  text += "  dispinterface " + std::string(lib.interface_name) + " {\n    properties:\n";
  for (const auto& m : members())
    if (m.kind == Kind::data_member)
      text += "      [id(" + idl_id(m.id) + ")] " + idl_type(m.type) + " " + std::string(m.name) + ";\n";
  text += "    methods:\n";
  for (const auto& m : members()) {
    const std::string id = idl_id(m.id);
    const std::string name(m.name);
    if (m.kind == Kind::method) {
      text += "      [id(" + id + ")] " + idl_type(m.type) + " " + name + "(" + parameter_list(m.parameters) + ");\n";
    } else if (m.kind == Kind::property) {
      text += "      [id(" + id + "), propget] " + idl_type(m.type) + " " + name + "();\n";
      if (m.write) text += "      [id(" + id + "), propput] void " + name + "(" + parameter_list(m.parameters) + ");\n";
    }
  }
  text += "  };\n\n";

  text += "  [" + uuid(lib.events_id) + ", hidden]\n";
  text += "  dispinterface " + std::string(lib.events_name) + " {\n    properties:\n    methods:\n";
  for (const auto& e : events())
    text +=
        "      [id(" + idl_id(e.id) + ")] void " + std::string(e.name) + "(" + parameter_list(e.parameters) + ");\n";
  text += "  };\n";

  for (const auto& cls : classes()) {
    text += "\n  [" + uuid(cls.id) + (cls.control ? ", control" : "") + "]\n";
    text += "  coclass " + std::string(cls.name) + " {\n";
    if (cls.control) {
      text += "    [default] dispinterface " + std::string(lib.interface_name) + ";\n";
      text += "    [default, source] dispinterface " + std::string(lib.events_name) + ";\n";
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
