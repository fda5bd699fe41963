// Lines of the scripting protocol as a peer might send them: malformed,
// deeply nested, huge numbers, wrong types. Every line gets its answer as
// one JSON object, whatever it held; nothing crashes.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/session.hpp"
#include "support/fake_platform.hpp"

using namespace vintrel;

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& line) {
  std::fprintf(stderr, "INVARIANT BROKEN: %s\n  line: %s\n", what.c_str(), line.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  testing::FakePlatform platform;
  std::vector<std::string> out;
  host::Session session(platform, [&](const std::string& line) { out.push_back(line); });

  for (int lines = 0; lines < 64 && !input.empty() && !session.closed(); ++lines) {
    const auto end = input.find('\n');
    const std::string line(input.substr(0, end));
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    out.clear();
    session.handle(line);
    for (const auto& sent : out) {
      const auto json = nlohmann::json::parse(sent, nullptr, false);
      if (json.is_discarded() || !json.is_object()) fail("sent " + sent, line);
    }
    // Ticks in between, as the loop would run them.
    platform.clock_.advance(1);
    platform.timer().tick();
    platform.run_posted();
  }
  session.close();
  return 0;
}
