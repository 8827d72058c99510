#include "report/report_file.h"

#include <ctime>

#include "log/replacing_file.h"
#include "ui/message_catalogue.h"

namespace sq71 {

FileResult WriteReportFile(const char* path, const LogImage& image, int count,
                           RecordDecoder* decoder, const ReportInfo& info) {
  ReplacingFile file;
  FileResult result = file.Open(path);
  if (!result.ok()) return result;
  const std::string html = HtmlReport(CollectEntries(image, count, decoder, info.thresholds), info);
  file.Write(html.data(), html.size());
  return file.Commit();
}

int ExportReport(const char* path, const LogImage& image, int count, RecordDecoder* decoder,
                 const ReportInfo& info, Messages* messages, bool quiet) {
  const FileResult result = WriteReportFile(path, image, count, decoder, info);
  if (result.ok()) return 0;
  // As Export (.csv): quiet mode hides only a file that cannot be created.
  if ((result.status != FileStatus::kCannotCreate || !quiet) && messages != nullptr) {
    messages->ShowMessage(kMsgCantSaveImage, MessageStyle::kError);
  }
  return -1;
}

std::string LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  char text[32] = "";
  if (const std::tm* local = std::localtime(&now)) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", local);
  }
  return text;
}

}  // namespace sq71
