#include "cli/progress_bar.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <vector>

#include "cli/platform.h"

namespace sq71 {
namespace {

// Below this the bar and its figures cannot share a line.
constexpr int kBarColumns = 40;
constexpr int kDefaultColumns = 80;
constexpr int kLongestBar = 30;
constexpr int kShortestBar = 10;

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text;
}

}  // namespace

std::string Counted(long long count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string ProgressLine(const ProgressFigures& f, int columns) {
  if (columns <= 0) columns = kDefaultColumns;
  const int total = f.total > 0 ? f.total : 1;
  const int done = std::clamp(f.done, 0, total);
  if (columns < kBarColumns) return std::to_string(done * 100 / total) + "%";

  char count[48];
  std::snprintf(count, sizeof count, "%4d/%d records", done, total);
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.0f records/s", f.rate);
  char left[32] = "--:-- left";
  if (f.rate > 0) {
    // Up to the end of the log: the end marker may come sooner.
    const long s = static_cast<long>((total - done) / f.rate + 0.5);
    std::snprintf(left, sizeof left, "%ld:%02ld left", s / 60, s % 60);
  }
  const std::string entries = Counted(done, "entry", "entries");
  const std::string retries = f.retries > 0 ? Counted(f.retries, "retry", "retries") : "";
  // Most telling first: what goes when the line is short goes from the end.
  std::vector<std::vector<std::string>> choices = {
      {count, entries, rate, left, retries},
      {count, entries, left, retries},
      {count, entries, left},
      {count, left},
      {count},
  };
  const int room = columns - 1;
  for (std::vector<std::string>& parts : choices) {
    parts.erase(std::remove(parts.begin(), parts.end(), std::string()), parts.end());
    const std::string figures = Joined(parts);
    const int bar = std::min(kLongestBar, room - 3 - static_cast<int>(figures.size()));
    if (bar < kShortestBar && parts.size() > 1) continue;
    if (bar < 1) break;
    const int filled = done * bar / total;
    std::string line = "[";
    line.append(filled, '#').append(bar - filled, '-').append("] ").append(figures);
    return line;
  }
  return std::to_string(done * 100 / total) + "%";
}

ProgressBar::ProgressBar(std::ostream& err, bool on)
    : err_(err), on_(on), start_(Clock::now()) {
  if (on_) controls_ = StderrTakesControls();
}

void ProgressBar::Update(int done, int total, int retries) {
  if (!on_) return;
  const Clock::time_point now = Clock::now();
  if (drawn_ && now - last_ < std::chrono::milliseconds(250)) return;
  last_ = now;
  ProgressFigures figures;
  figures.done = done;
  figures.total = total;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  figures.rate = seconds > 0 ? done / seconds : 0;
  figures.retries = retries;
  Draw(ProgressLine(figures, StderrColumns()));
}

void ProgressBar::Draw(const std::string& line) {
  err_ << "\r" << line;
  if (controls_) {
    err_ << "\x1b[K";
  } else if (shown_ > line.size()) {
    // A console without controls: blanks over what is left of the last line.
    err_ << std::string(shown_ - line.size(), ' ') << "\r" << line;
  }
  err_ << std::flush;
  shown_ = line.size();
  drawn_ = true;
}

void ProgressBar::Clear() {
  if (!drawn_) return;
  if (controls_) {
    err_ << "\r\x1b[K";
  } else {
    err_ << "\r" << std::string(shown_, ' ') << "\r";
  }
  err_ << std::flush;
  drawn_ = false;
  shown_ = 0;
}

double ProgressBar::Seconds() const {
  return std::chrono::duration<double>(Clock::now() - start_).count();
}

}  // namespace sq71
