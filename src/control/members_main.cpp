// Writes the member reference into the file named by the one argument; the
// build runs it, and the docs test compares the result with doc/members.md.

#include <cstdio>
#include <fstream>

#include "control/type_library.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vintrel_members OUTPUT.md\n");
    return 2;
  }
  std::ofstream out(argv[1], std::ios::binary);
  out << vintrel::control::typelib::reference();
  out.close();
  if (!out) {
    std::fprintf(stderr, "vintrel_members: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
