#include "cli/report_command.h"

#include <cmath>
#include <filesystem>
#include <ostream>

#include "cli/command_parser.h"
#include "log/decoder.h"
#include "log/log_image.h"
#include "report/entries_json.h"
#include "report/html_report.h"
#include "report/report_entries.h"
#include "report/report_file.h"
#include "ui/message_quote.h"

#ifndef SQ71_VERSION
#define SQ71_VERSION "unknown"
#endif

namespace sq71 {
namespace {

// Decibels as hundredths; false for what is not a finite number in range.
bool Hundredths(double db, int* hundredths) {
  if (!std::isfinite(db) || std::fabs(db) > 1000) return false;
  *hundredths = static_cast<int>(std::lround(db * 100));
  return true;
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
  ReportInfo info;
  double good = info.thresholds.good / 100.0, marginal = info.thresholds.marginal / 100.0;
  app.add_option("log", log)->required();
  app.add_option("-o,--output", output);
  app.add_option("--title", info.title);
  app.add_option("--good", good);
  app.add_option("--marginal", marginal);
  int status = kExitOk;
  if (!ParseArguments(app, args, "report", io.err, &status)) return status;
  if (!Hundredths(good, &info.thresholds.good) ||
      !Hundredths(marginal, &info.thresholds.marginal)) {
    return UsageError("report", "--good and --marginal take a number of dB", io.err);
  }
  if (info.thresholds.marginal > info.thresholds.good) {
    return UsageError("report", "--marginal must not be above --good", io.err);
  }

  LogImage image{};
  const int count = LoadEntries(log, &image, io);
  if (count == 0) return kExitFailure;
  if (output.empty()) output = std::filesystem::path(log).replace_extension(".html").string();
  std::error_code same_error;
  if (std::filesystem::equivalent(log, output, same_error)) {
    io.err << "sq71: " << QuoteForMessage(output) << " is the log file itself; not overwritten\n";
    return kExitFailure;
  }
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

int RunViewJson(const std::string& log, CommandIo& io) {
  LogImage image{};
  const int count = LoadEntries(log, &image, io);
  if (count == 0) return kExitFailure;
  RecordDecoder decoder;
  io.out << EntriesJson(CollectEntries(image, count, &decoder, Thresholds()));
  return Flushed(io) ? kExitOk : kExitFailure;
}

}  // namespace sq71
