#include "cli/meter_commands.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <filesystem>
#include <memory>
#include <ostream>

#include "cli/backend_select.h"
#include "cli/command_parser.h"
#include "cli/doctor.h"
#include "cli/permission_hint.h"
#include "cli/platform.h"
#include "cli/progress_bar.h"
#include "cli/terminal_ui.h"
#include "log/decoder.h"
#include "log/log_files.h"
#include "log/log_image.h"
#include "log/trace_output.h"
#include "protocol/device_listing.h"
#include "protocol/log_erase.h"
#include "protocol/transfer_engine.h"
#include "ui/message_catalogue.h"
#include "ui/message_quote.h"
#include "usb/usb_device.h"

namespace sq71 {
namespace {

using Args = std::vector<std::string>;

// How often sq71 read asks again for a record whose exchange failed.
constexpr int kDefaultRetries = 2;

// Where the DEVICE options go.
void BindDeviceOptions(OptionBindings& bindings, DeviceChoice* choice, bool* quiet) {
  // Parsed here rather than by CLI11, whose range message names the double's range.
  bindings.Bind("--device", [choice](const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    const bool whole = !text.empty() && *end == '\0' && errno == 0;
    choice->index = whole && value >= 0 && value <= INT_MAX ? static_cast<int>(value) : -1;
  });
  bindings.Bind("--port", &choice->port)
      .Bind("--backend", &choice->backend)
      .Bind("--sim", &choice->sim)
      .Bind("--trace", &choice->trace)
      .Bind("--quiet", quiet);
}

// The command's parser from its row; the DEVICE options that cannot go
// together are told apart here.
void BuildMeterParser(const char* command, const OptionBindings& bindings, CLI::App& app) {
  BuildParser(*FindCommand(command), bindings, app);
  CLI::Option* port = app.get_option("--port");
  app.get_option("--sim")->excludes(port)->excludes(app.get_option("--backend"));
  app.get_option("--device")->excludes(port);
}

// Parses a meter command's arguments; false (with the usage error reported)
// when they are wrong.
bool Parse(CLI::App& app, const Args& args, const char* command, DeviceChoice* choice,
           std::ostream& err, int* status) {
  // An empty name is a mistake (an unset variable, say), never the demo
  // meter: "--sim ''" must not fall through to a real meter either.
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--sim=" || (args[i] == "--sim" && i + 1 < args.size() && args[i + 1].empty())) {
      *status = UsageError(command, "--sim: the scenario file's name is empty (--sim alone runs the "
                           "demo meter)", err);
      return false;
    }
  }
  if (!ParseArguments(app, args, command, err, status)) return false;
  choice->sim_demo = app.count("--sim") > 0 && choice->sim.empty();
  if (choice->index < 0) {
    *status = UsageError(command, "-d: a device index, 0 or more", err);
    return false;
  }
  if (!choice->port.empty() && choice->backend != kAutoBackend &&
      choice->backend != kTtyBackend) {
    *status = UsageError(command, "--port is a serial port: it needs the tty backend", err);
    return false;
  }
  if (choice->sim.empty() == false && choice->sim.front() == '-') {
    *status = UsageError(command, "--sim needs a scenario file", err);
    return false;
  }
  choice->index_given = app.count("-d") > 0;
  return true;
}

std::unique_ptr<Driver> ChooseDriver(const char* command, const DeviceChoice& choice,
                                     std::ostream& err) {
  std::string error;
  std::unique_ptr<Driver> driver = SelectDriver(choice, &error);
  // Traced as it is, before any view narrows it to the device chosen.
  driver = TraceInto(choice.trace, std::move(driver), &error);
  if (driver == nullptr) err << "sq71: " << command << ": " << EscapeForMessage(error) << "\n";
  return driver;
}

void WarnOfPartialIdentity(const Driver& driver, const std::string& label, std::ostream& err) {
  if (driver.partial_identity()) {
    err << "sq71: warning: " << label << ": the chip's identity was not fully checked (the "
        << driver.name() << " backend cannot read its pin and CBUS settings)\n";
  }
}

// One line for a message the engine or the erase showed: the device, then
// the message's own text, and for a port that would not open, why.
void ReportFailure(const char* command, const std::string& label, int message,
                   const UsbDevice& device, std::ostream& err) {
  err << "sq71: " << command << ": " << label << ": " << MessageText(message);
  if (message == kMsgUsbPortError) {
    const Driver& driver = device.driver();
    std::string cause = EscapeForMessage(device.last_error());
    if (cause.empty()) cause = StatusWithName(device.last_status());
    err << " (" << cause << ")";
    const bool denied = driver.last_failure() == DriverFailure::kPermission;
    if (denied || UsbDeviceDenied()) {
      err << ": " << PermissionHint(driver.name() == kTtyBackend, cause);
    } else {
      err << "; run `sq71 doctor` to see why";
    }
  }
  err << "\n";
}

std::string Quoted(const std::string& path) { return QuoteForMessage(path); }

// sq71-YYYYMMDD-HHMMSS.ulg in the current folder, with -2, -3, ... when a
// file of that name is there already: a second read in the same second must
// not replace the first one's log.
std::string DefaultLogName() {
  const std::time_t now = std::time(nullptr);
  char stamp[32] = "sq71";
  if (const std::tm* local = std::localtime(&now)) {
    std::strftime(stamp, sizeof(stamp), "sq71-%Y%m%d-%H%M%S", local);
  }
  std::string name = std::string(stamp) + ".ulg";
  std::error_code error;
  for (int n = 2; std::filesystem::exists(name, error); ++n) {
    name = std::string(stamp) + "-" + std::to_string(n) + ".ulg";
  }
  return name;
}

// ", 2 retries" when failed exchanges were asked again, else nothing.
std::string RetriesText(int retries) {
  return retries == 0 ? "" : ", " + Counted(retries, "retry", "retries");
}

// What "sq71 read" was asked to do.
struct ReadRequest {
  DeviceChoice choice;
  std::string ulg;
  std::string csv;
  std::string resume;  // a partial log to go on with
  bool keep_partial = false;
  bool quiet = false;
  bool default_name = false;  // ulg was made up: its name goes to standard output
  ExchangePolicy policy;
};

// Writes the log and, when asked, its CSV through the checked writers; any
// file already there is replaced only by a complete new one.
// "-" is standard output.
bool WriteFiles(const LogImage& image, const std::string& ulg, const std::string& csv,
                CommandIo& io) {
  std::ostream& err = io.err;
  if (ulg == kStandardOutput) {
    io.out.write(reinterpret_cast<const char*>(image.data()),
                 static_cast<std::streamsize>(image.size()));
  } else {
    const FileResult result = WriteUlgFile(ulg.c_str(), image);
    if (!result.ok()) {
      err << "sq71: read: " << WriteFailureText(ulg, result) << "\n";
      return false;
    }
  }
  if (csv.empty()) return StandardOutputFlushed(io);
  const int count = EntryCount(image, nullptr);
  if (count == 0) {
    // As the program's Export refuses it.
    err << "sq71: read: " << Quoted(csv) << " not written: " << MessageText(kMsgNoLogData) << "\n";
    return false;
  }
  RecordDecoder decoder;
  if (csv == kStandardOutput) {
    WriteCsv(io.out, image, count, &decoder);
    return StandardOutputFlushed(io);
  }
  const FileResult result = WriteCsvFile(csv.c_str(), image, count, &decoder);
  if (!result.ok()) {
    err << "sq71: read: " << WriteFailureText(csv, result) << "\n";
    return false;
  }
  return StandardOutputFlushed(io);
}

std::string SavedName(const std::string& name) {
  return name == kStandardOutput ? "standard output" : Quoted(name);
}

std::string SavedNames(const std::string& ulg, const std::string& csv) {
  return "saved " + SavedName(ulg) + (csv.empty() ? "" : " and " + SavedName(csv));
}

// Before anything is asked of the meter: a log that cannot be written would
// otherwise be found out only after the whole download.
bool OutputsWritable(const ReadRequest& request, CommandIo& io, int* status) {
  if (request.ulg == kStandardOutput && io.console.out_terminal) {
    // Binary bytes would garble the terminal, and be lost.
    *status = UsageError("read",
                         "a .ulg log is binary and standard output is a terminal: redirect it "
                         "(sq71 read -o - > LOG.ulg) or name a file with -o",
                         io.err);
    return false;
  }
  for (const std::string& name : {request.ulg, request.csv}) {
    if (name.empty() || name == kStandardOutput) continue;
    const int error = FolderRefuses(name);
    if (error != 0) {
      io.err << "sq71: read: cannot write " << Quoted(name) << ": " << ErrorReason(error)
             << "; nothing was asked of the meter\n";
      *status = kExitFailure;
      return false;
    }
  }
  return true;
}

// How a download ended.
struct Download {
  bool started = false;      // the device was opened and accepted
  bool interrupted = false;  // Ctrl-C
  bool complete = false;
  int record = 0;  // the first record not fetched
  int error = -1;  // the message that ended it, -1 when none
  double seconds = 0;
  int retries = 0;
  bool log_changed = false;  // a resumed log is not the meter's any more
  int answered_for = -1;     // the record a reply named instead of `record`
  int gap = -1;              // the first record no good reply brought
  int downloaded = 0;        // records that came in this run
};

// 1. The arguments; false with *status when they are wrong.
bool ParseRead(const Args& args, CommandIo& io, ReadRequest* request, int* status) {
  CLI::App app;
  OptionBindings bindings;
  bindings.Bind("--output", &request->ulg)
      .Bind("--csv", &request->csv)
      .Bind("--keep-partial", &request->keep_partial)
      .Bind("--retries", &request->policy.retries)
      .Bind("--resume", &request->resume);
  // Ours to choose, unlike the program's: purge only when something is
  // there, and ride out a glitch.
  request->policy.purge_every_request = false;
  request->policy.retries = kDefaultRetries;
  request->policy.check_record_number = true;
  request->policy.confirm_after_failure = true;
  BindDeviceOptions(bindings, &request->choice, &request->quiet);
  BuildMeterParser("read", bindings, app);
  if (!Parse(app, args, "read", &request->choice, io.err, status)) return false;
  if (request->ulg.empty()) request->ulg = request->resume;
  if (!request->csv.empty() && request->csv == request->ulg) {
    *status = UsageError("read", "the CSV file would replace the log", io.err);
    return false;
  }
  return true;
}

// 2. The driver of the chosen backend, and how errors name the device.
std::unique_ptr<Driver> Connect(const char* command, const DeviceChoice& choice, CommandIo& io,
                                std::string* label) {
  std::unique_ptr<Driver> driver = ChooseDriver(command, choice, io.err);
  if (driver != nullptr) *label = DeviceLabel(*driver, choice.index);
  return driver;
}

// The net under every exchange policy: each record up to the end marker
// (up to where the log ends, for one cut short) must have come in a good
// reply of this run or from the partial log resumed. At the first that did
// not, the log ends; a download that said it was complete is not.
void KeepOnlyWhatCame(const TransferEngine& engine, LogImage& image, Download* download) {
  const int end = EntryCount(image, nullptr);
  const int last = download->complete ? std::min(end, kRecordCount - 1) : end - 1;
  for (int n = 0; n <= last; ++n) {
    if (engine.stored(n)) continue;
    MarkLogEnd(image, n);
    std::fill(image.begin() + static_cast<std::ptrdiff_t>(n + 1) * kRecordSize, image.end(), 0);
    if (download->complete) {
      download->complete = false;
      download->gap = n;
      download->record = n;
    }
    return;
  }
}

// 3. The download, with the program's Read code, until it ends or a stop is
// asked for; from record `from` of a partial log in `image` when resuming.
// The device is closed afterwards whatever ended it.
Download DownloadLog(UsbDevice& device, const std::string& label, LogImage& image,
                     const ReadRequest& request, int from, CommandIo& io,
                     const std::function<bool()>& stop) {
  Download result;
  TransferState state;
  TerminalUi ui(nullptr, io.err, kAnswerNo);
  ui.set_stop_query(stop);
  TransferEngine engine(state, image, ui, request.policy);
  ProgressBar bar(io.err, io.console.err_terminal && !request.quiet);
  if (request.resume.empty()) {
    engine.StartTransfer(&device);
  } else {
    engine.ResumeTransfer(&device, from);
  }
  result.started = ui.timer_armed();
  // Only a read that goes on has an identity worth warning about: a failure
  // stays one line.
  if (result.started && !request.quiet) WarnOfPartialIdentity(device.driver(), label, io.err);
  while (ui.timer_armed()) {
    if (ui.StopWanted()) {
      // Between two exchanges: the log ends where its records stopped and
      // the device is closed.
      engine.StopEarly(&device);
      result.interrupted = true;
      break;
    }
    engine.TransferTick(&device);
    const int total = state.total > 0 ? state.total : kTransferTotal;
    bar.Update(std::min(state.next_record, total), total, engine.retries());
  }
  device.Close();
  bar.Clear();
  result.error = ui.error();
  if (!result.started && result.error < 0) result.error = kMsgUsbPortError;
  result.complete =
      !result.interrupted && ui.error() < 0 && ui.information() == kMsgTransferComplete;
  result.record = state.next_record;
  result.seconds = bar.Seconds();
  result.retries = engine.retries();
  result.log_changed = engine.log_changed();
  result.answered_for = engine.answered_for();
  result.downloaded = engine.records_stored();
  // A stop that came while an exchange failed is still the user's.
  if (!result.complete && !result.interrupted && ui.StopWanted()) result.interrupted = true;
  if (result.started && !result.log_changed) KeepOnlyWhatCame(engine, image, &result);
  return result;
}

// The log's made-up name, on standard output unless the CSV went there:
// what a script reads there is one or the other, never both.
void TellDefaultName(const ReadRequest& request, CommandIo& io) {
  if (!request.default_name) return;
  if (request.csv == kStandardOutput) {
    if (!request.quiet) io.err << "sq71: read: the log is " << Quoted(request.ulg) << "\n";
  } else {
    io.out << request.ulg << "\n";
  }
}

// 4. The files, and the lines that tell what came of it.
int WriteDownload(const ReadRequest& request, const std::string& label, const Download& download,
                  const LogImage& image, CommandIo& io) {
  if (download.log_changed) {
    io.err << "sq71: read: " << label << ": record " << download.record << " is not as "
           << Quoted(request.resume) << " holds it: the meter's log has changed; nothing "
           << "written; read the whole log again without --resume\n";
    return kExitFailure;
  }
  if (!download.complete) {
    if (download.interrupted) {
      io.err << "sq71: read: " << label << ": interrupted at record " << download.record;
    } else if (download.gap >= 0) {
      io.err << "sq71: read: " << label << ": record " << download.gap
             << ": no good reply brought it";
    } else if (download.answered_for >= 0) {
      io.err << "sq71: read: " << label << ": record " << download.record
             << ": the meter answered for record " << download.answered_for;
    } else {
      io.err << "sq71: read: " << label << ": record " << download.record << ": "
             << MessageText(download.error >= 0 ? download.error : kMsgHandshake);
    }
    const int status = download.interrupted ? kExitInterrupted : kExitFailure;
    if (!request.keep_partial) {
      io.err << "; nothing written\n";
      return status;
    }
    // The engine has ended the log where its records stopped, so the file
    // shows only what came.
    const int entries = EntryCount(image, nullptr);
    io.err << "; " << Counted(entries, "record", "records") << " kept\n";
    if (!WriteFiles(image, request.ulg, request.csv, io)) return kExitFailure;
    if (!request.quiet) io.err << "sq71: read: " << SavedNames(request.ulg, request.csv) << "\n";
    TellDefaultName(request, io);
    return status;
  }

  if (!WriteFiles(image, request.ulg, request.csv, io)) return kExitFailure;
  if (!request.quiet) {
    const int entries = EntryCount(image, nullptr);
    // Those downloaded now: a resumed log's earlier ones came another time.
    const int records = download.downloaded;
    const double seconds = download.seconds;
    // The figures on a line of their own that fits 80 columns; the names,
    // as long as they are, on the next.
    char figures[64];
    std::snprintf(figures, sizeof(figures), " in %.1f s (%.0f records/s", seconds,
                  seconds > 0 ? records / seconds : 0.0);
    io.err << "sq71: read: " << Counted(records, "record", "records") << ", "
           << Counted(entries, "entry", "entries") << figures << RetriesText(download.retries)
           << ")\n"
           << "sq71: read: " << label << ": " << SavedNames(request.ulg, request.csv) << "\n";
  }
  TellDefaultName(request, io);
  return kExitOk;
}

}  // namespace

int RunReadCommand(const Args& args, CommandIo& io) { return RunReadCommand(args, io, {}); }

int RunReadCommand(const Args& args, CommandIo& io, const ReadSeams& seams) {
  ReadRequest request;
  int status = kExitOk;
  if (!ParseRead(args, io, &request, &status)) return status;
  // A resumed download goes on from the partial log's end marker.
  LogImage image{};
  int from = 0;
  if (!request.resume.empty()) {
    if (!ReadLogFile(request.resume, &image, io.err)) return kExitFailure;
    from = EntryCount(image, nullptr);
  }
  request.default_name = request.ulg.empty();
  if (request.default_name) request.ulg = DefaultLogName();
  if (!OutputsWritable(request, io, &status)) return status;
  std::string label;
  std::unique_ptr<Driver> chosen_driver;
  Driver* driver = seams.driver;
  if (driver == nullptr) {
    chosen_driver = Connect("read", request.choice, io, &label);
    if (chosen_driver == nullptr) return kExitFailure;
    driver = chosen_driver.get();
  } else {
    label = DeviceLabel(*driver, request.choice.index);
  }

  ChosenDevice chosen(*driver, request.choice.index, false);
  UsbDevice device(chosen);
  // Held until the files are written: Ctrl-C then can neither leave the
  // device open nor cut a file short.
  std::unique_ptr<StopRequests> stops;
  if (!seams.stop) stops = std::make_unique<StopRequests>();
  const Download download = DownloadLog(device, label, image, request, from, io, seams.stop);
  if (!download.started) {
    ReportFailure("read", label, download.error, device, io.err);
    return kExitFailure;
  }
  return WriteDownload(request, label, download, image, io);
}

int RunEraseCommand(const Args& args, CommandIo& io) {
  CLI::App app;
  DeviceChoice choice;
  bool yes = false;
  bool quiet = false;
  OptionBindings bindings;
  bindings.Bind("--yes", &yes);
  BindDeviceOptions(bindings, &choice, &quiet);
  BuildMeterParser("erase", bindings, app);
  int status = kExitOk;
  if (!Parse(app, args, "erase", &choice, io.err, &status)) return status;
  const bool can_ask = io.console.in != nullptr && io.console.in_terminal;
  if (!yes && !can_ask) {
    return UsageError(
        "erase", "no terminal to confirm on, nothing sent; --yes erases without asking", io.err);
  }

  std::string label;
  const std::unique_ptr<Driver> driver = Connect("erase", choice, io, &label);
  if (driver == nullptr) return kExitFailure;
  ChosenDevice chosen(*driver, choice.index, false);
  UsbDevice device(chosen);
  TerminalUi ui(yes ? nullptr : io.console.in, io.err, kAnswerYes);
  // The question says which meter would lose its log.
  ui.set_subject(label);
  // Ctrl-C lets the exchange under way end and the device close: a chip left
  // claimed stays away from the kernel's serial driver until replugged.
  // Until the request is written Ctrl-C leaves the meter as it was; after
  // it the meter's answer is waited for.
  const StopRequests stops;
  const EraseOutcome outcome = EraseLogCommand(&device, ui);
  device.Close();
  if (outcome == EraseOutcome::kStopped ||
      (outcome == EraseOutcome::kDeclined && StopRequested())) {
    io.err << "sq71: erase: " << label << ": interrupted; not erased\n";
    return kExitInterrupted;
  }
  if (!quiet && ui.error() != kMsgUsbPortError) WarnOfPartialIdentity(*driver, label, io.err);
  const bool erased = ui.error() < 0 && ui.information() == kMsgLogErased;
  if (StopRequested()) {
    io.err << "sq71: erase: " << label << ": interrupted; "
           << (erased ? "the meter had erased its log" : "the meter did not confirm the erase")
           << "\n";
    return kExitInterrupted;
  }
  if (ui.error() >= 0) {
    ReportFailure("erase", label, ui.error(), device, io.err);
    return kExitFailure;
  }
  if (!erased) {
    io.err << "sq71: erase: not confirmed; the meter's log is left as it was\n";
    return kExitFailure;
  }
  if (!quiet) io.out << label << ": " << MessageText(kMsgLogErased) << "\n";
  return kExitOk;
}

int RunDevicesCommand(const Args& args, CommandIo& io) {
  CLI::App app;
  DeviceChoice choice;
  bool quiet = false;
  OptionBindings bindings;
  BindDeviceOptions(bindings, &choice, &quiet);
  BuildMeterParser("devices", bindings, app);
  int status = kExitOk;
  if (!Parse(app, args, "devices", &choice, io.err, &status)) return status;
  if (!choice.UsesSim() && choice.port.empty() && choice.backend == kTtyBackend &&
      SerialPorts().empty()) {
    // No serial port at all: no meter answers, which is no error here.
    if (!quiet) {
      io.out << "0 meters found\n";
      io.err << "sq71: devices: no serial port found (looked for " << SerialPortPattern() << ")\n";
    }
    return kExitOk;
  }

  const std::unique_ptr<Driver> driver = ChooseDriver("devices", choice, io.err);
  if (driver == nullptr) return kExitFailure;

  struct Row {
    int index;
    std::string name;
  };
  std::vector<Row> rows;
  ChosenDevice chosen(*driver, choice.index, !choice.index_given);
  // Ctrl-C ends the listing between two devices, each closed again.
  const StopRequests stops;
  const int count = ListDevices(
      chosen,
      [&](int index, const char* name) {
        rows.push_back({chosen.BaseIndex(index), name});
      },
      StopRequested);
  for (const Row& row : rows) {
    const std::string where = driver->Where(row.index);
    // The meter's own bytes and the port's name: escaped, so a tab or a
    // terminal control cannot break the columns or reach the terminal.
    io.out << row.index << "\t" << EscapeForMessage(row.name)
           << (where.empty() ? "" : "\t" + EscapeForMessage(where)) << "\n";
  }
  // Not data: -q leaves standard output to the rows alone.
  if (!quiet) io.out << Counted(count, "meter", "meters") << " found\n";
  if (!quiet && count == 0 && !StopRequested()) {
    // A chip the system keeps from this user answers nothing: say why.
    if (!choice.UsesSim() && UsbDeviceDenied()) {
      io.err << "sq71: devices: an FTDI chip is attached but not open to you: "
             << PermissionHint(driver->name() == kTtyBackend) << "\n";
    } else {
      io.err << "sq71: devices: no meter answers; run `sq71 doctor` to see why\n";
    }
  }
  if (!quiet && count > 0) WarnOfPartialIdentity(*driver, "backend " + driver->name(), io.err);
  if (StopRequested()) {
    io.err << "sq71: devices: interrupted\n";
    return kExitInterrupted;
  }
  return kExitOk;
}

int RunDoctorCommand(const Args& args, CommandIo& io) {
  CLI::App app;
  DeviceChoice choice;
  bool quiet = false;
  OptionBindings bindings;
  BindDeviceOptions(bindings, &choice, &quiet);
  BuildMeterParser("doctor", bindings, app);
  int status = kExitOk;
  if (!Parse(app, args, "doctor", &choice, io.err, &status)) return status;
  std::unique_ptr<TraceFile> trace;
  if (!choice.trace.empty()) {
    std::string error;
    trace = CreateTraceFile(choice.trace, &error);
    if (trace == nullptr) {
      io.err << "sq71: doctor: " << EscapeForMessage(error) << "\n";
      return kExitFailure;
    }
  }
  return RunDoctor(choice, trace.get(), io.out);
}

}  // namespace sq71
