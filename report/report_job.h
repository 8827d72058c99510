// The job a report is made for: who, where, by whom, when, and a logo. From
// the command line, a job file, or the program's Export Report dialog.
#ifndef SQ71_REPORT_REPORT_JOB_H
#define SQ71_REPORT_REPORT_JOB_H

#include <cstddef>
#include <string>
#include <vector>

#include "report/margins.h"

namespace sq71 {

struct ReportJob {
  std::string customer, site, installer, company;
  std::string date;   // of the installation
  std::string notes;  // lines end in '\n' between them
  std::string logo_type;  // "image/png" or "image/jpeg"; empty: no logo
  std::string logo_bytes;
};

constexpr std::size_t kMaxLogoBytes = 256 * 1024;

// "image/png" or "image/jpeg" by the file's first bytes; null for anything else.
const char* ImageTypeOf(const std::string& bytes);

// Reads a PNG or JPEG of at most kMaxLogoBytes into the job; false with one
// line in *error naming the file otherwise.
bool LoadLogo(const std::string& path, ReportJob* job, std::string* error);

// Reads a job file (log/key_value_text.h): title, customer, site, installer,
// company, date, notes (each notes line adds a line) and logo (a file name,
// from the job file's folder). The title goes to *title when given.
bool LoadJobFile(const std::string& path, ReportJob* job, std::string* title, std::string* error);

// ---- The report's options as typed: one block for every front end that
// takes them (sq71 report's command line, view --json's thresholds).
struct ReportOptions {
  std::string title;  // empty: the job file's, else "Installation report"
  std::string job_file;
  std::string customer, site, installer, company, date, notes, logo;
  std::string good = "3", marginal = "1";
  bool summary_only = false;
};

// The thresholds the options name; false with one line per wrong value in
// *errors ("--good takes ..."), each naming its option.
bool ThresholdsOf(const ReportOptions& options, Thresholds* thresholds,
                  std::vector<std::string>* errors);

// The job: the job file's values, each given option over its value, the logo
// read. False with one line in *error when a file cannot be used.
bool JobOf(const ReportOptions& options, ReportJob* job, std::string* title, std::string* error);

}  // namespace sq71

#endif
