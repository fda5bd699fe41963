// `vintrel serve`: a web page drives the control. The page talks to this
// server over a WebSocket on 127.0.0.1, one control per connection, with the
// same JSON messages as `vintrel host`.

#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "apps/command.hpp"
#include "apps/folder_option.hpp"
#include "apps/network_options.hpp"
#include "platform/console.hpp"
#include "platform/event_loop.hpp"
#include "platform/folder_dialogs.hpp"
#include "platform/platform.hpp"
#include "web/control_channel.hpp"
#include "web/security.hpp"
#include "web/server.hpp"

namespace vintrel::apps {

namespace {

struct ServeOptions {
  int port = 8446;
  std::vector<std::string> allowed_origins;
  std::string directory;
  bool allow_open = false;
  int tick_interval = 1000;
  bool eager = false;
  platform::TlsOptions tls;
  platform::ProxyOptions proxy;
  RequestHeaderOptions added_headers;
  std::int32_t max_rate = 0;
};

// The folder the user gave, as the control names files after it: absolute,
// created when missing, without a trailing slash.
std::string prepare_folder(const std::string& directory) {
  const GivenFolder folder = given_folder(directory);
  if (!folder.usable)
    throw CLI::ValidationError("-d " + directory,
                               "cannot use the folder" + (folder.reason.empty() ? "" : ": " + folder.reason));
  return folder.path;
}

int run_serve(const ServeOptions& options) {
  std::vector<std::string> origins;
  for (const auto& text : options.allowed_origins) {
    const auto origin = web::normalize_origin(text);
    if (!origin) throw CLI::ValidationError("--allow-origin " + text, "an origin is http[s]://host[:port]");
    origins.push_back(*origin);
  }
  platform::EventLoop loop;
  // The folder is chosen on this machine, never by the page: the user's
  // chooser or prompt, or the folder given here.
  std::unique_ptr<platform::FolderDialog> dialog;
  const std::string folder = options.directory.empty() ? std::string() : prepare_folder(options.directory);
  if (!folder.empty())
    dialog = std::make_unique<platform::FixedFolderDialog>(loop, folder);
  else
    dialog = platform::make_interactive_folder_dialog(loop);
  if (!dialog)
    throw CLI::ValidationError("-d", "no display and no terminal to ask for the download folder; give it with -d DIR");

  const auto platform = make_platform(loop, options.tls, options.proxy, "vintrel serve");
  platform::AsioPlatform& machine = *platform;
  web::ControlChannelOptions channel_options;
  channel_options.dialog = dialog.get();
  channel_options.allow_open = options.allow_open;
  channel_options.tick_interval = options.tick_interval;
  channel_options.eager_ticks = options.eager;
  channel_options.extra_header_lines = request_header_lines(options.added_headers);
  channel_options.max_rate = options.max_rate;
  channel_options.loop = &loop;
  channel_options.folder = folder;

  web::ServerOptions server_options;
  server_options.port = static_cast<std::uint16_t>(options.port);
  server_options.allowed_origins = origins;
  server_options.log = [](const std::string& line) { std::cerr << "vintrel serve: " << line << '\n' << std::flush; };
  std::unique_ptr<web::Server> server;
  try {
    server = std::make_unique<web::Server>(loop, server_options, [&](const web::Peer& peer, web::Outlet outlet) {
      return web::make_control_channel(machine, std::move(outlet), channel_options, peer.session);
    });
  } catch (const std::system_error& error) {
    std::cerr << "vintrel serve: " << error.what() << '\n';
    return 1;
  }

  std::cout << "Vintrel is serving on " << server->origin() << "/\n"
            << "Open " << server->origin() << "/ in a browser to download files.\n"
            << "Token for pages of other origins: " << server->token() << '\n';
  for (const auto& origin : origins) std::cout << "Pages of " << origin << " may connect.\n";
  std::cout << "Files are saved "
            << (folder.empty() ? "where you choose when a page starts its queue." : "into " + folder + ".")
            << "\nPress Ctrl-C to stop.\n"
            << std::flush;

  const platform::InterruptHandler interrupts(loop, [&](int) { loop.stop(); });
  loop.run();
  server.reset();
  std::cout << "Stopped.\n";
  return 0;
}

}  // namespace

Command add_serve_command(CLI::App& program) {
  auto options = std::make_shared<ServeOptions>();
  CLI::App* serve = program.add_subcommand("serve", "Let web pages drive the control through a local server");
  serve->footer(
      "Serves a download page and the client library /vintrel.js on 127.0.0.1 only.\n"
      "A page connects with the token printed at start (the server's own pages carry\n"
      "it); only the server's own origin and those given with --allow-origin may.\n"
      "Each origin may hold 16 controls; a newer one replaces the oldest idle one.\n"
      "Downloads go on when their page closes; the page takes them back when it\n"
      "comes back, and a control nobody comes back for is dropped 10 minutes after\n"
      "it has ended.\n\n"
      "Example:\n"
      "  vintrel serve -d ~/Downloads --allow-origin http://localhost:3000");
  serve->add_option("-p,--port", options->port, "Port on 127.0.0.1 (0 picks a free one)")
      ->type_name("PORT")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  serve->add_option("--allow-origin", options->allowed_origins, "Let pages of ORIGIN connect too (repeatable)")
      ->type_name("ORIGIN")
      ->allow_extra_args(false);
  serve
      ->add_option("-d,--directory", options->directory,
                   "Save into DIR (created when missing) instead of asking for a folder")
      ->type_name("DIR");
  serve->add_flag("--allow-open", options->allow_open,
                  "Let pages call ExecFile and OpenIt, which open files with programs of this machine");
  serve->add_option("--tick-interval", options->tick_interval, "Milliseconds between the control's progress ticks")
      ->type_name("MS")
      ->check(CLI::Range(10, 60000))
      ->capture_default_str();
  serve->add_flag("--eager", options->eager,
                  "Run a file's next step at once when it is due (connected, completed) instead of on the next tick");
  add_tls_options(*serve, options->tls);
  add_proxy_options(*serve, options->proxy);
  add_request_header_options(*serve, options->added_headers);
  add_rate_option(*serve, options->max_rate,
                  "Each page's downloads take at most RATE bytes per second (500k, 2M: powers of 1024) unless the "
                  "page sets its own; 0 for no cap");
  return Command{serve, [options] { return run_serve(*options); }};
}

}  // namespace vintrel::apps
