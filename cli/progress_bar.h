// The download's progress on a terminal: one line that fits the terminal's
// width, redrawn in place.
#ifndef SQ71_CLI_PROGRESS_BAR_H
#define SQ71_CLI_PROGRESS_BAR_H

#include <chrono>
#include <iosfwd>
#include <string>

namespace sq71 {

// What a progress line tells.
struct ProgressFigures {
  int done = 0;    // records fetched
  int total = 0;   // records of a whole log
  double rate = 0;         // records a second; 0 while unknown
  int retries = 0;         // exchanges asked again
};

// The line for a terminal `columns` wide, without the control that puts it
// in place: at most columns - 1 characters, so the cursor never wraps. From
// 40 columns a bar and as many of the figures as fit; below, the percentage
// alone. Columns 0 (unknown) is taken as 80.
std::string ProgressLine(const ProgressFigures& figures, int columns);

// "1 record", "2 records".
std::string Counted(long long count, const char* one, const char* many);

// The bar on err, redrawn at most four times a second at the terminal's
// width of the moment, so it follows a resize.
class ProgressBar {
 public:
  ProgressBar(std::ostream& err, bool on);

  void Update(int done, int total, int retries);
  // Takes the line away, leaving the cursor at the start of its row.
  void Clear();
  double Seconds() const;

 private:
  void Draw(const std::string& line);

  using Clock = std::chrono::steady_clock;
  std::ostream& err_;
  bool on_;
  bool controls_ = true;  // the terminal understands "erase to the end of the line"
  Clock::time_point start_;
  Clock::time_point last_{};
  bool drawn_ = false;
  std::size_t shown_ = 0;  // the length of the line on screen
};

}  // namespace sq71

#endif
