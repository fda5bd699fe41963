#include "apps/report.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace vintrel::apps {

namespace {

constexpr const char* clear_line = "\r\x1b[K";
constexpr const char* cursor_up = "\x1b[1A";
constexpr int default_columns = 80;
constexpr int bar_width = 20;

std::string prefix(int file, int files) { return "[" + std::to_string(file) + "/" + std::to_string(files) + "] "; }

// Cuts `text` to at most `width` bytes without splitting a UTF-8 sequence.
std::string cut(const std::string& text, std::size_t width) {
  if (text.size() <= width) return text;
  std::size_t end = width;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string shorten(const std::string& name, std::size_t width) {
  if (name.size() <= width) return name;
  if (width <= 3) return cut(name, width);
  return cut(name, width - 3) + "...";
}

}  // namespace

std::string format_bytes(double bytes) {
  if (!(bytes >= 0)) bytes = 0;
  if (bytes < 1024) return std::to_string(static_cast<std::int64_t>(bytes)) + " B";
  static constexpr std::array<const char*, 4> units{"KiB", "MiB", "GiB", "TiB"};
  double value = bytes / 1024;
  std::size_t unit = 0;
  // Switch units where one decimal would show 1024.0.
  while (value >= 1023.95 && unit + 1 < units.size()) {
    value /= 1024;
    ++unit;
  }
  std::array<char, 48> text{};
  std::snprintf(text.data(), text.size(), "%.1f %s", value, units[unit]);
  return text.data();
}

std::string format_duration(double seconds) {
  if (!(seconds >= 0) || seconds > 1e9) return "--:--:--";
  const auto whole = static_cast<std::int64_t>(std::llround(seconds));
  std::array<char, 48> text{};
  std::snprintf(text.data(), text.size(), "%lld:%02lld:%02lld", static_cast<long long>(whole / 3600),
                static_cast<long long>(whole / 60 % 60), static_cast<long long>(whole % 60));
  return text.data();
}

std::string progress_line(const Progress& p, int columns) {
  const std::size_t width = static_cast<std::size_t>(std::max(columns > 0 ? columns : default_columns, 2) - 1);
  if (!p.status.empty() && p.status != "Downloading") {
    const std::string head = prefix(p.file, p.files);
    const std::string tail = ": " + p.status;
    if (head.size() + tail.size() + std::min<std::size_t>(p.name.size(), 8) <= width)
      return head + shorten(p.name, width - head.size() - tail.size()) + tail;
    return cut(head + p.name + tail, width);
  }
  const bool size_known = p.size > 0;

  std::string percent = "  --%";
  std::string bar;
  if (size_known) {
    const double shown = std::clamp(std::floor(p.percent), 0.0, 999.0);
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), " %3d%%", static_cast<int>(shown));
    percent = text.data();
    const auto filled = static_cast<int>(std::clamp(p.percent, 0.0, 100.0) * bar_width / 100);
    bar = " [" + std::string(static_cast<std::size_t>(filled), '#') +
          std::string(static_cast<std::size_t>(bar_width - filled), '.') + "]";
  } else {
    bar = " [" + std::string(bar_width, '.') + "]";
  }
  const std::string amount = " " + format_bytes(p.done) + " / " + (size_known ? format_bytes(p.size) : "?");
  const std::string rate = "  " + std::to_string(static_cast<std::int64_t>(std::max(p.rate, 0.0))) + " KB/s";
  // The control keeps the last estimate while the rate is 0, and estimates
  // against a size of 0 while it is unknown: neither means anything then.
  const std::string remaining = "  " + format_duration(p.rate > 0 && size_known ? p.remaining : -1);
  const std::string head = prefix(p.file, p.files);

  for (const bool with_bar : {true, false}) {
    std::string tail = percent;
    tail.append(with_bar ? bar : "").append(amount).append(rate).append(remaining);
    const std::size_t fixed = head.size() + tail.size();
    // At least a few characters of the name, or the line says nothing.
    if (fixed + std::min<std::size_t>(p.name.size(), 8) <= width) {
      std::string line = head;
      return line.append(shorten(p.name, width - fixed)).append(tail);
    }
  }
  return cut(head + p.name + percent + amount + rate + remaining, width);
}

std::string summary_line(const Summary& s) {
  std::string line = "Summary: " + std::to_string(s.done) + " done, " + std::to_string(s.failed) + " failed";
  if (s.unfinished > 0) line += ", " + std::to_string(s.unfinished) + " not finished";
  const double rate = s.seconds > 0 ? s.received / 1024 / s.seconds : 0;
  line += "; " + format_bytes(s.received) + " received in " + format_duration(s.seconds) + " (" +
          std::to_string(static_cast<std::int64_t>(rate)) + " KB/s)";
  return line;
}

Report::Report(OutputMode mode, std::ostream& out, std::ostream& err, int columns)
    : mode_(mode), out_(out), err_(err), columns_(columns > 0 ? columns : default_columns) {}

void Report::erase_live_lines() {
  // Up the block line by line, wiping each: the cursor ends where the
  // block began.
  for (int line = 0; line < drawn_; ++line) out_ << (line == 0 ? "" : cursor_up) << clear_line;
  drawn_ = 0;
}

void Report::draw_live_lines() {
  for (const auto& [file, live] : live_) {
    Progress shown = live.progress;
    shown.status = live.status;
    if (shown.name.empty()) shown.name = live.url;
    out_ << (drawn_ == 0 ? "" : "\n") << progress_line(shown, columns_);
    ++drawn_;
  }
  out_ << std::flush;
}

void Report::put_line(std::ostream& stream, const std::string& line) {
  // A line printed over the running files' lines would mix with them:
  // wipe them, print, and draw them again below.
  if (mode_ == OutputMode::terminal) erase_live_lines();
  out_ << std::flush;
  stream << line << '\n' << std::flush;
  if (mode_ == OutputMode::terminal) draw_live_lines();
}

void Report::end_live_lines() {
  // The last drawing stays on screen as the files' record.
  if (drawn_ > 0) out_ << '\n' << std::flush;
  drawn_ = 0;
  live_.clear();
}

void Report::redraw() {
  erase_live_lines();
  draw_live_lines();
}

void Report::file_started(int file, int files, const std::string& url) {
  last_status_.erase(file);
  if (mode_ == OutputMode::terminal) {
    // The file's line starts as its address; its result ends it.
    Live& live = live_[file];
    live = Live{};
    live.url = url;
    live.status = "Starting";
    live.progress.file = file;
    live.progress.files = files;
    redraw();
    return;
  }
  if (mode_ == OutputMode::quiet) return;
  put_line(out_, prefix(file, files) + url);
}

void Report::status(int file, int files, const std::string& text) {
  if (last_status_[file] == text) return;
  last_status_[file] = text;
  if (mode_ == OutputMode::terminal) return show_status(file, files, text);
  if (mode_ == OutputMode::quiet) return;
  put_line(out_, prefix(file, files) + text);
}

void Report::retrying(int file, int files, int attempt, int attempts, const std::string& why) {
  const std::string text =
      "Waiting for a connection (try " + std::to_string(attempt) + " of " + std::to_string(attempts) + "): " + why;
  last_status_[file] = "Waiting for a connection";
  if (mode_ == OutputMode::terminal) return show_status(file, files, text);
  if (mode_ == OutputMode::quiet) return;
  put_line(out_, prefix(file, files) + text);
}

void Report::show_status(int file, int files, const std::string& text) {
  Live& live = live_[file];
  live.status = text;
  live.progress.file = file;
  live.progress.files = files;
  redraw();
}

void Report::queue_status(const std::string& text) {
  end_live_lines();
  if (mode_ == OutputMode::quiet) return;
  put_line(out_, text);
}

void Report::progress(const Progress& progress) {
  if (mode_ != OutputMode::terminal) return;
  Live& live = live_[progress.file];
  live.progress = progress;
  redraw();
}

void Report::end_file(int file) {
  // The result says all the live line did and takes its place.
  last_status_.erase(file);
  if (live_.erase(file) > 0 && mode_ == OutputMode::terminal) redraw();
}

void Report::file_done(int file, int files, const std::string& path, double size, double received, double seconds) {
  end_file(file);
  if (mode_ == OutputMode::quiet) return;
  std::string line = prefix(file, files) + "saved " + path + " (" + format_bytes(size) + ", " +
                     std::to_string(static_cast<std::int64_t>(size)) + " bytes)";
  if (received > 0) {
    // Under a millisecond the clock says nothing useful: no rate then.
    std::array<char, 64> text{};
    if (seconds >= 0.001)
      std::snprintf(text.data(), text.size(), " in %.2f s, %lld KB/s", seconds,
                    static_cast<long long>(received / 1024 / seconds));
    else
      std::snprintf(text.data(), text.size(), " in %.2f s", std::max(seconds, 0.0));
    line += text.data();
  }
  put_line(out_, line);
}

void Report::file_already_complete(int file, int files, const std::string& path, double size) {
  end_file(file);
  if (mode_ == OutputMode::quiet) return;
  put_line(out_, prefix(file, files) + "already complete: " + path + " (" + format_bytes(size) + ", " +
                     std::to_string(static_cast<std::int64_t>(size)) + " bytes)");
}

void Report::file_failed(int file, int files, const std::string& why) {
  // A failed file's last drawing says less than its failure line.
  end_file(file);
  put_line(err_, prefix(file, files) + "failed: " + why);
}

void Report::error(const std::string& text) {
  end_live_lines();
  put_line(err_, "vintrel: " + text);
}

void Report::summary(const Summary& summary) {
  end_live_lines();
  put_line(out_, summary_line(summary));
}

}  // namespace vintrel::apps
