#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/surface.hpp"

namespace vintrel {
namespace {

using automation::Variant;
namespace hr = control::hr;

// A page handler: records "<dispid> <name>(<args>)" and may act meanwhile.
class RecordingSink final : public control::EventSink {
 public:
  std::vector<std::string> seen;
  std::function<void()> during;

  void Invoke(control::DispId id, std::string_view name, std::vector<Variant>& args) override {
    std::string line = std::to_string(id) + " " + std::string(name) + "(";
    for (std::size_t k = 0; k < args.size(); ++k) line += (k ? "," : "") + automation::to_bstr(args[k]);
    seen.push_back(line + ")");
    if (during) during();
  }
};

using Lines = std::vector<std::string>;

struct Events : ::testing::Test {
  testing::Surface s;
  std::shared_ptr<RecordingSink> first = std::make_shared<RecordingSink>();
  std::shared_ptr<RecordingSink> second = std::make_shared<RecordingSink>();
  std::uint32_t first_cookie = 0;
  std::uint32_t second_cookie = 0;

  Events() {
    EXPECT_EQ(s.object.Advise(first, first_cookie), hr::S_OK);
    EXPECT_EQ(s.object.Advise(second, second_cookie), hr::S_OK);
  }
};

TEST_F(Events, EveryEventReachesBothSinksByIdentifierAndName) {
  EXPECT_NE(first_cookie, 0u);
  EXPECT_NE(first_cookie, second_cookie);
  s.call("StatusChange", {Variant("Locating File")});
  s.call("FileComplete", {Variant("/dl/a.bin")});
  s.call("TransferComplete");
  const Lines expected{"1 OnStatusChange(Locating File)", "2 OnFileComplete(/dl/a.bin)", "3 OnTransferComplete()"};
  EXPECT_EQ(first->seen, expected);
  EXPECT_EQ(second->seen, expected);
  // The embedding host hears them as well.
  EXPECT_EQ(s.host.events, (Lines{"OnStatusChange:Locating File", "OnFileComplete:/dl/a.bin", "OnTransferComplete"}));
}

TEST_F(Events, EventsOfTheEngineReachTheSinks) {
  s.c.AddFile("http://srv/a.bin");
  s.host.dialog.answers.push_back("/dl");
  s.call("StartQueue");
  s.call("GotoFile", {Variant(std::int16_t{2})});
  EXPECT_EQ(first->seen, (Lines{"1 OnStatusChange(Completed All Transfers)", "3 OnTransferComplete()"}));
  EXPECT_EQ(second->seen, first->seen);
}

TEST_F(Events, AfterUnadviseOnlyTheOtherSinkHearsThem) {
  EXPECT_EQ(s.object.Unadvise(first_cookie), hr::S_OK);
  s.call("StatusChange", {Variant("Paused Queue")});
  EXPECT_TRUE(first->seen.empty());
  EXPECT_EQ(second->seen, (Lines{"1 OnStatusChange(Paused Queue)"}));
  EXPECT_EQ(s.object.Unadvise(first_cookie), hr::CONNECT_E_NOCONNECTION);
  EXPECT_EQ(s.object.Unadvise(0), hr::CONNECT_E_NOCONNECTION);
  std::uint32_t cookie = 7;
  EXPECT_EQ(s.object.Advise(nullptr, cookie), hr::E_POINTER);
  EXPECT_EQ(cookie, 7u);
}

TEST_F(Events, ASinkMayDisconnectSinksWhileAnEventRuns) {
  // The first disconnects itself and the second, which then misses this
  // event; the event goes on safely with nobody left.
  first->during = [&] {
    s.object.Unadvise(first_cookie);
    s.object.Unadvise(second_cookie);
    first.reset();  // the page dropped its handler meanwhile
  };
  std::shared_ptr<RecordingSink> keep = first;
  s.call("StatusChange", {Variant("x")});
  EXPECT_EQ(keep->seen.size(), 1u);
  EXPECT_TRUE(second->seen.empty());
  s.call("StatusChange", {Variant("y")});
  EXPECT_EQ(keep->seen.size(), 1u);
}

TEST_F(Events, ASinkAdvisedDuringAnEventHearsOnlyLaterOnes) {
  auto late = std::make_shared<RecordingSink>();
  first->during = [&] {
    std::uint32_t cookie = 0;
    s.object.Advise(late, cookie);
    first->during = nullptr;
  };
  s.call("StatusChange", {Variant("one")});
  s.call("StatusChange", {Variant("two")});
  EXPECT_EQ(late->seen, (Lines{"1 OnStatusChange(two)"}));
}

TEST_F(Events, ASinkMayCallBackIntoTheControl) {
  s.c.AddFile("http://srv/a.bin");
  s.host.dialog.answers.push_back("/dl");
  s.call("StartQueue");
  // The page moves on when told a file is complete.
  first->during = [&] {
    if (first->seen.back().rfind("2 ", 0) == 0) s.call("GotoFile", {Variant(std::int16_t{2})});
  };
  s.call("FileComplete", {Variant("/dl/a.bin")});
  EXPECT_EQ(second->seen, (Lines{"1 OnStatusChange(Completed All Transfers)", "3 OnTransferComplete()",
                                 "2 OnFileComplete(/dl/a.bin)"}));
}

TEST_F(Events, AFailingSinkNeitherSilencesTheOthersNorFailsTheControl) {
  std::vector<std::string> reported;
  s.object.events().on_listener_error([&](std::string_view event, const automation::AutomationError& e) {
    reported.push_back(std::string(event) + " " + std::to_string(e.number()));
  });
  first->during = [] { automation::raise(automation::err::subscript); };
  EXPECT_EQ(testing::error_of([&] { s.call("StatusChange", {Variant("x")}); }), 0);
  EXPECT_EQ(second->seen, (Lines{"1 OnStatusChange(x)"}));
  EXPECT_EQ(reported, (Lines{"OnStatusChange 9"}));
}

}  // namespace
}  // namespace vintrel
