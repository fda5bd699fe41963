#include <gtest/gtest.h>

#include "support/control_harness.hpp"

namespace vintrel {
namespace {

using testing::error_of;

TEST(ProgressProperties, FreshControl) {
  testing::ControlHarness h;
  auto& c = h.control;
  EXPECT_EQ(c.dErrorDesc(), "No Error");
  EXPECT_EQ(c.dErrorNumber(), "0");
  EXPECT_EQ(c.dTotalFiles(), 0);
  EXPECT_EQ(c.dCurrentFile(), "1");
  EXPECT_EQ(error_of([&] { c.dBytesTotal(); }), automation::err::subscript);
  EXPECT_EQ(error_of([&] { c.dPercentComplete(); }), automation::err::subscript);
}

TEST(ProgressProperties, PercentAndByteTexts) {
  testing::ControlHarness h;
  h.start({"http://srv/a.bin"}, "/dl");
  auto& c = h.control;
  auto& f = h.file(1);
  const auto percent = [&](double done, double total) {
    f.downloadedbytes = done;
    f.contentlength = total;
    return c.dPercentComplete();
  };
  EXPECT_EQ(percent(512, 2048), "25");
  EXPECT_EQ(percent(1, 3), "33.3333333333333");
  EXPECT_EQ(percent(1048576, 2097152), "50");
  EXPECT_EQ(percent(0, 10), "0");
  EXPECT_EQ(percent(700, 0), "0");
  EXPECT_EQ(c.dBytesTotal(), "0");
  EXPECT_EQ(percent(3000, 2000), "150");
  f.contentlength = 5368709120.0;
  EXPECT_EQ(c.dBytesTotal(), "5368709120");
  EXPECT_EQ(c.dBytesTransferred(), "3000");
  EXPECT_EQ(c.dCurrentFileName(), "/dl/a.bin");
  EXPECT_EQ(c.dTotalFiles(), 1);
}

TEST(ProgressProperties, ChosenPathCollapsesDoubleSlashes) {
  testing::ControlHarness h;
  h.control.sBuffer = "/";
  EXPECT_EQ(h.control.dChosenPath(), "/");
  h.control.sBuffer = "/a//b";
  EXPECT_EQ(h.control.dChosenPath(), "/a/b");
}

TEST(ProgressProperties, ScriptRaisedEventsPassTheirTextUnchanged) {
  testing::ControlHarness h;
  h.control.StatusChange("anything at all");
  h.control.FileComplete("/x");
  h.control.TransferComplete();
  EXPECT_EQ(h.host.events,
            (std::vector<std::string>{"OnStatusChange:anything at all", "OnFileComplete:/x", "OnTransferComplete"}));
}

}  // namespace
}  // namespace vintrel
