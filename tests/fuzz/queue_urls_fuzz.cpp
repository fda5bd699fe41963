// URLs as pages hand them over, one a line: queued, turned into records,
// readied and started. A URL the control cannot use may fail with the
// numbered errors script expects (9, 13, 6); nothing may crash, every
// record must name a file directly inside the chosen folder, and no request
// sent may hold a control byte but its line ends.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "automation/automation.hpp"
#include "control/user_control1.hpp"
#include "support/control_bytes.hpp"
#include "support/fake_platform.hpp"
#include "support/recording_container.hpp"

using namespace vintrel;

namespace {

constexpr const char* folder = "/nonexistent-vintrel-fuzz/dl";

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "INVARIANT BROKEN: %s\n", what.c_str());
  std::abort();
}

bool expected(const automation::AutomationError& e) {
  const auto n = e.number();
  return n == automation::err::subscript || n == automation::err::type_mismatch || n == automation::err::overflow;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  testing::FakePlatform platform;
  testing::RecordingContainer host;
  control::UserControl1 c(platform, &host);
  c.sBuffer = folder;

  int lines = 0;
  while (lines < 8) {
    const auto end = input.find('\n');
    const std::string url(input.substr(0, end));
    ++lines;

    automation::Variant text(url);
    const std::string name = automation::to_bstr(c.DeQuery(text));
    if (url.compare(0, name.size(), name) != 0 || name.find('?') != std::string::npos)
      fail("DeQuery gave " + name + " for " + url);
    c.AddFile(url);
    if (end == std::string_view::npos) break;
    input.remove_prefix(end + 1);
  }

  try {
    c.createRecords();
  } catch (const automation::AutomationError& e) {
    if (!expected(e)) fail("createRecords failed with " + std::to_string(e.number()));
  }
  for (std::int32_t n = 1; n <= c.DownloadFiles->Count(); ++n) {
    const std::string& local = c.DownloadFiles->Item(n).localfilename;
    if (local.rfind(std::string(folder) + "/", 0) != 0 ||
        local.find('/', std::string(folder).size() + 1) != std::string::npos)
      fail("record " + std::to_string(n) + " names " + local);
  }
  if (c.DownloadFiles->Count() == 0) return 0;
  try {
    c.addFilesToQueue();
    c.downloadQueue();
  } catch (const automation::AutomationError& e) {
    if (!expected(e)) fail("readying the queue failed with " + std::to_string(e.number()));
  }
  // The ticks probe and connect to whatever host and port the URL named;
  // every connection is accepted, so every request goes out.
  for (int t = 0; t < 3; ++t) {
    platform.clock_.advance(1);
    platform.timer().tick();
    for (int array = 0; array < 2; ++array) {
      auto& sockets = platform.array(array);
      for (std::int16_t n = 1; n <= 100; ++n)
        if (sockets.IsLoaded(n) && sockets.State(n) == platform::sck::connecting) sockets.accept(n);
    }
  }
  for (int array = 0; array < 2; ++array)
    for (std::int16_t n = 1; n <= 100; ++n)
      if (const auto unclean = testing::unclean_request(platform.array(array).element(n).sent))
        fail("request sent with " + *unclean);
  (void)c.dCurrentFileName();
  (void)c.dPercentComplete();
  return 0;
}
