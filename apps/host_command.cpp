// `vintrel host`: the scripting protocol over standard input and output, so
// that a program in any language drives a control through a pipe.

#include <iostream>
#include <memory>
#include <string>

#include "apps/command.hpp"
#include "apps/folder_option.hpp"
#include "apps/network_options.hpp"
#include "control/dispatch.hpp"
#include "host/session.hpp"
#include "platform/console.hpp"
#include "platform/event_loop.hpp"
#include "platform/folder_dialogs.hpp"
#include "platform/line_reader.hpp"

namespace vintrel::apps {

namespace {

struct HostOptions {
  std::string dialog = "peer";
  std::string directory;
  int tick_interval = 1000;
  bool eager = false;
  bool no_open = false;
  platform::TlsOptions tls;
  platform::ProxyOptions proxy;
  RequestHeaderOptions added_headers;
  std::int32_t max_rate = 0;
};

int run_host(const HostOptions& options) {
  platform::EventLoop loop;
  std::unique_ptr<platform::FolderDialog> dialog;
  if (!options.directory.empty()) {
    // As with `vintrel get -d`: made when missing, and absolute, since the
    // control names every file after it.
    const GivenFolder folder = given_folder(options.directory);
    if (!folder.usable) {
      std::cerr << "vintrel host: cannot use the folder " << folder.shown
                << (folder.reason.empty() ? "" : ": " + folder.reason) << '\n';
      return 1;
    }
    dialog = std::make_unique<platform::FixedFolderDialog>(loop, folder.path);
  } else if (options.dialog == "interactive") {
    // Standard input carries the requests, so the terminal prompt cannot
    // have it: only the desktop's chooser can ask the user.
    dialog = platform::make_desktop_folder_dialog(loop);
    if (!dialog)
      throw CLI::ValidationError("--dialog interactive",
                                 "needs a display and zenity; answer the dialog with \"folder\" requests "
                                 "(--dialog peer) or give the folder with -d DIR");
  }

  const auto platform = make_platform(loop, options.tls, options.proxy, "vintrel host");
  platform::AsioPlatform& machine = *platform;
  host::SessionOptions session_options;
  session_options.dialog = dialog.get();
  session_options.allow_open = !options.no_open;
  session_options.tick_interval = options.tick_interval;
  session_options.eager_ticks = options.eager;
  session_options.extra_header_lines = request_header_lines(options.added_headers);
  session_options.max_rate = options.max_rate;
  host::Session session(
      machine, [](const std::string& line) { std::cout << line << std::endl; }, session_options);

  // The loop ends once the peer is done (end of input or "quit") and the
  // request in hand, perhaps waiting inside the loop, has been answered.
  bool input_ended = false;
  const auto end_when_done = [&] {
    if ((input_ended || session.closed()) && !session.busy()) loop.stop();
  };
  platform::LineReader reader(
      loop, 0,
      [&](const std::string& line) {
        session.handle(line);
        end_when_done();
      },
      [&] {
        input_ended = true;
        session.close();
        end_when_done();
      });
  int interrupted = 0;
  const platform::InterruptHandler interrupts(loop, [&](int signal) {
    interrupted = signal;
    loop.stop();
  });
  reader.start();
  loop.run();
  reader.stop();
  return interrupted != 0 ? 128 + interrupted : 0;
}

}  // namespace

Command add_host_command(CLI::App& program) {
  auto options = std::make_shared<HostOptions>();
  CLI::App* host = program.add_subcommand("host", "Drive a control with JSON lines on standard input and output");
  host->footer(
      "One JSON request a line on standard input; one answer a line on standard\n"
      "output, with the control's events as lines of their own in between.\n"
      "End of input or {\"op\":\"quit\"} ends the host. The README describes the\n"
      "protocol.\n\n"
      "Example:\n"
      "  echo '{\"id\":1,\"op\":\"get\",\"name\":\"dTotalFiles\"}' | vintrel host");
  auto* dialog = host->add_option("--dialog", options->dialog,
                                  "Who answers the folder dialog: the peer with \"folder\" requests, "
                                  "or the desktop's chooser")
                     ->check(CLI::IsMember({"peer", "interactive"}))
                     ->type_name("MODE")
                     ->capture_default_str();
  host->add_option("-d,--directory", options->directory, "Answer the folder dialog with DIR (created when missing)")
      ->type_name("DIR")
      ->excludes(dialog);
  host->add_flag("--no-open", options->no_open, "Refuse ExecFile and OpenIt, which start programs");
  host->add_option("--tick-interval", options->tick_interval, "Milliseconds between the control's progress ticks")
      ->type_name("MS")
      ->check(CLI::Range(1, 60000))
      ->capture_default_str()
      ->group("Advanced");
  host->add_flag("--eager", options->eager,
                 "Run a file's next step at once when it is due (connected, completed) instead of on the next tick");
  add_tls_options(*host, options->tls);
  add_proxy_options(*host, options->proxy);
  add_request_header_options(*host, options->added_headers);
  add_rate_option(*host, options->max_rate,
                  "Take at most RATE bytes per second (500k, 2M: powers of 1024) until the peer sets maxRate; 0 for "
                  "no cap");
  return {host, [options] { return run_host(*options); }};
}

}  // namespace vintrel::apps
