#pragma once
// A served controls server with room for a few pages of one origin, for the
// tests of how it shares its controls between connections.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "support/hostile_server.hpp"
#include "web/security.hpp"
#include "web/server.hpp"
#include "web/web_client.hpp"

namespace vintrel::testing::serve_rig {

struct ServePolicy : ::testing::Test {
  static constexpr std::size_t cap = 16;
  ServedControls server{{.allowed_origins = {"http://127.0.0.1:1234"}}};
  std::vector<std::unique_ptr<PageClient>> pages;

  PageClient& open_page() {
    pages.push_back(std::make_unique<PageClient>());
    EXPECT_EQ(pages.back()->connect(server), 101);
    return *pages.back();
  }
  static bool answers(PageClient& page) { return page.request({{"op", "get"}, {"name", "CurFile"}})["result"] == 1; }
};

}  // namespace vintrel::testing::serve_rig
