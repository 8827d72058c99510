// The installation report: one self-contained HTML5 file (inline CSS and SVG,
// no script, no reference outside itself) that prints on A4 and Letter.
#ifndef SQ71_REPORT_HTML_REPORT_H
#define SQ71_REPORT_HTML_REPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "report/margins.h"
#include "report/report_entries.h"
#include "report/report_job.h"

namespace sq71 {

struct ReportInfo {
  std::string title = "Installation report";
  std::string log_name;  // the log's file name, without its folder
  std::string made;      // date and time the report was made
  std::string version;   // the program's version
  Thresholds thresholds;
  ReportJob job;
  bool summary_only = false;  // the first page alone
};

// Charts hold at most this many entries, so that each fits on a page.
constexpr int kChartRows = 22;

std::string HtmlReport(const std::vector<ReportEntry>& entries, const ReportInfo& info);

// A satellite position in hundredths of a degree east as an installer
// reads it: "19.2°E", "30.0°W" (above 180), and past 360 as given,
// marked "(out of range)".
std::string PositionText(uint32_t hundredths_east);

// A frequency in kHz as MHz with three decimals: "11494.000".
std::string MegahertzText(uint32_t khz);

// Bytes as base64 (RFC 4648, padded), for an image inside the file.
std::string Base64(const std::string& bytes);

// Text for HTML: & < > " ' as references, control characters as U+FFFD.
std::string HtmlEscape(const std::string& utf8);

}  // namespace sq71

#endif
