#include <gtest/gtest.h>

#include "support/control_harness.hpp"

namespace vintrel {
namespace {

TEST(ShellServices, OpeningFilesGoesToTheDesktopOpenerAndReportsNothing) {
  testing::ControlHarness h;
  h.control.ExecFile("/no/such/file.zip");
  h.control.OpenIt("/tmp/a file; rm -rf ~");
  EXPECT_EQ(h.platform.opened, (std::vector<std::string>{"/no/such/file.zip", "/tmp/a file; rm -rf ~"}));
  EXPECT_TRUE(h.host.events.empty());
}

TEST(ShellServices, DialogSettingsAreStoredAndTheCallbackDoesNothing) {
  testing::ControlHarness h;
  h.control.SetDirectory("/not/checked");
  h.control.SetDLText("Pick a folder");
  EXPECT_EQ(h.control.dldirectory, "/not/checked");
  EXPECT_EQ(h.control.dlBrowseTitle, "Pick a folder");
  EXPECT_EQ(h.control.BrowseCallbackProcStr(1, 1, 0, 0), 0);
  EXPECT_EQ(h.control.BrowseCallbackProcStr(1, 2, 0, 0), 0);
}

TEST(ShellServices, HostWithoutDialogCountsAsCancelled) {
  struct Bare final : platform::Container {
    void OnStatusChange(const std::string&) override {}
    void OnFileComplete(const std::string&) override {}
    void OnTransferComplete() override {}
  } bare;
  testing::ControlHarness h;
  h.control.set_container(&bare);
  h.control.sBuffer = "/kept";
  h.control.AddFile("http://srv/a");
  h.control.StartQueue();
  EXPECT_EQ(h.control.sBuffer, "/kept");
  EXPECT_EQ(h.control.totalFiles, 1);
}

}  // namespace
}  // namespace vintrel
