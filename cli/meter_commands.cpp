#include "cli/meter_commands.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <ostream>

#include "cli/backend_select.h"
#include "cli/platform.h"
#include "cli/terminal_ui.h"
#include "log/decoder.h"
#include "log/log_files.h"
#include "log/log_image.h"
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

int Usage(const char* command, const std::string& what, std::ostream& err) {
  err << "sq71: " << command << ": " << what << " (see 'sq71 help " << command << "')\n";
  return kExitUsage;
}

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
  app.add_flag("-q,--quiet", *quiet);
}

// Parses with CLI11; false (with the usage error reported) when the
// arguments are wrong.
bool Parse(CLI::App& app, const Args& args, const char* command, DeviceChoice* choice,
           std::ostream& err, int* status) {
  app.set_help_flag();
  app.allow_windows_style_options(false);
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    *status = Usage(command, EscapeForMessage(e.what()), err);
    return false;
  }
  if (choice->index < 0) {
    *status = Usage(command, "-d: a device index, 0 or more", err);
    return false;
  }
  if (!choice->port.empty() && choice->backend != "auto" && choice->backend != "tty") {
    *status = Usage(command, "--port is a serial port: it needs the tty backend", err);
    return false;
  }
  if (choice->sim.empty() == false && choice->sim.front() == '-') {
    *status = Usage(command, "--sim needs a scenario file", err);
    return false;
  }
  choice->index_given = app.count("-d") > 0;
  return true;
}

bool ChooseBackend(const char* command, const DeviceChoice& choice, Backend* backend,
                   std::ostream& err) {
  std::string error;
  if (SelectBackend(choice, backend, &error)) return true;
  err << "sq71: " << command << ": " << error << "\n";
  return false;
}

void WarnOfPartialIdentity(const Backend& backend, const std::string& label, std::ostream& err) {
  if (backend.partial_identity) {
    err << "sq71: warning: " << label << ": the chip's identity was not fully checked (the "
        << backend.name << " backend cannot read its pin and CBUS settings)\n";
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
void ReportFailure(const char* command, const Backend& backend, const std::string& label,
                   int message, const UsbDevice& device, std::ostream& err) {
  err << "sq71: " << command << ": " << label << ": " << MessageText(message);
  if (message == kMsgUsbPortError) {
    bool denied = false;
    const std::string cause = OpenFailure(backend, &denied);
    if (!cause.empty()) {
      err << " (" << cause << ")";
    } else {
      err << " (" << StatusText(device.last_status()) << ", status " << device.last_status() << ")";
    }
    if (denied || UsbDeviceDenied()) err << ": " << PermissionHint(backend.name == "tty");
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

// The one-line bar on a terminal, redrawn at most four times a second.
class ProgressBar {
 public:
  ProgressBar(std::ostream& err, bool on) : err_(err), on_(on), start_(Clock::now()) {}

  void Update(const TransferState& state) {
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
    char line[160];
    std::snprintf(line, sizeof(line),
                  "[%.*s%.*s] %4d/%d records, %d entries, %.0f records/s, %s left", filled,
                  "##############################", kWidth - filled,
                  "------------------------------", done, total, done, rate, left);
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

}  // namespace

int RunReadCommand(const Args& args, CommandIo& io) {
  CLI::App app;
  DeviceChoice choice;
  std::string ulg;
  std::string csv;
  bool keep_partial = false;
  bool quiet = false;
  app.add_option("-o,--output", ulg);
  app.add_option("--csv", csv);
  app.add_flag("--keep-partial", keep_partial);
  AddDeviceOptions(app, &choice, &quiet);
  int status = kExitOk;
  if (!Parse(app, args, "read", &choice, io.err, &status)) return status;
  if (!csv.empty() && csv == ulg)
    return Usage("read", "the CSV file would replace the log", io.err);

  Backend backend;
  if (!ChooseBackend("read", choice, &backend, io.err)) return kExitFailure;
  const std::string label = DeviceLabel(backend, choice.index);
  const bool default_name = ulg.empty();
  if (default_name) ulg = DefaultLogName();

  const D2xxFunctions functions = ChosenDevice(backend, choice.index, false);
  UsbDevice device(functions);
  TransferState state;
  LogImage image{};
  TerminalUi ui(nullptr, io.err, kAnswerNo);
  TransferEngine engine(state, image, ui);
  ProgressBar bar(io.err, io.console.err_terminal && !quiet);

  // Held until the files are written: Ctrl-C then can neither leave the
  // device open nor cut a file short.
  const StopRequests stops;
  bool interrupted = false;
  {
    engine.StartTransfer(&device);
    const bool started = ui.timer_armed();
    // Only a read that goes on has an identity worth warning about: a
    // failure stays one line.
    if (started && !quiet) WarnOfPartialIdentity(backend, label, io.err);
    while (ui.timer_armed()) {
      if (StopRequested()) {
        // Between two exchanges: the log ends where its records stopped and
        // the device is closed.
        engine.StopEarly(&device);
        interrupted = true;
        break;
      }
      engine.TransferTick(&device);
      bar.Update(state);
    }
    // Never leave the device open, whatever path ended the download.
    device.Close();
    bar.Clear();
    if (!started) {
      ReportFailure("read", backend, label, ui.error() >= 0 ? ui.error() : kMsgUsbPortError, device,
                    io.err);
      return kExitFailure;
    }
  }

  const bool complete = !interrupted && ui.error() < 0 && ui.information() == kMsgTransferComplete;
  if (!complete) {
    const int record = state.next_record;
    if (interrupted) {
      io.err << "sq71: read: " << label << ": interrupted at record " << record;
    } else {
      io.err << "sq71: read: " << label << ": record " << record << ": "
             << MessageText(ui.error() >= 0 ? ui.error() : kMsgHandshake);
    }
    if (!keep_partial) {
      io.err << "; nothing written\n";
      return interrupted ? kExitInterrupted : kExitFailure;
    }
    // The engine has ended the log where its records stopped, so the file
    // shows only what came.
    const int entries = EntryCount(image, nullptr);
    io.err << "; " << entries << (entries == 1 ? " record" : " records") << " kept\n";
    if (!WriteFiles(image, ulg, csv, io.err)) return kExitFailure;
    if (!quiet) io.err << "sq71: read: " << SavedNames(ulg, csv) << "\n";
    if (default_name) io.out << ulg << "\n";
    return interrupted ? kExitInterrupted : kExitFailure;
  }

  if (!WriteFiles(image, ulg, csv, io.err)) return kExitFailure;
  if (!quiet) {
    const int entries = EntryCount(image, nullptr);
    const int records = entries < kRecordCount ? entries + 1 : kRecordCount;
    const double seconds = bar.Seconds();
    char figures[96];
    std::snprintf(figures, sizeof(figures), "%d records, %d entries in %.1f s (%.0f records/s)",
                  records, entries, seconds, seconds > 0 ? records / seconds : 0.0);
    io.err << "sq71: read: " << MessageText(kMsgTransferComplete) << " " << figures << " from "
           << label << "; " << SavedNames(ulg, csv) << "\n";
  }
  if (default_name) io.out << ulg << "\n";
  return kExitOk;
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
    return Usage("erase", "no terminal to confirm on, nothing sent; --yes erases without asking",
                 io.err);
  }

  Backend backend;
  if (!ChooseBackend("erase", choice, &backend, io.err)) return kExitFailure;
  const std::string label = DeviceLabel(backend, choice.index);

  const D2xxFunctions functions = ChosenDevice(backend, choice.index, false);
  UsbDevice device(functions);
  TerminalUi ui(yes ? nullptr : io.console.in, io.err, kAnswerYes);
  EraseLogCommand(&device, ui);
  device.Close();
  if (!quiet && ui.error() != kMsgUsbPortError) WarnOfPartialIdentity(backend, label, io.err);
  if (ui.error() >= 0) {
    ReportFailure("erase", backend, label, ui.error(), device, io.err);
    return kExitFailure;
  }
  if (ui.information() != kMsgLogErased) {
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

  Backend backend;
  if (!ChooseBackend("devices", choice, &backend, io.err)) return kExitFailure;

  struct Row {
    int index;
    std::string name;
  };
  std::vector<Row> rows;
  const D2xxFunctions functions = ChosenDevice(backend, choice.index, !choice.index_given);
  const int count = ListDevices(functions, [&rows](const char* name) {
    // The listing reports a meter right after opening it.
    rows.push_back({LastOpenedIndex(), name});
  });
  for (const Row& row : rows) {
    const std::string where = backend.where != nullptr ? backend.where(row.index) : "";
    // The meter's own bytes and the port's name: escaped, so a tab or a
    // terminal control cannot break the columns or reach the terminal.
    io.out << row.index << "\t" << EscapeForMessage(row.name)
           << (where.empty() ? "" : "\t" + EscapeForMessage(where)) << "\n";
  }
  io.out << count << (count == 1 ? " meter" : " meters") << " found\n";
  if (!quiet && count > 0) WarnOfPartialIdentity(backend, "backend " + backend.name, io.err);
  return kExitOk;
}

}  // namespace sq71
