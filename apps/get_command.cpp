#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "apps/command.hpp"
#include "apps/download_url.hpp"
#include "apps/folder_option.hpp"
#include "apps/get_session.hpp"
#include "apps/network_options.hpp"
#include "apps/report.hpp"
#include "apps/wire_trace.hpp"
#include "http/digest.hpp"
#include "platform/console.hpp"
#include "platform/event_loop.hpp"
#include "platform/folder_dialogs.hpp"
#include "text/text.hpp"

namespace vintrel::apps {

namespace {

struct GetCommandLine {
  GetOptions options;
  std::string input_file;
  RequestHeaderOptions added_headers;
  bool steady_ticks = false;
  std::vector<std::string> url_words;
  std::vector<std::string> mirror_words;
  std::vector<std::string> checksum_words;
  CLI::Option* urls = nullptr;
  CLI::Option* mirrors = nullptr;
  CLI::Option* checksums = nullptr;
};

void check_url(const std::string& url, const std::string& what) {
  std::string why;
  if (!parse_download_url(url, why)) throw CLI::ValidationError(what + " " + text::show_controls(url), why);
}

// The page address and cookie go out as header lines of every request.
std::string header_text(const std::string& value) {
  const auto at = text::find_control(value);
  return at == std::string::npos ? std::string() : "holds a " + text::control_name(value[at]);
}

// "-m URL" and "--checksum ALGO=HEX" belong to the URL just before them, so
// the order of the words on the command line matters, which the parsed
// values alone do not keep.
std::vector<FileRequest> files_in_order(const CLI::App& command, const GetCommandLine& line) {
  std::vector<FileRequest> files;
  std::size_t url = 0;
  std::size_t mirror = 0;
  std::size_t checksum = 0;
  for (const CLI::Option* option : command.parse_order()) {
    if (option == line.urls) {
      files.push_back({line.urls->results().at(url++), {}});
    } else if (option == line.mirrors) {
      const std::string& text = line.mirrors->results().at(mirror++);
      if (files.empty()) throw CLI::ValidationError("--mirror " + text, "a mirror follows the URL it mirrors");
      files.back().mirrors.push_back(text);
    } else if (option == line.checksums) {
      const std::string& text = line.checksums->results().at(checksum++);
      if (files.empty()) throw CLI::ValidationError("--checksum " + text, "a checksum follows the URL it checks");
      if (!files.back().checksum.empty())
        throw CLI::ValidationError("--checksum " + text, "a second checksum for " + files.back().url);
      std::string why;
      if (!http::parse_checksum(text, why)) throw CLI::ValidationError("--checksum " + text, why);
      files.back().checksum = text;
    }
  }
  return files;
}

}  // namespace

Command add_get_command(CLI::App& program) {
  auto line = std::make_shared<GetCommandLine>();
  GetOptions& o = line->options;
  CLI::App* get = program.add_subcommand("get", "Download files into a folder");
  get->footer(
      "A mirror (-m URL) names another server holding the same file as the URL\n"
      "just before it; the fastest of them is used; a checksum (--checksum\n"
      "ALGO=HEX) belongs to the URL before it too. Partial files are resumed.\n"
      "Any number of files: a control takes 100, so longer lists go through\n"
      "several in turn.\n"
      "Exit status: 0 all files done, 1 some failed, 2 bad usage, 130 interrupted.\n\n"
      "Example:\n"
      "  vintrel get -d ~/Downloads http://example.org/a.iso -m http://mirror.example.net/a.iso");

  line->urls =
      get->add_option("URL", line->url_words, "http:// or https:// address of a file to download")->type_name("");
  get->add_option("-i,--input-file", line->input_file,
                  "Also download the URLs listed in FILE (- for standard input), one file a line: its URL, then "
                  "its mirrors, separated by blanks; blank lines and lines starting with # are skipped; an "
                  "indented line \"checksum=ALGO=HEX\" under a URL gives its checksum")
      ->type_name("FILE");
  get->add_option("-d,--directory", o.directory, "Save into DIR (created when missing) instead of asking for a folder")
      ->type_name("DIR");
  line->mirrors = get->add_option("-m,--mirror", line->mirror_words, "Another server for the URL just before it")
                      ->type_name("URL")
                      ->allow_extra_args(false);
  line->checksums =
      get->add_option("--checksum", line->checksum_words,
                      "The checksum of the URL just before it (sha-256, sha-512, sha-1 or md5); a file that does not "
                      "match fails and is kept as NAME.bad-checksum")
          ->type_name("ALGO=HEX")
          ->allow_extra_args(false);
  get->add_option("--referer", o.referer, "Page address sent as \"Referer:\"")
      ->type_name("URL")
      ->check(CLI::Validator(header_text, ""));
  get->add_option("--cookie", o.cookie, "Cookie text sent as \"Cookie:\"")
      ->type_name("TEXT")
      ->check(CLI::Validator(header_text, ""));
  add_request_header_options(*get, line->added_headers);
  add_rate_option(*get, o.max_rate,
                  "Take at most RATE bytes per second in all (500k, 2M: powers of 1024), shared by the files under "
                  "way; 0 for no cap");
  get->add_option("--title", o.title, "Title of the folder dialog")->type_name("TEXT");
  get->add_flag("-q,--quiet", o.quiet, "Print only failures and the summary");
  get->add_flag("-v,--verbose", o.verbose,
                "Show every request head sent (\"> \") and answer head received (\"< \") on standard error, each "
                "after a \"* \" line naming its connection; mirror probes included and marked");
  get->add_flag("-c,--continue", o.continue_foreign,
                "Resume a file already in the folder that another program left, instead of saving beside it under "
                "a free name (a part Vintrel left is always resumed)");
  get->add_option("-j,--max-concurrent", o.jobs,
                  "Download up to N files at once, each over its own connection; at most 6 connections go to one "
                  "server at a time")
      ->type_name("N")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  get->add_option("--tries", o.tries, "Give a file up after N connection attempts in a row that bring no byte")
      ->type_name("N")
      ->check(CLI::Range(1, 10000))
      ->capture_default_str();
  get->add_option("--tick-interval", o.tick_interval, "Milliseconds between the control's progress ticks")
      ->type_name("MS")
      ->check(CLI::Range(1, 60000))
      ->capture_default_str()
      ->group("Advanced");
  get->add_flag("--steady-ticks", line->steady_ticks,
                "Move files on only at the control's ticks, one a second, as a page sees it; by default a step "
                "that is due (connect, request, completion) runs at once")
      ->group("Advanced");
  get->add_option("--timeout", o.timeout,
                  "Seconds a connection may take to come up, or stay silent once asked (no answer, a stalled body)")
      ->type_name("SECONDS")
      ->check(CLI::Range(1, 86400))
      ->capture_default_str();
  add_tls_options(*get, o.tls);
  add_proxy_options(*get, o.proxy);

  return {get, [get, line] {
            GetOptions options = line->options;
            options.files = files_in_order(*get, *line);
            options.eager = !line->steady_ticks;
            options.extra_header_lines = request_header_lines(line->added_headers);
            if (!line->input_file.empty()) {
              std::vector<FileRequest> listed;
              try {
                if (line->input_file == "-") {
                  listed = read_url_list(std::cin);
                } else {
                  std::ifstream in(line->input_file);
                  if (!in) throw CLI::ValidationError("--input-file " + line->input_file, "cannot be read");
                  listed = read_url_list(in);
                }
              } catch (const UrlListError& error) {
                throw CLI::ValidationError("--input-file " + line->input_file, error.what());
              }
              options.files.insert(options.files.end(), listed.begin(), listed.end());
            }
            if (options.files.empty()) throw CLI::RequiredError("URL or --input-file");
            // A longer list runs through one control after another, but a
            // file's servers must fit one control's starts: as the first of
            // a control it is started alone once more.
            const std::size_t max_mirrors = server_starts_per_control - 2;
            for (const FileRequest& file : options.files) {
              check_url(file.url, "URL");
              for (const std::string& mirror : file.mirrors) check_url(mirror, "--mirror");
              if (file.mirrors.size() > max_mirrors)
                throw CLI::ValidationError("mirror",
                                           "at most " + std::to_string(max_mirrors) + " mirrors for " + file.url);
            }
            return run_get(options);
          }};
}

int run_get(const GetOptions& options) {
  const OutputMode mode = options.quiet              ? OutputMode::quiet
                          : platform::is_terminal(1) ? OutputMode::terminal
                                                     : OutputMode::plain;
  Report report(mode, std::cout, std::cerr, platform::terminal_columns(1));
  platform::EventLoop loop;
  const std::chrono::seconds limit(options.timeout);
  const auto machine =
      make_platform(loop, options.tls, options.proxy, "vintrel get", platform::SocketTimeouts{limit, limit});

  std::unique_ptr<platform::FolderDialog> dialog;
  std::error_code error;
  std::string preselect = std::filesystem::current_path(error).string();
  if (!options.directory.empty()) {
    // Like wget -P: the folder is made when missing, and given to the
    // control as an absolute path since it names every file after it.
    const GivenFolder folder = given_folder(options.directory);
    if (!folder.usable) {
      report.error("cannot use the folder " + folder.shown + (folder.reason.empty() ? "" : ": " + folder.reason));
      return 1;
    }
    preselect = folder.path;
    dialog = std::make_unique<platform::FixedFolderDialog>(loop, folder.path);
  } else {
    dialog = platform::make_interactive_folder_dialog(loop);
    // Nobody to ask (no desktop, input not a terminal): the current folder.
    if (!dialog) dialog = std::make_unique<platform::FixedFolderDialog>(loop, preselect);
  }
  if (options.verbose) {
    WireTrace trace(*machine, std::cerr);
    return run_get_session(options, loop, trace, report, std::move(dialog), preselect);
  }
  return run_get_session(options, loop, *machine, report, std::move(dialog), preselect);
}

}  // namespace vintrel::apps
