#pragma once
// A session on the scripted platform with the test as its peer: requests go
// in line by line, and every line that comes out is kept and answered.

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
#include "host/values.hpp"
#include "support/control_bytes.hpp"
#include "support/errors.hpp"
#include "support/fake_platform.hpp"
#include "support/temp_folder.hpp"

namespace vintrel::session_rig {

using host::Json;
using Strings = std::vector<std::string>;

inline std::string ok(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

struct HostSession : ::testing::Test {
  testing::TempFolder dir;
  testing::FakePlatform platform;
  std::vector<Json> lines;
  /// Plays the peer's side: sees every line as it goes out.
  std::function<void(const Json&)> peer;
  host::Session session{platform, [this](const std::string& line) {
                          lines.push_back(Json::parse(line));
                          if (peer) peer(lines.back());
                        }};

  /// Sends a request and returns its answer.
  Json ask(Json request) {
    request["id"] = ++last_id;
    session.handle(request.dump());
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
      if (it->contains("id") && (*it)["id"] == last_id) return *it;
    ADD_FAILURE() << "no answer to " << request.dump();
    return {};
  }
  Json result(Json request) {
    const Json answer = ask(request);
    EXPECT_FALSE(answer.contains("error")) << answer.dump();
    return answer.value("result", Json());
  }
  std::int32_t error(Json request) {
    const Json answer = ask(request);
    EXPECT_TRUE(answer.contains("error")) << answer.dump();
    return answer.contains("error") ? answer["error"]["number"].get<std::int32_t>() : 0;
  }
  Json get(const std::string& path) { return result({{"op", "get"}, {"path", path}}); }
  void call(const std::string& name, Json args = Json::array()) {
    result({{"op", "call"}, {"name", name}, {"args", args}});
  }

  /// The peer answers the next folder dialog with `folder` from the loop,
  /// as a line read while StartQueue waits.
  void answer_dialog_with(const std::string& folder) {
    peer = [this, folder](const Json& line) {
      if (line.value("event", "") != "FolderDialog") return;
      platform.post([this, folder] { session.handle(Json{{"id", "f"}, {"op", "folder"}, {"folder", folder}}.dump()); });
    };
  }
  void start(const std::vector<std::string>& urls) {
    for (const auto& url : urls) call("AddFile", {url});
    answer_dialog_with(dir.path().string());
    call("StartQueue");
  }

  /// The events sent so far, as "name:argument".
  Strings events() const {
    Strings out;
    for (const auto& line : lines) {
      if (!line.contains("event")) continue;
      std::string text = line["event"].get<std::string>();
      if (line.contains("args") && !line["args"].empty()) text += ":" + line["args"][0].get<std::string>();
      out.push_back(text);
    }
    return out;
  }

  testing::FakeSocketArray& winsock() { return platform.array(0); }
  testing::FakeSocketArray& pings() { return platform.array(1); }
  void tick() { platform.timer().tick(); }

  int last_id = 0;
};

}  // namespace vintrel::session_rig
