// The installation report: one self-contained HTML5 file (inline CSS and SVG,
// no script, no reference outside itself) that prints on A4 and Letter.
#ifndef SQ71_REPORT_HTML_REPORT_H
#define SQ71_REPORT_HTML_REPORT_H

#include <string>
#include <vector>

#include "report/margins.h"
#include "report/report_entries.h"

namespace sq71 {

struct ReportInfo {
  std::string title = "Installation report";
  std::string log_name;  // the log's file name, without its folder
  std::string made;      // date and time the report was made
  std::string version;   // the program's version
  Thresholds thresholds;
};

// Charts hold at most this many entries, so that each fits on a page.
constexpr int kChartRows = 20;

std::string HtmlReport(const std::vector<ReportEntry>& entries, const ReportInfo& info);

// Text for HTML: & < > " ' as references, control characters as U+FFFD.
std::string HtmlEscape(const std::string& utf8);

}  // namespace sq71

#endif
