#include "cli/report_command.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <ostream>

#include "cli/command_parser.h"
#include "log/decoder.h"
#include "log/log_image.h"
#include "report/entries_json.h"
#include "report/html_report.h"
#include "report/report_entries.h"
#include "report/report_file.h"
#include "report/report_job.h"
#include "ui/message_quote.h"

#ifndef SQ71_VERSION
#define SQ71_VERSION "unknown"
#endif

namespace sq71 {
namespace {

// The report's options, by the long names of their rows in the command
// table; checked in report/report_job.h.
void BindReportOptions(OptionBindings& bindings, ReportOptions* o) {
  bindings.Bind("--title", &o->title)
      .Bind("--job", &o->job_file)
      .Bind("--customer", &o->customer)
      .Bind("--site", &o->site)
      .Bind("--installer", &o->installer)
      .Bind("--company", &o->company)
      .Bind("--date", &o->date)
      .Bind("--notes", &o->notes)
      .Bind("--logo", &o->logo)
      .Bind("--summary-only", &o->summary_only);
}

void BindThresholdOptions(OptionBindings& bindings, ReportOptions* o) {
  bindings.Bind("--good", &o->good).Bind("--marginal", &o->marginal);
}

// The thresholds, each wrong value told on a line of its own.
bool CheckThresholds(const ReportOptions& options, const char* command, Thresholds* thresholds,
                     std::ostream& err) {
  std::vector<std::string> errors;
  if (ThresholdsOf(options, thresholds, &errors)) return true;
  for (const std::string& e : errors) UsageError(command, e, err);
  return false;
}

// The date the log file was last written, as the installation's date.
std::string FileDate(const std::string& path) {
  std::error_code error;
  const auto written = std::filesystem::last_write_time(path, error);
  if (error) return "";
  const std::time_t t =
      std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(written));
  char text[16] = "";
  if (const std::tm* local = std::localtime(&t)) std::strftime(text, sizeof text, "%Y-%m-%d", local);
  return text;
}

// The log and its entry count, with the file commands' messages; 0 when there
// is nothing to show.
int LoadEntries(const std::string& log, LogImage* image, CommandIo& io) {
  if (!ReadLogFile(log, image, io.err)) return 0;
  return CountEntries(*image, log, io.err);
}

bool Flushed(CommandIo& io) {
  io.out.flush();
  if (io.out.good()) return true;
  io.err << "sq71: cannot write to standard output\n";
  return false;
}

}  // namespace

int RunReportCommand(const std::vector<std::string>& args, CommandIo& io) {
  CLI::App app;
  std::string log, output;
  ReportOptions options;
  app.add_option("log", log)->required();
  OptionBindings bindings;
  bindings.Bind("--output", &output);
  BindReportOptions(bindings, &options);
  BindThresholdOptions(bindings, &options);
  BuildParser(*FindCommand("report"), bindings, app);
  int status = kExitOk;
  if (!ParseArguments(app, args, "report", io.err, &status)) return status;
  ReportInfo info;
  if (!CheckThresholds(options, "report", &info.thresholds, io.err)) return kExitUsage;
  std::string why;
  if (!JobOf(options, &info.job, &info.title, &why)) {
    io.err << "sq71: " << why << "\n";
    return kExitFailure;
  }
  info.summary_only = options.summary_only;

  LogImage image{};
  const int count = LoadEntries(log, &image, io);
  if (count == 0) return kExitFailure;
  if (output.empty()) output = std::filesystem::path(log).replace_extension(".html").string();
  std::error_code same_error;
  if (std::filesystem::equivalent(log, output, same_error)) {
    io.err << "sq71: " << QuoteForMessage(output) << " is the log file itself; not overwritten\n";
    return kExitFailure;
  }
  if (info.job.date.empty()) info.job.date = FileDate(log);
  info.log_name = std::filesystem::path(log).filename().string();
  info.made = LocalTimeNow();
  info.version = SQ71_VERSION;
  RecordDecoder decoder;
  if (output == "-") {
    io.out << HtmlReport(CollectEntries(image, count, &decoder, info.thresholds), info);
    return Flushed(io) ? kExitOk : kExitFailure;
  }
  const FileResult result = WriteReportFile(output.c_str(), image, count, &decoder, info);
  if (!result.ok()) {
    io.err << "sq71: " << WriteFailureText(output, result) << "\n";
    return kExitFailure;
  }
  return kExitOk;
}

int RunViewJson(const std::vector<std::string>& args, CommandIo& io) {
  CLI::App app;
  std::string log;
  bool json = false;
  ReportOptions options;
  app.add_option("log", log)->required();
  OptionBindings bindings;
  bindings.Bind("--json", &json);
  BindThresholdOptions(bindings, &options);
  BuildParser(*FindCommand("view"), bindings, app);
  int status = kExitOk;
  if (!ParseArguments(app, args, "view", io.err, &status)) return status;
  Thresholds thresholds;
  if (!CheckThresholds(options, "view", &thresholds, io.err)) return kExitUsage;
  LogImage image{};
  const int count = LoadEntries(log, &image, io);
  if (count == 0) return kExitFailure;
  RecordDecoder decoder;
  io.out << EntriesJson(CollectEntries(image, count, &decoder, thresholds));
  return Flushed(io) ? kExitOk : kExitFailure;
}

}  // namespace sq71
