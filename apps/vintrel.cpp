// vintrel: until the full command line arrives, a small example host that
// hands URLs to a control, queues them into a folder and prints the records.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "control/user_control1.hpp"
#include "platform/event_loop.hpp"

namespace {

// A host that prints the control's events and answers the folder dialog
// with the folder given on the command line.
class ExampleHost final : public vintrel::platform::Container, public vintrel::platform::FolderDialog {
 public:
  explicit ExampleHost(std::string folder) : folder_(std::move(folder)) {}
  void OnStatusChange(const std::string& Text) override { std::cout << "status: " << Text << '\n'; }
  void OnFileComplete(const std::string& Text) override { std::cout << "complete: " << Text << '\n'; }
  void OnTransferComplete() override { std::cout << "all transfers complete\n"; }
  vintrel::platform::FolderDialog* folder_dialog() override { return this; }
  void show(const std::string&, const std::string&, Answer answer) override { answer(folder_); }

 private:
  std::string folder_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string folder = ".";
  std::vector<std::string> urls;
  for (int n = 1; n < argc; ++n) {
    std::string arg = argv[n];
    if (arg == "-d" && n + 1 < argc)
      folder = argv[++n];
    else
      urls.push_back(arg);
  }
  if (urls.empty()) {
    std::cerr << "usage: vintrel [-d FOLDER] URL...\n";
    return 2;
  }
  vintrel::platform::EventLoop loop;
  vintrel::platform::AsioPlatform platform(loop);
  ExampleHost host(folder);
  vintrel::control::UserControl1 control(platform, &host);
  try {
    for (const auto& url : urls) control.AddFile(url);
    control.sBuffer = folder;
    control.createRecords();
    control.addFilesToQueue();
  } catch (const vintrel::platform::AutomationError& e) {
    std::cerr << "error " << e.number() << ": " << e.description() << '\n';
  }
  for (std::int32_t n = 1; n <= control.DownloadFiles->Count(); ++n) {
    auto& record = control.DownloadFiles->Item(n);
    auto& server = record.remoteServerLocs->Item(1);
    std::cout << n << ": " << server.servName << ':' << server.PortNum << server.remoteFilePath << " -> "
              << record.localfilename << " [" << record.downloadStatus << "]\n";
  }
  return 0;
}
