// Lines of the scripting protocol as a peer might send them: malformed,
// deeply nested, huge numbers, wrong types. Every line gets its answer as
// one JSON object, whatever it held; nothing crashes. The lines are played
// by fuzz/host_lines.hpp, which the session tests replay the seeds with.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz/host_lines.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (const auto broken = vintrel::testing::play_host_lines(input)) {
    std::fprintf(stderr, "INVARIANT BROKEN: %s\n", broken->c_str());
    std::abort();
  }
  return 0;
}
