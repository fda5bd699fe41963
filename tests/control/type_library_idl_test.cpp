// The IDL the type library's tables write for widl: every member of
// _UserControl1 with its identifier and kind, the events, the classes with
// their identifiers; and, where mingw-w64's widl is installed, that widl
// compiles it into a type library.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "control/dispatch_rig.hpp"
#include "control/type_library.hpp"
#include "support/temp_folder.hpp"

namespace vintrel {
namespace {

using namespace dispatch_rig;

std::string hex_id(DispId id) {
  char text[16];
  std::snprintf(text, sizeof text, "[id(0x%08x)", static_cast<unsigned>(id));
  return text;
}

// The IDL's lines that declare identifier `id`.
std::vector<std::string> lines_of(const std::string& idl, DispId id) {
  std::vector<std::string> found;
  const std::string key = hex_id(id);
  for (std::size_t at = idl.find(key); at != std::string::npos; at = idl.find(key, at + 1))
    found.push_back(idl.substr(at, idl.find('\n', at) - at));
  return found;
}

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(TypeLibraryIdl, DeclaresEveryMemberWithItsIdentifierAndKind) {
  const std::string idl = control::typelib::idl();
  const std::size_t methods_at = idl.find("    methods:");
  ASSERT_NE(methods_at, std::string::npos);
  for (const auto& row : interface_rows) {
    const auto lines = lines_of(idl, id_of(row));
    const std::string name(row.name);
    switch (row.is) {
      case Is::member:
        // A data member is a property of the dispinterface, before its methods.
        ASSERT_EQ(lines.size(), 1u) << name;
        EXPECT_LT(idl.find(lines[0]), methods_at) << name;
        EXPECT_NE(lines[0].find(" " + name + ";"), std::string::npos) << lines[0];
        break;
      case Is::method: {
        ASSERT_EQ(lines.size(), 1u) << name;
        EXPECT_NE(lines[0].find(" " + name + "("), std::string::npos) << lines[0];
        // One "[in" a parameter: the by-reference ones are [in, out].
        EXPECT_EQ(count_of(lines[0], "[in"), static_cast<std::size_t>(row.parameters)) << lines[0];
        break;
      }
      case Is::reader:
        ASSERT_EQ(lines.size(), 1u) << name;
        EXPECT_NE(lines[0].find(", propget] "), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find(" " + name + "();"), std::string::npos) << lines[0];
        break;
      case Is::property:
        // Read and written: a getter and a putter under one identifier.
        ASSERT_EQ(lines.size(), 2u) << name;
        EXPECT_NE(lines[0].find(", propget] "), std::string::npos) << lines[0];
        EXPECT_NE(lines[1].find(", propput] void " + name + "([in] BSTR vData);"), std::string::npos) << lines[1];
        break;
    }
  }
  // Nothing declared that the table does not have: one line per member,
  // two for the property that is also written, and three events.
  EXPECT_EQ(count_of(idl, "[id("), std::size(interface_rows) + 1 + 3);
  EXPECT_NE(idl.find("[in, out] VARIANT* fntemp"), std::string::npos);
}

TEST(TypeLibraryIdl, NamesTheLibraryEventsAndClassesWithTheirIdentifiers) {
  const std::string idl = control::typelib::idl();
  EXPECT_NE(idl.find("uuid(DEA46A7F-7C3D-4EBE-8A45-CBEC16A43765),\n  version(446.0)"), std::string::npos);
  EXPECT_NE(idl.find("library Vintrel\n"), std::string::npos);
  EXPECT_NE(idl.find("[uuid(7BF1047D-ABE1-4689-A7C8-C1F4681B48CB), hidden]\n  dispinterface _UserControl1 {"),
            std::string::npos);
  EXPECT_NE(idl.find("[uuid(C29C0A3C-49E0-4FEE-8F2F-3F143AD31BEC), hidden]\n  dispinterface __UserControl1 {"),
            std::string::npos);
  EXPECT_NE(idl.find("[id(0x00000001)] void OnStatusChange([in] BSTR Text);"), std::string::npos);
  EXPECT_NE(idl.find("[id(0x00000002)] void OnFileComplete([in] BSTR Text);"), std::string::npos);
  EXPECT_NE(idl.find("[id(0x00000003)] void OnTransferComplete();"), std::string::npos);
  // The control's class names its events as its default source.
  const std::size_t control =
      idl.find("[uuid(C14EF994-D5AA-417A-84B1-46DCB9ECAC02), control]\n  coclass UserControl1 {");
  ASSERT_NE(control, std::string::npos);
  EXPECT_NE(idl.find("[default, source] dispinterface __UserControl1;", control), std::string::npos);
  EXPECT_NE(idl.find("[uuid(D20E73FB-C194-4BDE-A7BF-B4464310C434)]\n  coclass remoteServerLoc {"), std::string::npos);
}

TEST(TypeLibraryIdl, CompilesWithWidl) {
  const char* widl = "/usr/bin/x86_64-w64-mingw32-widl";
  const char* stdole = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
  if (!std::filesystem::exists(widl) || !std::filesystem::exists(std::string(stdole) + "/stdole2.tlb"))
    GTEST_SKIP() << "mingw-w64-tools' widl or Wine's stdole2.tlb is not installed";
  testing::TempFolder folder;
  testing::write_file(folder.file("Vintrel.idl"), control::typelib::idl());
  const std::string command = std::string(widl) + " -t -L " + stdole + " -o " + folder.file("Vintrel.tlb") + " " +
                              folder.file("Vintrel.idl") + " >" + folder.file("widl.out") + " 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << testing::read_file(folder.file("widl.out"));
  // A type library starts with its signature, "MSFT".
  EXPECT_EQ(testing::read_file(folder.file("Vintrel.tlb")).substr(0, 4), "MSFT");
}

}  // namespace
}  // namespace vintrel
