// Writes the type library's IDL into the file named by the one argument;
// the build runs it (under Wine when cross-compiling) before widl.

#include <cstdio>
#include <fstream>

#include "control/type_library.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vintrel_idl OUTPUT.idl\n");
    return 2;
  }
  std::ofstream out(argv[1], std::ios::binary);
  out << vintrel::control::typelib::idl();
  out.close();
  if (!out) {
    std::fprintf(stderr, "vintrel_idl: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
