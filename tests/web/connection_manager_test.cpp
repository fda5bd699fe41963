// The server's lists and their rules without a socket: who makes room for
// whom, who takes a kept control back, what an origin learns of its
// controls, and when a control whose page left is let go.

#include "web/connection_manager.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vintrel::testing {
namespace {

using web::Channel;
using web::ConnectionManager;
using web::PageConnection;
using web::Peer;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct FakeChannel final : Channel {
  explicit FakeChannel(bool is_idle = true, std::string text = "{}") : busy(!is_idle), summary_text(std::move(text)) {}
  void receive(std::string_view) override {}
  void peer_gone() override { gone = true; }
  bool finished() const override { return quit; }
  bool idle() const override { return !busy; }
  std::string summary() override { return summary_text; }

  bool busy = false;
  bool quit = false;
  bool gone = false;
  std::string summary_text;
};

struct FakePage final : PageConnection {
  FakePage(std::uint64_t number, std::string origin, std::string session, bool is_idle = true, bool counts = true)
      : number_(number), peer_{"127.0.0.1:1", std::move(origin), std::move(session)}, idle_(is_idle), counts_(counts) {}
  std::uint64_t id() const override { return number_; }
  const Peer& peer() const override { return peer_; }
  bool counted() const override { return counts_; }
  bool idle() const override { return idle_; }
  void give_up() override { given_up = true; }
  void surrender() override { surrendered = true; }
  void shut() override { was_shut = true; }

  bool given_up = false;
  bool surrendered = false;
  bool was_shut = false;

 private:
  std::uint64_t number_;
  Peer peer_;
  bool idle_;
  bool counts_;
};

const std::string a = "http://a.example";
const std::string b = "http://b.example";

// A control of `origin` whose page left, opened as connection `order`.
std::shared_ptr<FakeChannel> keep_left(ConnectionManager& manager, std::uint64_t order, const std::string& origin,
                                       const std::string& session, bool is_idle) {
  auto channel = std::make_shared<FakeChannel>(is_idle);
  manager.keep(channel, std::make_shared<FakePage>(order, origin, session));
  return channel;
}

struct PageRow {
  std::string origin;
  bool idle = true;
  bool counted = true;
};
struct LeftRow {
  std::string session;
  std::uint64_t order = 0;
  std::string origin;
  bool idle = true;
};

TEST(ConnectionManager, MakesRoomByDroppingTheOldestIdleLeftControlElseGivingUpTheOldestIdlePage) {
  struct Case {
    const char* name;
    std::size_t cap;
    std::vector<PageRow> pages;
    std::vector<LeftRow> left;
    bool room;
    int given_up;  // index into pages, -1 for none
    int dropped;   // index into left, -1 for none
  };
  const Case cases[] = {
      {"under the cap", 2, {{a}}, {}, true, -1, -1},
      {"other origins take none of its room", 1, {{b}}, {{"s", 50, b}}, true, -1, -1},
      {"refused or ended connections take no room", 1, {{a, true, false}}, {}, true, -1, -1},
      {"the oldest idle page goes", 2, {{a, false}, {a}, {a}}, {}, true, 1, -1},
      {"a left control goes before any page", 2, {{a}}, {{"s", 1, a}}, true, -1, 0},
      {"the oldest left control goes, by opening", 2, {}, {{"b", 7, a}, {"c", 3, a}}, true, -1, 1},
      {"a busy left control counts but stays", 2, {{a}}, {{"s", 1, a, false}}, true, 0, -1},
      {"nothing idle: refused", 2, {{a, false}}, {{"s", 1, a, false}}, false, -1, -1},
  };
  for (const auto& c : cases) {
    ConnectionManager manager(c.cap, nullptr);
    std::vector<std::shared_ptr<FakePage>> pages;
    for (const auto& row : c.pages) {
      pages.push_back(std::make_shared<FakePage>(manager.next_id(), row.origin, "", row.idle, row.counted));
      manager.add(pages.back());
    }
    std::vector<std::shared_ptr<FakeChannel>> left;
    for (const auto& row : c.left) left.push_back(keep_left(manager, row.order, row.origin, row.session, row.idle));
    EXPECT_EQ(manager.make_room(a), c.room) << c.name;
    for (std::size_t i = 0; i < pages.size(); ++i)
      EXPECT_EQ(pages[i]->given_up, static_cast<int>(i) == c.given_up) << c.name << ", page " << i;
    for (std::size_t i = 0; i < left.size(); ++i)
      EXPECT_EQ(left[i]->gone, static_cast<int>(i) == c.dropped) << c.name << ", left control " << i;
    EXPECT_EQ(manager.sessions(), left.size() - (c.dropped >= 0 ? 1 : 0)) << c.name;
  }
}

TEST(ConnectionManager, OnlyItsOwnOriginTakesAnUnfinishedControlBack) {
  struct Case {
    const char* name;
    std::string session;
    std::string origin;
    bool quit;
    bool resumes;
  };
  const Case cases[] = {
      {"same origin", "s", a, false, true},
      {"another origin with the identifier", "s", b, false, false},
      {"an unknown identifier", "t", a, false, false},
      {"a control that quit", "s", a, true, false},
  };
  for (const auto& c : cases) {
    // At the cap with nothing idle: a page coming back needs no room.
    ConnectionManager manager(1, nullptr);
    auto channel = std::make_shared<FakeChannel>(false);
    channel->quit = c.quit;
    const auto first = std::make_shared<FakePage>(manager.next_id(), a, "s", false);
    manager.add(first);
    manager.keep(channel, first);
    const auto admission = manager.admit(c.session, c.origin);
    EXPECT_EQ(admission.resuming, c.session == "s" && c.origin == a) << c.name;
    EXPECT_EQ(admission.room, admission.resuming || c.origin != a) << c.name;

    const auto back = std::make_shared<FakePage>(manager.next_id(), c.origin, c.session);
    EXPECT_EQ(manager.resume(back) == channel, c.resumes) << c.name;
    EXPECT_EQ(first->surrendered, c.resumes) << c.name;
  }
}

TEST(ConnectionManager, AnOriginSeesItsOtherUnfinishedControlsInOpeningOrder) {
  ConnectionManager manager(16, nullptr);
  const auto attached = std::make_shared<FakePage>(9, a, "zz");
  manager.keep(std::make_shared<FakeChannel>(true, R"({"n":9})"), attached);
  keep_left(manager, 2, a, "yy", true)->summary_text = R"({"n":2})";
  keep_left(manager, 5, a, "mine", true);
  keep_left(manager, 1, b, "other", true);
  keep_left(manager, 3, a, "quit", true)->quit = true;
  keep_left(manager, 4, a, "broken", true)->summary_text = "not json";
  EXPECT_EQ(manager.list_sessions(a, "mine"), R"([{"n":2,"attached":false},{"n":9,"attached":true}])");
  EXPECT_EQ(manager.list_sessions("http://c.example", ""), "[]");
}

TEST(ConnectionManager, ALeftControlGoesOnceIdleForTheGracePeriod) {
  struct Step {
    bool idle;
    int at_ms;
  };
  struct Case {
    const char* name;
    bool attached;
    std::vector<Step> steps;
    bool dropped;
  };
  const Case cases[] = {
      {"idle for the whole grace", false, {{true, 0}, {true, 1000}}, true},
      {"short of it", false, {{true, 0}, {true, 999}}, false},
      {"work under way starts the wait again", false, {{true, 0}, {false, 600}, {true, 900}, {true, 1800}}, false},
      {"and it ends a grace after", false, {{true, 0}, {false, 600}, {true, 900}, {true, 1900}}, true},
      {"a page is still there", true, {{true, 0}, {true, 5000}}, false},
  };
  const auto start = Clock::now();
  for (const auto& c : cases) {
    ConnectionManager manager(16, nullptr);
    auto channel = std::make_shared<FakeChannel>();
    const auto page = std::make_shared<FakePage>(1, a, "s");
    manager.keep(channel, page);
    if (!c.attached) manager.detach("s");
    for (const auto& step : c.steps) {
      channel->busy = !step.idle;
      manager.sweep(start + milliseconds(step.at_ms), milliseconds(1000));
    }
    EXPECT_EQ(channel->gone, c.dropped) << c.name;
    EXPECT_EQ(manager.sessions(), c.dropped ? 0U : 1U) << c.name;
  }
}

// peer_gone() may set off what looks the session up again: it must be gone.
struct LookingChannel final : Channel {
  explicit LookingChannel(ConnectionManager& m) : manager(m) {}
  void receive(std::string_view) override {}
  void peer_gone() override { still_listed = manager.detach("s"); }
  ConnectionManager& manager;
  bool still_listed = true;
};

TEST(ConnectionManager, ClosingShutsEveryPageAndDropsEveryControlOffTheListFirst) {
  std::vector<std::string> log;
  ConnectionManager manager(16, [&](const std::string& line) { log.push_back(line); });
  const auto page = std::make_shared<FakePage>(manager.next_id(), a, "s");
  manager.add(page);
  auto looking = std::make_shared<LookingChannel>(manager);
  manager.keep(looking, page);
  auto left = keep_left(manager, 7, a, "t", false);
  manager.close_all();
  EXPECT_TRUE(page->was_shut);
  EXPECT_FALSE(looking->still_listed);
  EXPECT_TRUE(left->gone);
  EXPECT_EQ(manager.connections(), 0U);
  EXPECT_EQ(manager.sessions(), 0U);
  // Only the control whose page had left is worth a line.
  EXPECT_EQ(log, std::vector<std::string>{"a control whose page left was dropped: the server stops"});
}

}  // namespace
}  // namespace vintrel::testing
