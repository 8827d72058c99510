#include "cli/meter_commands.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <ostream>

#include "cli/backend_select.h"
#include "cli/command_parser.h"
#include "cli/doctor.h"
#include "cli/platform.h"
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
using Clock = std::chrono::steady_clock;

// How often sq71 read asks again for a record whose exchange failed.
constexpr int kDefaultRetries = 2;
constexpr int kMaxRetries = 100;

void AddDeviceOptions(CLI::App& app, DeviceChoice* choice, bool* quiet) {
  // Parsed here rather than by CLI11, whose range message names the double's range.
  CLI::Option* index =
      app.add_option_function<std::string>("-d,--device", [choice](const std::string& text) {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(text.c_str(), &end, 10);
        const bool whole = !text.empty() && *end == '\0' && errno == 0;
        choice->index = whole && value >= 0 && value <= INT_MAX ? static_cast<int>(value) : -1;
      });
  CLI::Option* port = app.add_option("--port", choice->port);
  CLI::Option* backend = app.add_option("--backend", choice->backend)
                             ->check(CLI::IsMember({"auto", "d2xx", "libftdi", "tty"}));
  CLI::Option* sim = app.add_option("--sim", choice->sim);
  sim->excludes(port);
  sim->excludes(backend);
  index->excludes(port);
  app.add_option("--trace", choice->trace);
  app.add_flag("-q,--quiet", *quiet);
}

// Parses a meter command's arguments; false (with the usage error reported)
// when they are wrong.
bool Parse(CLI::App& app, const Args& args, const char* command, DeviceChoice* choice,
           std::ostream& err, int* status) {
  if (!ParseArguments(app, args, command, err, status)) return false;
  if (choice->index < 0) {
    *status = UsageError(command, "-d: a device index, 0 or more", err);
    return false;
  }
  if (!choice->port.empty() && choice->backend != "auto" && choice->backend != "tty") {
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

const char* StatusText(FT_STATUS status) {
  switch (status) {
    case FT_INVALID_HANDLE:
      return "invalid handle";
    case FT_DEVICE_NOT_FOUND:
      return "no such device";
    case FT_DEVICE_NOT_OPENED:
      return "the device cannot be opened";
    case FT_IO_ERROR:
      return "I/O error";
    case FT_INSUFFICIENT_RESOURCES:
      return "insufficient resources";
    case FT_INVALID_PARAMETER:
      return "invalid parameter";
    case FT_INVALID_BAUD_RATE:
      return "invalid baud rate";
    case FT_NOT_SUPPORTED:
      return "not supported by the driver";
    default:
      return "driver error";
  }
}

// One line for a message the engine or the erase showed: the device, then
// the message's own text, and for a port that would not open, why.
void ReportFailure(const char* command, const std::string& label, int message,
                   const UsbDevice& device, std::ostream& err) {
  err << "sq71: " << command << ": " << label << ": " << MessageText(message);
  if (message == kMsgUsbPortError) {
    const Driver& driver = device.driver();
    const std::string cause = driver.last_error();
    if (!cause.empty()) {
      err << " (" << EscapeForMessage(cause) << ")";
    } else {
      err << " (" << StatusText(device.last_status()) << ", status " << device.last_status() << ")";
    }
    const bool denied = driver.last_failure() == DriverFailure::kPermission;
    if (denied || UsbDeviceDenied()) err << ": " << PermissionHint(driver.name() == "tty");
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
  if (retries == 0) return "";
  return ", " + std::to_string(retries) + (retries == 1 ? " retry" : " retries");
}

// The one-line bar on a terminal, redrawn at most four times a second.
class ProgressBar {
 public:
  ProgressBar(std::ostream& err, bool on) : err_(err), on_(on), start_(Clock::now()) {}

  void Update(const TransferState& state, int retries) {
    if (!on_) return;
    const Clock::time_point now = Clock::now();
    if (drawn_ && now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    drawn_ = true;
    const int total = state.total > 0 ? state.total : kTransferTotal;
    const int done = std::min(state.next_record, total);
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? done / seconds : 0;
    constexpr int kWidth = 30;
    const int filled = done * kWidth / total;
    char left[16] = "--:--";
    if (rate > 0) {
      // Up to the end of the log: the end marker may come sooner.
      const int s = static_cast<int>((total - done) / rate + 0.5);
      std::snprintf(left, sizeof(left), "%d:%02d", s / 60, s % 60);
    }
    char line[192];
    std::snprintf(
        line, sizeof(line), "[%.*s%.*s] %4d/%d records, %d entries, %.0f records/s, %s left%s",
        filled, "##############################", kWidth - filled, "------------------------------",
        done, total, done, rate, left, RetriesText(retries).c_str());
    err_ << "\r" << line << "\x1b[K" << std::flush;
  }

  void Clear() {
    if (drawn_) err_ << "\r\x1b[K" << std::flush;
    drawn_ = false;
  }

  double Seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

 private:
  std::ostream& err_;
  bool on_;
  Clock::time_point start_;
  Clock::time_point last_{};
  bool drawn_ = false;
};

// Writes the log and, when asked, its CSV through the checked writers; any
// file already there is replaced only by a complete new one.
bool WriteFiles(const LogImage& image, const std::string& ulg, const std::string& csv,
                std::ostream& err) {
  FileResult result = WriteUlgFile(ulg.c_str(), image);
  if (!result.ok()) {
    err << "sq71: read: " << WriteFailureText(ulg, result) << "\n";
    return false;
  }
  if (csv.empty()) return true;
  const int count = EntryCount(image, nullptr);
  if (count == 0) {
    // As the program's Export refuses it.
    err << "sq71: read: " << Quoted(csv) << " not written: " << MessageText(kMsgNoLogData) << "\n";
    return false;
  }
  RecordDecoder decoder;
  result = WriteCsvFile(csv.c_str(), image, count, &decoder);
  if (!result.ok()) {
    err << "sq71: read: " << WriteFailureText(csv, result) << "\n";
    return false;
  }
  return true;
}

std::string SavedNames(const std::string& ulg, const std::string& csv) {
  return "saved " + Quoted(ulg) + (csv.empty() ? "" : " and " + Quoted(csv));
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
};

// 1. The arguments; false with *status when they are wrong.
bool ParseRead(const Args& args, CommandIo& io, ReadRequest* request, int* status) {
  CLI::App app;
  app.add_option("-o,--output", request->ulg);
  app.add_option("--csv", request->csv);
  app.add_flag("--keep-partial", request->keep_partial);
  // Ours to choose, unlike the program's: purge only when something is
  // there, and ride out a glitch.
  request->policy.purge_every_request = false;
  request->policy.retries = kDefaultRetries;
  app.add_option("--retries", request->policy.retries)->check(CLI::Range(0, kMaxRetries));
  app.add_option("--resume", request->resume);
  AddDeviceOptions(app, &request->choice, &request->quiet);
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

// 3. The download, with the program's Read code, until it ends or a stop is
// asked for; from record `from` of a partial log in `image` when resuming.
// The device is closed afterwards whatever ended it.
Download DownloadLog(UsbDevice& device, const std::string& label, LogImage& image,
                     const ReadRequest& request, int from, CommandIo& io) {
  Download result;
  TransferState state;
  TerminalUi ui(nullptr, io.err, kAnswerNo);
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
    if (StopRequested()) {
      // Between two exchanges: the log ends where its records stopped and
      // the device is closed.
      engine.StopEarly(&device);
      result.interrupted = true;
      break;
    }
    engine.TransferTick(&device);
    bar.Update(state, engine.retries());
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
  return result;
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
    io.err << "; " << entries << (entries == 1 ? " record" : " records") << " kept\n";
    if (!WriteFiles(image, request.ulg, request.csv, io.err)) return kExitFailure;
    if (!request.quiet) io.err << "sq71: read: " << SavedNames(request.ulg, request.csv) << "\n";
    if (request.default_name) io.out << request.ulg << "\n";
    return status;
  }

  if (!WriteFiles(image, request.ulg, request.csv, io.err)) return kExitFailure;
  if (!request.quiet) {
    const int entries = EntryCount(image, nullptr);
    const int records = entries < kRecordCount ? entries + 1 : kRecordCount;
    const double seconds = download.seconds;
    char figures[96];
    std::snprintf(figures, sizeof(figures), "%d records, %d entries in %.1f s (%.0f records/s%s)",
                  records, entries, seconds, seconds > 0 ? records / seconds : 0.0,
                  RetriesText(download.retries).c_str());
    io.err << "sq71: read: " << MessageText(kMsgTransferComplete) << " " << figures << " from "
           << label << "; " << SavedNames(request.ulg, request.csv) << "\n";
  }
  if (request.default_name) io.out << request.ulg << "\n";
  return kExitOk;
}

}  // namespace

int RunReadCommand(const Args& args, CommandIo& io) {
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
  std::string label;
  const std::unique_ptr<Driver> driver = Connect("read", request.choice, io, &label);
  if (driver == nullptr) return kExitFailure;
  request.default_name = request.ulg.empty();
  if (request.default_name) request.ulg = DefaultLogName();

  ChosenDevice chosen(*driver, request.choice.index, false);
  UsbDevice device(chosen);
  // Held until the files are written: Ctrl-C then can neither leave the
  // device open nor cut a file short.
  const StopRequests stops;
  const Download download = DownloadLog(device, label, image, request, from, io);
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
  app.add_flag("-y,--yes", yes);
  AddDeviceOptions(app, &choice, &quiet);
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
  // Ctrl-C lets the exchange under way end and the device close: a chip left
  // claimed stays away from the kernel's serial driver until replugged.
  const StopRequests stops;
  EraseLogCommand(&device, ui);
  device.Close();
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
  AddDeviceOptions(app, &choice, &quiet);
  int status = kExitOk;
  if (!Parse(app, args, "devices", &choice, io.err, &status)) return status;
  if (choice.sim.empty() && choice.port.empty() && choice.backend == "tty" &&
      SerialPorts().empty()) {
    // No serial port at all: no meter answers, which is no error here.
    io.out << "0 meters found\n";
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
  io.out << count << (count == 1 ? " meter" : " meters") << " found\n";
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
  AddDeviceOptions(app, &choice, &quiet);
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
