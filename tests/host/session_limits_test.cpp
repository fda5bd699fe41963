// The scripting protocol against what a peer may send: nesting beyond the
// limit, the fuzzer's seeds replayed, and the session's options.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "control/dispatch.hpp"
#include "control/type_library.hpp"
#include "fuzz/host_lines.hpp"
#include "host/session.hpp"
#include "host/session_rig.hpp"
#include "host/values.hpp"
#include "support/errors.hpp"
#include "support/fake_platform.hpp"
#include "support/temp_folder.hpp"

namespace vintrel {
namespace {

using namespace session_rig;

// ---- Nesting a peer controls ------------------------------------------------

// `levels` arrays, one inside the other, around `inner`.
std::string nested_arrays(std::size_t levels, const std::string& inner = "") {
  return std::string(levels, '[') + inner + std::string(levels, ']');
}

TEST_F(HostSession, DeepNestingIsRefusedWhileReadingAndTheSessionGoesOn) {
  const std::string deep = nested_arrays(100000);
  std::string deep_objects;
  for (int k = 0; k < 100000; ++k) deep_objects += "{\"a\":";
  deep_objects += "1" + std::string(100000, '}');
  const std::vector<std::pair<const char*, std::string>> shapes{
      {"id", R"({"op":"get","name":"CurFile","id":)" + deep + "}"},
      {"id of objects", R"({"op":"get","name":"CurFile","id":)" + deep_objects + "}"},
      {"args", R"({"id":7,"op":"call","name":"AddFile","args":[)" + deep + "]}"},
      {"load bag", R"({"id":8,"op":"load","bag":{"URL":)" + deep + "}}"},
      {"the line itself", deep},
  };
  for (const auto& [where, line] : shapes) {
    session.handle(line);
    const Json answer = lines.back();
    EXPECT_EQ(answer["id"], nullptr) << where;
    EXPECT_EQ(answer["error"]["number"], host::protocol_error::malformed) << where;
    EXPECT_EQ(answer["error"]["source"], "Vintrel.Host") << where;
    EXPECT_EQ(answer["error"]["description"], "JSON nested deeper than 64 levels") << where;
    // The next line is answered as usual.
    EXPECT_EQ(result({{"op", "get"}, {"name", "CurFile"}}), 1) << where;
  }
  // Nothing of the refused load reached the control.
  EXPECT_EQ(result({{"op", "save"}}), (Json{{"URL", ""}}));
}

TEST_F(HostSession, SixtyFourLevelsAreTheLimitCountingTheRequestItself) {
  // The request object is level 1, so its id may hold 63 levels.
  session.handle(R"({"op":"get","name":"CurFile","id":)" + nested_arrays(63) + "}");
  EXPECT_EQ(lines.back()["result"], 1);
  EXPECT_EQ(lines.back()["id"], Json::parse(nested_arrays(63)));
  session.handle(R"({"op":"get","name":"CurFile","id":)" + nested_arrays(64) + "}");
  EXPECT_EQ(lines.back()["id"], nullptr);
  EXPECT_EQ(lines.back()["error"]["number"], host::protocol_error::malformed);

  // Deep but within the limit, values the control cannot take are its own
  // type mismatches, answered with the id.
  session.handle(R"({"id":1,"op":"load","bag":{"URL":)" + nested_arrays(62) + "}}");
  EXPECT_EQ(lines.back()["error"]["number"], 13);
  EXPECT_EQ(lines.back()["id"], 1);

  EXPECT_EQ(host::parse_line(nested_arrays(64)).status, host::ParsedLine::Status::ok);
  EXPECT_EQ(host::parse_line(nested_arrays(65)).status, host::ParsedLine::Status::too_deep);
  EXPECT_EQ(host::parse_line("[1,").status, host::ParsedLine::Status::not_json);
}

// The fuzzer's seeds, crashing shapes among them, replayed in every build:
// each line is answered with one JSON object.
TEST(HostFuzzSeeds, EverySeedIsAnsweredLineByLine) {
  const auto corpus = std::filesystem::path(VINTREL_TESTS_DIR) / "fuzz/corpus/host_fuzz";
  if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  int seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::ifstream file(entry.path(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const auto broken = testing::play_host_lines(text.str());
    EXPECT_FALSE(broken) << entry.path() << ": " << *broken;
    ++seeds;
  }
  EXPECT_GE(seeds, 14);
  // The harness builds the deep shapes from a few bytes.
  EXPECT_EQ(testing::expand_line("\x01"
                                 "3\x02<\x02[\x02x\x02]\x02>"),
            "<[[[x]]]>");
}

TEST(HostSessionOptions, AllowedOpenReachesTheMachineAndTicksFollowTheInterval) {
  testing::FakePlatform platform;
  host::SessionOptions options;
  options.allow_open = true;
  options.tick_interval = 20;
  std::vector<std::string> lines;
  host::Session session(
      platform, [&](const std::string& line) { lines.push_back(line); }, options);
  session.handle(R"({"id":1,"op":"call","name":"OpenIt","args":["/tmp/x.txt"]})");
  EXPECT_EQ(lines.back(), R"({"id":1,"result":null})");
  EXPECT_EQ(platform.opened, Strings{"/tmp/x.txt"});
  EXPECT_EQ(platform.timer().interval(), 20);
}

}  // namespace
}  // namespace vintrel
