#include "cli/sq71_cli.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "cli/command_parser.h"
#include "cli/meter_commands.h"
#include "cli/report_command.h"
#include "log/decoder.h"
#include "log/log_files.h"
#include "log/log_image.h"
#include "report/report_entries.h"
#include "ui/message_catalogue.h"
#include "ui/message_quote.h"

#ifndef SQ71_VERSION
#define SQ71_VERSION "unknown"
#endif

namespace sq71 {
namespace {

using Args = std::vector<std::string>;

// One subcommand. The file commands take operands (and at most one flag);
// the others have options of their own. All parse through CLI11
// (command_parser.h).
struct Command {
  const char* name;
  const char* operands;  // as shown in the usage line
  const char* summary;   // one line for the command list
  const char* details;   // the rest of "sq71 help NAME"
  std::size_t min_operands;
  std::size_t max_operands;
  int (*run)(const Args& operands, CommandIo& io);
  int (*run_meter)(const Args& args, CommandIo& io) = nullptr;
  // An option that turns the command into another form of itself.
  const char* flag = nullptr;
  int (*run_flagged)(const std::string& operand, CommandIo& io) = nullptr;
};

std::string Quoted(const std::string& path) { return QuoteForMessage(path); }

const char* Reason(int error) {
  return error != 0 ? std::strerror(error) : "the file changed while it was read";
}

// Reads a log file, reporting on err why it cannot be used.
bool ReadLog(const std::string& path, LogImage* image, CommandIo& io) {
  const FileResult result = ReadUlgFile(path.c_str(), image);
  switch (result.status) {
    case FileStatus::kOk:
      return true;
    case FileStatus::kCannotOpen:
      io.err << "sq71: cannot open " << Quoted(path) << ": " << Reason(result.error) << "\n";
      return false;
    case FileStatus::kWrongSize:
      io.err << "sq71: " << Quoted(path) << " is " << result.size << " bytes, a log file is "
             << kLogImageSize << " bytes\n";
      return false;
    case FileStatus::kNotRegular:
      io.err << "sq71: " << Quoted(path)
             << (result.error != 0 ? " is a directory\n" : " is not a regular file\n");
      return false;
    default:
      io.err << "sq71: cannot read " << Quoted(path) << ": " << Reason(result.error) << "\n";
      return false;
  }
}

// The entry count, or 0 after saying there is nothing to show, as the
// program's View and Export do.
int EntriesOf(const LogImage& image, const std::string& path, CommandIo& io) {
  const int count = EntryCount(image, nullptr);
  if (count == 0) io.err << "sq71: " << Quoted(path) << ": " << MessageText(kMsgNoLogData) << "\n";
  return count;
}

// The list row as a terminal or a pipe may take it: the name's Windows-1252
// bytes in UTF-8, escaped (report_entries.h), the other columns as they are.
std::string ViewRow(const DecodedEntry& entry) {
  const std::string row = entry.list_row;
  char padded[sizeof entry.name];
  std::snprintf(padded, sizeof padded, "%16s", entry.name);
  const std::size_t name_at = row.find('\t') + 1;
  return row.substr(0, name_at) + Cp1252ForTerminal(padded) +
         row.substr(name_at + std::strlen(padded));
}

bool Flushed(CommandIo& io) {
  io.out.flush();
  if (io.out.good()) return true;
  io.err << "sq71: cannot write to standard output\n";
  return false;
}

int RunView(const Args& operands, CommandIo& io) {
  LogImage image{};
  if (!ReadLogFile(operands[0], &image, io.err)) return kExitFailure;
  const int count = EntriesOf(image, operands[0], io);
  if (count == 0) return kExitFailure;
  RecordDecoder decoder;
  DecodedEntry entry;
  for (int i = 0; i < count && decoder.Decode(image, i, &entry); ++i) {
    io.out << ViewRow(entry) << '\n';
  }
  return Flushed(io) ? kExitOk : kExitFailure;
}

int RunExport(const Args& operands, CommandIo& io) {
  LogImage image{};
  if (!ReadLogFile(operands[0], &image, io.err)) return kExitFailure;
  const int count = EntriesOf(image, operands[0], io);
  if (count == 0) return kExitFailure;
  RecordDecoder decoder;
  const std::string& target = operands[1];
  std::error_code same_error;
  if (std::filesystem::equivalent(operands[0], target, same_error)) {
    // A slip of the keyboard must not turn the log into its own CSV.
    io.err << "sq71: " << Quoted(target) << " is the log file itself; not overwritten\n";
    return kExitFailure;
  }
  if (target == "-" && io.console.out_terminal) {
    // A name's bytes never act on the terminal; a file or a pipe gets them
    // exactly.
    std::string csv;
    AppendCsv(image, count, &decoder, &csv);
    for (std::size_t at = 0, end; at < csv.size(); at = end + 2) {
      end = csv.find("\r\n", at);
      io.out << Cp1252ForTerminal(std::string_view(csv).substr(at, end - at)) << "\r\n";
    }
    return Flushed(io) ? kExitOk : kExitFailure;
  }
  if (target == "-") {
    WriteCsv(io.out, image, count, &decoder);
    return Flushed(io) ? kExitOk : kExitFailure;
  }
  const FileResult result = WriteCsvFile(target.c_str(), image, count, &decoder);
  if (!result.ok()) {
    io.err << "sq71: " << WriteFailureText(target, result) << "\n";
    return kExitFailure;
  }
  return kExitOk;
}

const Command kCommands[] = {
    {"view", "LOG.ulg", "list the entries of a log file, one tab-separated row each (--json: JSON)",
     "Prints the entries of a .ulg log file in record order, one row per line, exactly\n"
     "as the Log Entries window lists them: 22 tab-separated columns (ID, name,\n"
     "longitude, RF level as dBm, dBuV and dBmV each after a marker column, Locked,\n"
     "Pilots, IQ Swap, MER and QBER each after a marker column, nominal and measured\n"
     "frequency in kHz, nominal and measured symbol rate in kBd, standard, code rate).\n"
     "A log without entries is an error, as in the program's View.\n"
     "\n"
     "sq71 view --json LOG.ulg:\n"
     "  --json                 the entries as one JSON array instead: numbers in their\n"
     "                         units (dBuV, dBm, dBmV, dB, kHz, kBd), each marker (\"<\",\n"
     "                         \">\" or \"\") a field of its own, a missing value null, and\n"
     "                         each entry's required Es/N0, margin and verdict\n",
     1, 1, RunView, nullptr, "--json", RunViewJson},
    {"export", "LOG.ulg OUT.csv", "write the entries of a log file as CSV",
     "Writes the entries of a .ulg log file as a CSV file with CR LF line ends, byte\n"
     "for byte what the program's Export (.csv) writes. OUT.csv \"-\" writes to standard\n"
     "output. An existing OUT.csv is replaced only once the new file is complete.\n"
     "A log without entries is an error, as in the program's Export (.csv).\n",
     2, 2, RunExport},
    {"report", "LOG.ulg [-o OUT.html] [--title TEXT] [--good DB] [--marginal DB]",
     "write the installation report of a log file (HTML)",
     "Writes the installation report of a .ulg log file: one self-contained HTML file\n"
     "(no script, nothing outside it) with a summary, charts of the RF level and of the\n"
     "MER against the Es/N0 each code rate needs for every satellite position, and a\n"
     "table of every entry with its required Es/N0, margin and verdict. It prints on A4\n"
     "and Letter. An existing OUT.html is replaced only once the new file is complete.\n"
     "\n"
     "  -o, --output OUT.html  the report to write (default: the log's name with .html;\n"
     "                         \"-\" writes to standard output)\n"
     "  --title TEXT           the report's title (default \"Installation report\")\n"
     "  --good DB              the least margin called good (default 3)\n"
     "  --marginal DB          the least margin called marginal (default 1); below it, poor\n"
     "\n"
     "A log without entries is an error, as in the program's Export (.csv).\n",
     0, 0, nullptr, RunReportCommand},
    {"read",
     "[-o LOG.ulg] [--csv OUT.csv] [--keep-partial] [--retries N] [--resume PARTIAL.ulg] [DEVICE]",
     "download the meter's log into a log file",
     "Downloads the whole log of the meter with the program's own Read code, and\n"
     "writes it as LOG.ulg (default: sq71-YYYYMMDD-HHMMSS.ulg in the current folder,\n"
     "its name printed on standard output) and, with --csv, as the CSV file that\n"
     "Export (.csv) writes. Files are replaced only by complete new ones.\n"
     "\n"
     "  -o, --output LOG.ulg   the log file to write\n"
     "  --csv OUT.csv          also write the entries as CSV\n"
     "  --keep-partial         after a fault or Ctrl-C, write the records that came,\n"
     "                         followed by the end of the log (exit status stays 1 or 130)\n"
     "  --retries N            ask again for a record whose reply failed, up to N times\n"
     "                         (default 2; 0 ends the read at the first bad reply)\n"
     "  --resume PARTIAL.ulg   go on from where a --keep-partial log ends, once its last\n"
     "                         record is found unchanged on the meter; writes the whole log\n"
     "                         (default: over PARTIAL.ulg)\n"
     "DEVICE_OPTIONS"
     "\n"
     "On a terminal a progress bar is drawn on standard error; otherwise one summary\n"
     "line is printed at the end. A fault that outlasts its retries writes nothing and\n"
     "exits 1 (an unplugged meter is not retried). Ctrl-C stops after the exchange\n"
     "under way, closes the device and exits 130.\n",
     0, 0, nullptr, RunReadCommand},
    {"erase", "[--yes] [DEVICE]", "erase the log kept in the meter",
     "Erases the meter's log, as the program's Erase Log does, after asking on the\n"
     "terminal. Without a terminal nothing is sent unless --yes is given (exit 2).\n"
     "\n"
     "  -y, --yes              erase without asking\n"
     "DEVICE_OPTIONS",
     0, 0, nullptr, RunEraseCommand},
    {"devices", "[DEVICE]", "list the meters that answer",
     "Asks every attached device to identify itself, as the program's Version does\n"
     "(identity check included), and prints one line per meter that answers: its\n"
     "index, its name and, where known, its serial number or port, tab-separated;\n"
     "then the count. No meter is not an error.\n"
     "DEVICE_OPTIONS",
     0, 0, nullptr, RunDevicesCommand},
    {"doctor", "[DEVICE]", "say why no meter answers, and what to do",
     "Looks through every backend built in (with DEVICE options, the ones named):\n"
     "the FTDI chips on USB that libftdi sees (ids, place, description, serial\n"
     "number, kernel driver), the serial ports, and whether FTDI's own library\n"
     "loads and its version. Each device is tried as a meter; for each that does\n"
     "not answer it says why (not the meter's chip or description, permission\n"
     "denied, busy, held by the kernel's ftdi_sio, no answer). The last line says\n"
     "what to do next. Exit status 0 when a meter answered, 1 when none did.\n"
     "DEVICE_OPTIONS",
     0, 0, nullptr, RunDoctorCommand},
};

// The options every meter command takes, in its help.
constexpr char kDeviceOptions[] =
    "\n"
    "DEVICE:\n"
    "  -d, --device INDEX     the meter INDEX among the attached devices (default 0)\n"
    "  --port PATH            a serial port (/dev/ttyUSB0, /dev/cu.usbserial-XXXX)\n"
    "  --backend NAME         auto (default), d2xx, libftdi or tty\n"
    "  --sim SCENARIO         the simulated meter of a scenario file\n"
    "  --trace FILE           record every driver call in FILE (\"-\": standard error)\n"
    "  -q, --quiet            no progress, only errors\n";

const Command* Find(const std::string& name) {
  for (const Command& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

void ShowHelp(std::ostream& out) {
  out << "Usage: sq71 COMMAND [ARGUMENTS]\n"
         "\n"
         "Works with the logs of the SQ-71 Meter.\n"
         "\n"
         "Commands:\n";
  for (const Command& command : kCommands) {
    std::string left = std::string(command.name) + " " + command.operands;
    // The meter commands' options are in their own help.
    if (command.run_meter != nullptr) left = std::string(command.name) + " [OPTIONS]";
    if (left.size() < 24) left.resize(24, ' ');
    out << "  " << left << "  " << command.summary << "\n";
  }
  out << "  help [COMMAND]            show this help, or the help of one command\n"
         "\n"
         "Options:\n"
         "  -h, --help                show help (also after a command: sq71 view --help)\n"
         "  --version                 show the version\n"
         "\n"
         "Exit status: 0 success, 1 failure, 2 wrong usage.\n";
}

void ShowCommandHelp(const Command& command, std::ostream& out) {
  out << "Usage: sq71 " << command.name << " " << command.operands << "\n\n";
  std::string details = command.details;
  const std::string::size_type at = details.find("DEVICE_OPTIONS");
  if (at != std::string::npos) details.replace(at, std::strlen("DEVICE_OPTIONS"), kDeviceOptions);
  out << details;
}

int ToolUsageError(const std::string& what, CommandIo& io) {
  io.err << "sq71: " << what << " (see 'sq71 --help')\n";
  return kExitUsage;
}

bool IsHelpOption(const std::string& arg) { return arg == "-h" || arg == "--help"; }

int RunCommand(const Command& command, const Args& args, CommandIo& io) {
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (IsHelpOption(arg)) {
      ShowCommandHelp(command, io.out);
      return kExitOk;
    }
  }
  if (command.run_meter != nullptr) return command.run_meter(args, io);
  Args operands;
  bool flagged = false;
  int status = kExitOk;
  if (!ParseOperands(args, command.name, command.operands, command.min_operands,
                     command.max_operands, command.flag, &flagged, &operands, io.err, &status)) {
    return status;
  }
  if (flagged) return command.run_flagged(operands[0], io);
  return command.run(operands, io);
}

}  // namespace

bool ReadLogFile(const std::string& path, LogImage* image, std::ostream& err) {
  const Console none;
  CommandIo io{err, err, none};
  return ReadLog(path, image, io);
}

int CountEntries(const LogImage& image, const std::string& path, std::ostream& err) {
  const Console none;
  CommandIo io{err, err, none};
  return EntriesOf(image, path, io);
}

const char* ErrorReason(int error) { return Reason(error); }

int RunSq71(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
            const Console& console) {
  CommandIo io{out, err, console};
  Args args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  if (args.empty()) return ToolUsageError("no command given", io);

  const std::string& first = args[0];
  if (IsHelpOption(first)) {
    ShowHelp(out);
    return kExitOk;
  }
  if (first == "--version") {
    out << "sq71 " << SQ71_VERSION << "\n";
    return kExitOk;
  }
  if (first == "help") {
    if (args.size() == 1) {
      ShowHelp(out);
      return kExitOk;
    }
    if (args.size() > 2) return ToolUsageError("help: expected at most one command", io);
    const Command* command = Find(args[1]);
    if (command == nullptr) return ToolUsageError("unknown command " + Quoted(args[1]), io);
    ShowCommandHelp(*command, out);
    return kExitOk;
  }
  if (first.size() > 1 && first[0] == '-') {
    return ToolUsageError("unknown option " + Quoted(first), io);
  }
  const Command* command = Find(first);
  if (command == nullptr) return ToolUsageError("unknown command " + Quoted(first), io);
  return RunCommand(*command, Args(args.begin() + 1, args.end()), io);
}

}  // namespace sq71
