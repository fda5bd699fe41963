#pragma once
// The commands of the `vintrel` program ("vintrel get ...", later "vintrel
// host", "vintrel serve"): each one registers itself as a subcommand of the
// program's parser and says how to run once the command line is parsed.

#include <functional>

#include <CLI/CLI.hpp>

namespace vintrel::apps {

struct Command {
  /// The subcommand; it was chosen when it has been parsed.
  CLI::App* app = nullptr;
  /// Runs the command and returns the exit status. Throws CLI::ParseError
  /// (CLI::ValidationError) for a usage mistake the parser could not see,
  /// before it has done anything.
  std::function<int()> run;
};

/// `vintrel get [options] URL...`.
Command add_get_command(CLI::App& program);

/// `vintrel host [options]`: JSON lines on standard input and output.
Command add_host_command(CLI::App& program);

/// `vintrel serve [options]`: web pages drive controls over WebSocket.
Command add_serve_command(CLI::App& program);

}  // namespace vintrel::apps
