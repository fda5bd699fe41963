// A server's answers on the transfer socket, as hostile as the fuzzer makes
// them, through the control's real response handling on the scripted
// platform. Whatever arrives, the control must stay inside its folder, only
// call a file complete when it holds exactly the length it was promised, and
// keep answering its properties, and never send a control byte but the
// line ends of its requests. Each connection's head, read alone by
// scan_head and read_response_head (what the control reads it with), must
// come out the same however its bytes are cut into arrivals.
//
// Input: three bytes of set-up, then what the server sends.
//   byte 0  bit 0: a part of the file is on disk before the start
//           bit 1: the server closes each connection after its bytes
//           bit 2: the connection fails (reset) after its bytes instead
//           bit 3: the clock moves a second and the timer ticks between arrivals
//   byte 1  size of the part on disk, in units of 37 bytes
//   byte 2  when not 0, every arrival is further cut into pieces of this size
// The rest is split into connections at "#NEXT#" and each connection's bytes
// into arrivals at "#|"; each connection is the answer to the request the
// control sends on its next connect.

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.hpp"
#include "control/dispatch.hpp"
#include "control/type_library.hpp"
#include "control/user_control1.hpp"
#include "fuzz/response_heads.hpp"
#include "platform/file_system.hpp"
#include "support/control_bytes.hpp"
#include "support/fake_platform.hpp"
#include "support/part_files.hpp"
#include "support/recording_container.hpp"
#include "support/temp_folder.hpp"
#include "support/user_control1_test_view.hpp"

namespace fs = std::filesystem;
using namespace vintrel;

namespace {

// What the control told its host, printed with a broken invariant.
const std::vector<std::string>* told = nullptr;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "INVARIANT BROKEN: %s\n", what.c_str());
  if (told)
    for (const auto& event : *told) std::fprintf(stderr, "  %s\n", event.c_str());
  std::abort();
}

// The parent is scanned too: the chosen folder is its only entry, so any
// write beside the chosen folder shows.
struct Folders {
  fs::path parent;
  fs::path chosen;
  Folders() {
    std::string pattern = (fs::temp_directory_path() / "vintrel-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) fail("cannot create a temporary folder");
    parent = pattern;
    chosen = parent / "dl";
  }
  ~Folders() {
    std::error_code ignored;
    fs::remove_all(parent, ignored);
  }
  // Emptied between inputs rather than made anew: folders cost more than
  // most inputs.
  void reset() {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(parent, ignored))
      if (entry.path() != chosen) fs::remove_all(entry.path(), ignored);
    for (const auto& entry : fs::directory_iterator(chosen, ignored)) fs::remove_all(entry.path(), ignored);
    fs::create_directory(chosen, ignored);
  }
};

Folders& folders() {
  static Folders f;
  return f;
}

std::string pattern_bytes(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t n = 0; n < size; ++n) s[n] = static_cast<char>('a' + n % 26);
  return s;
}

struct Run {
  testing::FakePlatform platform;
  testing::RecordingContainer host;
  control::ControlObject object{platform, &host};
  control::UserControl1& c = object.control();
  const std::string chosen = folders().chosen.string();

  Run() {
    host.dialog.post = [this](std::function<void()> fn) { platform.post(std::move(fn)); };
    told = &host.events;
  }
  ~Run() { told = nullptr; }

  testing::FakeSocketArray& winsock() { return platform.array(0); }
  void tick() {
    platform.clock_.advance(1);
    platform.timer().tick();
  }
  bool connected() { return winsock().element(1).state == platform::sck::connected; }
  // The response on file 1's connection comes in chunks.
  bool chunked() const { return control::UserControl1TestView{c}.file(1).dlTransfer.chunked; }

  void check_folder() {
    for (const auto& entry : fs::directory_iterator(folders().parent)) {
      if (entry.path() != folders().chosen) fail("written beside the chosen folder: " + entry.path().string());
    }
    for (const auto& entry : fs::directory_iterator(folders().chosen)) {
      if (!entry.is_regular_file() || entry.is_symlink()) fail("not a plain file: " + entry.path().string());
    }
    if (c.DownloadFiles->Count() < 1) return;
    const std::string& local = c.DownloadFiles->Item(1).localfilename;
    if (local.rfind(chosen + "/", 0) != 0 || local.find('/', chosen.size() + 1) != std::string::npos)
      fail("local file outside the chosen folder: " + local);
  }

  // `stream`: what came on the connection the file completed on, when its
  // body must be the bytes after the header as they came.
  void check_completed(std::string_view stream) {
    if (c.DownloadFiles->Count() < 1) return;
    const auto& F = c.DownloadFiles->Item(1);
    if (F.downloadStatus != queue::status::completed) return;
    struct stat st {};
    if (::stat(F.localfilename.c_str(), &st) != 0) fail("completed file missing: " + F.localfilename);
    if (static_cast<double>(st.st_size) != F.contentlength)
      fail("completed file of " + std::to_string(st.st_size) + " bytes, length " + std::to_string(F.contentlength));
    if (stream.empty()) return;
    const auto end = stream.find("\r\n\r\n");
    if (end == std::string_view::npos) fail("completed without a header");
    const auto body = stream.substr(end + 4, static_cast<std::size_t>(st.st_size));
    if (body.size() != static_cast<std::size_t>(st.st_size) || testing::read_file(F.localfilename) != body)
      fail("completed file differs from the body sent");
  }

  void check_properties() {
    for (const auto& member : control::typelib::members()) {
      if (member.kind == control::typelib::Kind::method) continue;
      try {
        (void)object.get(member.name);
      } catch (const automation::AutomationError& e) {
        // The progress properties read the current file's record: 9 when
        // there is none. Nothing else may fail.
        if (!(member.name.size() > 1 && member.name[0] == 'd' && e.number() == automation::err::subscript))
          fail("property " + std::string(member.name) + " failed with " + std::to_string(e.number()));
      }
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t flags = data[0];
  const std::size_t on_disk = std::size_t{data[1]} * 37;
  const std::size_t piece = data[2];

  folders().reset();
  const bool had_part = flags & 1;
  // A part the control left (with its record, which may carry a tag the
  // answers can match), or a stranger's file, which must stay as it is.
  const bool own_part = flags & 16;
  const std::string part_path = (folders().chosen / "file.bin").string();
  if (had_part && own_part)
    testing::write_part(part_path, pattern_bytes(on_disk),
                        queue::PartRecord{"http://srv/dir/file.bin", flags & 32 ? "\"a\"" : "", {}, -1, false});
  else if (had_part)
    testing::write_file(part_path, pattern_bytes(on_disk));

  {
    Run run;
    run.c.AddFile("http://srv/dir/file.bin");
    run.host.dialog.answers.push_back(run.chosen);
    run.c.StartQueue();

    const auto connections = testing::response_connections({reinterpret_cast<const char*>(data), size});
    for (std::size_t k = 0; k < connections.size(); ++k) {
      std::string sent;
      for (const auto arrival : connections[k]) sent.append(arrival);
      // Single cuts are tried at the head's first 64 offsets only: every
      // offset of every input would make each run quadratic.
      if (const auto broken = testing::grind_head(sent, connections[k], 64))
        fail("the head of connection " + std::to_string(k + 1) + " differs when " + *broken);

      auto& el = run.winsock().element(1);
      const int before = el.connects;
      for (int t = 0; t < 4 && el.connects == before; ++t) run.tick();
      if (el.connects == before) break;
      run.winsock().accept(1);
      run.tick();
      // Only a fresh file's first answer is the file byte for byte.
      const bool fresh = k == 0 && !had_part;
      std::string came;
      for (const auto arrival : connections[k]) {
        const std::size_t step = piece == 0 ? std::max<std::size_t>(arrival.size(), 1) : piece;
        for (std::size_t at = 0; at < arrival.size() && run.connected(); at += step) {
          const auto bytes = arrival.substr(at, step);
          came.append(bytes);
          run.winsock().deliver(1, bytes);
          run.check_completed(!fresh || run.chunked() ? std::string_view{} : std::string_view(came));
        }
        if (flags & 8) run.tick();
      }
      if (run.connected()) {
        if (flags & 2)
          run.winsock().peer_close(1);
        else if (flags & 4)
          run.winsock().fail(1, platform::sck_err::reset);
        run.check_completed(!fresh || run.chunked() ? std::string_view{} : std::string_view(came));
      }
      run.check_folder();
      run.check_properties();
      // A Location of the server's becomes the next request: nothing of it
      // may add a line of its own.
      if (const auto unclean = testing::unclean_request(el.sent)) fail("request sent with " + *unclean);
    }
    run.tick();
    run.check_folder();
    run.check_properties();
  }
  if (had_part && !own_part && testing::read_file(part_path) != pattern_bytes(on_disk))
    fail("a file the control did not write was written to");
  return 0;
}
