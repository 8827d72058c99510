// Writing the installation report, through the same safe replacement as the
// log's other files.
#ifndef SQ71_REPORT_REPORT_FILE_H
#define SQ71_REPORT_REPORT_FILE_H

#include <string>

#include "log/decoder.h"
#include "log/log_files.h"
#include "log/log_image.h"
#include "report/html_report.h"
#include "ui/ui.h"

namespace sq71 {

// The report of the first count records, replacing any file at path.
FileResult WriteReportFile(const char* path, const LogImage& image, int count,
                           RecordDecoder* decoder, const ReportInfo& info);

// The File menu's form: 0 written; -1 not written (message 20 unless quiet
// mode silences a file that cannot be created), any old file left as it was.
int ExportReport(const char* path, const LogImage& image, int count, RecordDecoder* decoder,
                 const ReportInfo& info, Messages* messages, bool quiet);

// The local date and time now, as the report's header shows it.
std::string LocalTimeNow();

}  // namespace sq71

#endif
