// vintrel: the command-line host of the Vintrel download control.

#include <iostream>
#include <vector>

#include <CLI/CLI.hpp>

#include "apps/command.hpp"

namespace {

// Help and version are asked for: they go to standard output, status 0.
bool asked_for_information(const CLI::ParseError& error) {
  return dynamic_cast<const CLI::CallForHelp*>(&error) || dynamic_cast<const CLI::CallForAllHelp*>(&error) ||
         dynamic_cast<const CLI::CallForVersion*>(&error) || error.get_exit_code() == 0;
}

int usage_error(const CLI::App& program, const CLI::ParseError& error) {
  // help() shows the chosen command's options, or the list of commands.
  std::cerr << "vintrel: " << error.what() << "\n\n" << program.help();
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App program("Downloads files over HTTP with the Vintrel download control.", "vintrel");
  program.set_version_flag("--version", std::string("vintrel ") + VINTREL_VERSION);
  program.require_subcommand(1);
  program.footer("Run \"vintrel COMMAND --help\" for the options of a command.");

  const std::vector<vintrel::apps::Command> commands{vintrel::apps::add_get_command(program),
                                                     vintrel::apps::add_host_command(program),
                                                     vintrel::apps::add_serve_command(program)};
  try {
    program.parse(argc, argv);
    for (const auto& command : commands)
      if (command.app->parsed()) return command.run();
    return 2;
  } catch (const CLI::ParseError& error) {
    if (asked_for_information(error)) return program.exit(error);
    return usage_error(program, error);
  }
}
