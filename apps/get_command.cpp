#include <memory>
#include <string>
#include <vector>

#include "apps/command.hpp"
#include "apps/download_url.hpp"
#include "apps/get_session.hpp"
#include "apps/tls_options.hpp"

namespace vintrel::apps {

namespace {

// The control queues at most 100 files, and every start of a file takes one
// probe slot per server out of 100 for the control's whole life.
constexpr std::size_t max_files = 100;
constexpr std::size_t max_servers = 100;

struct GetCommandLine {
  GetOptions options;
  std::vector<std::string> url_words;
  std::vector<std::string> mirror_words;
  CLI::Option* urls = nullptr;
  CLI::Option* mirrors = nullptr;
};

void check_url(const std::string& url, const std::string& what) {
  std::string why;
  if (!parse_download_url(url, why)) throw CLI::ValidationError(what + " " + url, why);
}

// "-m URL" belongs to the URL just before it, so the order of the words on
// the command line matters, which the parsed values alone do not keep.
std::vector<FileRequest> files_in_order(const CLI::App& command, const GetCommandLine& line) {
  std::vector<FileRequest> files;
  std::size_t url = 0;
  std::size_t mirror = 0;
  for (const CLI::Option* option : command.parse_order()) {
    if (option == line.urls) {
      files.push_back({line.urls->results().at(url++), {}});
    } else if (option == line.mirrors) {
      const std::string& text = line.mirrors->results().at(mirror++);
      if (files.empty()) throw CLI::ValidationError("--mirror " + text, "a mirror follows the URL it mirrors");
      files.back().mirrors.push_back(text);
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
      "just before it; the fastest of them is used. Partial files are resumed.\n"
      "Exit status: 0 all files done, 1 some failed, 2 bad usage, 130 interrupted.\n\n"
      "Example:\n"
      "  vintrel get -d ~/Downloads http://example.org/a.iso -m http://mirror.example.net/a.iso");

  line->urls = get->add_option("URL", line->url_words, "http:// or https:// address of a file to download (at most 100)")
                   ->type_name("")
                   ->required();
  get->add_option("-d,--directory", o.directory,
                  "Save into DIR (created when missing) instead of asking for a folder")
      ->type_name("DIR");
  line->mirrors = get->add_option("-m,--mirror", line->mirror_words, "Another server for the URL just before it")
                      ->type_name("URL")
                      ->allow_extra_args(false);
  get->add_option("--referer", o.referer, "Page address sent as \"Referer:\"")->type_name("URL");
  get->add_option("--cookie", o.cookie, "Cookie text sent as \"Cookie:\"")->type_name("TEXT");
  get->add_option("--title", o.title, "Title of the folder dialog")->type_name("TEXT");
  get->add_flag("-q,--quiet", o.quiet, "Print only failures and the summary");
  get->add_option("--tries", o.tries,
                  "Give a file up after N connection attempts in a row that bring no byte")
      ->type_name("N")
      ->check(CLI::Range(1, 10000))
      ->capture_default_str();
  get->add_option("--tick-interval", o.tick_interval, "Milliseconds between the control's progress ticks")
      ->type_name("MS")
      ->check(CLI::Range(1, 60000))
      ->capture_default_str()
      ->group("Advanced");
  get->add_option("--timeout", o.timeout,
                  "Seconds a connection may take to come up, or stay silent once asked (no answer, a stalled body)")
      ->type_name("SECONDS")
      ->check(CLI::Range(1, 86400))
      ->capture_default_str();
  add_tls_options(*get, o.tls);

  return {get, [get, line] {
            GetOptions options = line->options;
            options.files = files_in_order(*get, *line);
            if (options.files.size() > max_files)
              throw CLI::ValidationError("URL", "at most " + std::to_string(max_files) + " files per run");
            std::size_t servers = 0;
            for (const FileRequest& file : options.files) {
              check_url(file.url, "URL");
              for (const std::string& mirror : file.mirrors) check_url(mirror, "--mirror");
              // File 1 is started once with its first server alone before
              // its mirrors join it.
              servers += 1 + file.mirrors.size() + (&file == &options.files.front() && !file.mirrors.empty());
            }
            if (servers > max_servers)
              throw CLI::ValidationError("--mirror", "at most " + std::to_string(max_servers) +
                                                         " servers in all, mirrors included");
            return run_get(options);
          }};
}

}  // namespace vintrel::apps
