#pragma once
// What `vintrel get` tells its user. Three ways to say it:
//  - terminal: one line per file. While the file goes, a live line shows
//    its status ("Locating File"...) and then its progress, redrawn in place
//    ("\r", clear to the end of the line) and never wider than the terminal,
//    so it never wraps; once it ends, its result replaces it;
//  - plain (output is a file or a pipe): one line per event, nothing redrawn,
//    so logs and scripts read it line by line;
//  - quiet: only failures (on standard error) and the summary.
// Failures always go to standard error, everything else to standard output.

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>

namespace vintrel::apps {

/// "512 B", "1.5 KiB", "4.0 MiB", "2.3 GiB" (units of 1024).
std::string format_bytes(double bytes);
/// Elapsed or remaining time as h:mm:ss; "--:--:--" when unknown (negative
/// or not a number).
std::string format_duration(double seconds);

/// The current file's progress as the control's properties give it.
struct Progress {
  int file = 0;      ///< 1-based position in the queue.
  int files = 0;     ///< Number of files queued.
  std::string name;  ///< Local file name without its folder.
  double done = 0;   ///< Bytes on disk, a resumed part included.
  double size = 0;   ///< 0 while unknown.
  double percent = 0;
  double rate = 0;       ///< KB (1024 bytes) per second.
  double remaining = 0;  ///< Seconds; meaningless while rate is 0.
  /// The control's last status; shown instead of the bar until the file
  /// is "Downloading".
  std::string status;
};

/// The progress line, at most `columns - 1` characters wide (the last column
/// is left free: writing into it makes some terminals wrap at once). The
/// name is shortened first, then the bar dropped. A status other than
/// "Downloading" is shown after the name instead of the figures.
std::string progress_line(const Progress& progress, int columns);

struct Summary {
  int done = 0;
  int failed = 0;
  int unfinished = 0;   ///< Left when the run was interrupted.
  double received = 0;  ///< Bytes fetched by this run.
  double seconds = 0;
};

std::string summary_line(const Summary& summary);

enum class OutputMode : std::uint8_t { terminal, plain, quiet };

class Report {
 public:
  /// `columns` is the terminal's width (0 when unknown).
  Report(OutputMode mode, std::ostream& out, std::ostream& err, int columns = 0);
  OutputMode mode() const { return mode_; }

  void file_started(int file, int files, const std::string& url);
  /// A status text of the control. The control repeats itself
  /// ("Downloading" every tick, "Connecting" every probing tick): plain
  /// output drops a repeat of the file's last text, so that the lines still
  /// show every change in order; on a terminal it goes into the live line.
  void status(int file, int files, const std::string& text);
  /// A status that belongs to no file ("Completed All Transfers").
  void queue_status(const std::string& text);
  /// Redraws the live line; only on a terminal.
  void progress(const Progress& progress);
  /// `received` bytes fetched by this run in `seconds`: the average rate
  /// over the whole transfer, not the control's last one-second figure.
  void file_done(int file, int files, const std::string& path, double size, double received, double seconds);
  /// The file on disk was found to be the server's: nothing was fetched.
  void file_already_complete(int file, int files, const std::string& path, double size);
  /// A connection attempt failed and another will follow: which one it
  /// was and why, shown as the file's status.
  void retrying(int file, int files, int attempt, int attempts, const std::string& why);
  void file_failed(int file, int files, const std::string& why);
  /// A message for standard error that is no file's failure.
  void error(const std::string& text);
  void summary(const Summary& summary);

 private:
  /// A running file's line on a terminal.
  struct Live {
    Progress progress;
    std::string url;     // named until its record is
    std::string status;  // shown instead of the figures until "Downloading"
  };

  void put_line(std::ostream& stream, const std::string& line);
  void erase_live_lines();
  void draw_live_lines();
  void redraw();
  void end_live_lines();
  void end_file(int file);
  void show_status(int file, int files, const std::string& text);

  OutputMode mode_;
  std::ostream& out_;
  std::ostream& err_;
  int columns_;
  std::map<int, std::string> last_status_;  // per running file
  std::map<int, Live> live_;                // the running files, drawn in order
  int drawn_ = 0;                           // lines of them on screen, cursor at the end of the last
};

}  // namespace vintrel::apps
