#include "cli/command_table.h"

#include <ostream>
#include <sstream>

#include "cli/backend_select.h"
#include "cli/meter_commands.h"
#include "cli/report_command.h"
#include "cli/sq71_cli.h"

namespace sq71 {
namespace {

// Where an option's help starts in the help text.
constexpr std::size_t kHelpColumn = 25;

const std::vector<CommandRow>& Table() {
  static const std::vector<CommandRow> table = {
      {"view", "LOG.ulg",
       "list a log's entries, one tab-separated row each (--json: JSON)",
       "Prints the entries of a .ulg log file in record order, one row per line, exactly\n"
       "as the Log Entries window lists them: 22 tab-separated columns (ID, name,\n"
       "longitude, RF level as dBm, dBuV and dBmV each after a marker column, Locked,\n"
       "Pilots, IQ Swap, MER and QBER each after a marker column, nominal and measured\n"
       "frequency in kHz, nominal and measured symbol rate in kBd, standard, code rate).\n",
       {
           {"--json", nullptr, ValueKind::kFlag,
            "the entries as one JSON array instead: numbers in their\n"
            "units (dBuV, dBm, dBmV, dB, kHz, kBd), each marker (\"<\",\n"
            "\">\" or \"\") a field of its own, a missing value null, and\n"
            "each entry's required Es/N0, margin and verdict (good,\n"
            "marginal, poor, uncertain, no lock, no reference)"},
           {"--good", "DB", ValueKind::kText, "with --json: the verdicts' thresholds, as for report"},
           {"--marginal", "DB", ValueKind::kText, "with --json: as for report"},
       },
       false, "A log without entries is an error, as in the program's View.\n", RunViewCommand},
      {"export", "LOG.ulg OUT.csv", "write the entries of a log file as CSV",
       "Writes the entries of a .ulg log file as a CSV file with CR LF line ends, byte\n"
       "for byte what the program's Export (.csv) writes. OUT.csv \"-\" writes to standard\n"
       "output. An existing OUT.csv is replaced only once the new file is complete.\n",
       {}, false, "A log without entries is an error, as in the program's Export (.csv).\n",
       RunExportCommand},
      {"report", "LOG.ulg", "write the installation report of a log file (HTML)",
       "Writes the installation report of a .ulg log file: one self-contained HTML file\n"
       "(no script, nothing outside it). Its first page stands alone: the job, a verdict\n"
       "for each satellite position, the five lowest margins and an acceptance box to\n"
       "sign. Then charts of the RF level and of the MER against the Es/N0 each code\n"
       "rate needs, and a table of every entry. It prints on A4 and Letter. An existing\n"
       "OUT.html is replaced only once the new file is complete.\n",
       {
           {"-o,--output", "OUT.html", ValueKind::kHtml,
            "the report to write (default: the log's name with .html;\n"
            "\"-\" writes to standard output)"},
           {"--title", "TEXT", ValueKind::kText, "the report's title (default \"Installation report\")"},
           {"--customer", "TEXT", ValueKind::kText, "the customer, on the first page"},
           {"--site", "TEXT", ValueKind::kText, "the site: an address or a place"},
           {"--installer", "TEXT", ValueKind::kText, "who installed it"},
           {"--company", "TEXT", ValueKind::kText, "the installer's company"},
           {"--date", "TEXT", ValueKind::kText,
            "the date of the installation (default: the log file's date)"},
           {"--notes", "TEXT", ValueKind::kText, "notes on the job"},
           {"--logo", "FILE", ValueKind::kFile,
            "a PNG or JPEG of at most 256 KiB, put inside the report"},
           {"--job", "FILE", ValueKind::kFile,
            "any of the above from a file of key = value lines (title,\n"
            "customer, site, installer, company, date, notes, logo);\n"
            "an option given as well wins"},
           {"--summary-only", nullptr, ValueKind::kFlag, "the first page alone"},
           {"--good", "DB", ValueKind::kText, "the least margin called good: 0 to 20 (default 3)"},
           {"--marginal", "DB", ValueKind::kText,
            "the least margin called marginal: 0 to --good (default 1);\n"
            "below it, poor"},
       },
       false, "Job details left out are not shown. A log without entries is an error, as in\n"
              "the program's Export (.csv).\n",
       RunReportCommand},
      {"read", "", "download the meter's log into a log file",
       "Downloads the whole log of the meter with the program's own Read code, and\n"
       "writes it as LOG.ulg (default: sq71-YYYYMMDD-HHMMSS.ulg in the current folder,\n"
       "its name printed on standard output) and, with --csv, as the CSV file that\n"
       "Export (.csv) writes. Files are replaced only by complete new ones; their\n"
       "folders are checked before the meter is asked for anything.\n",
       {
           {"-o,--output", "LOG.ulg", ValueKind::kLog,
            "the log file to write (\"-\": standard output, never a\n"
            "terminal)"},
           {"--csv", "OUT.csv", ValueKind::kCsv,
            "also write the entries as CSV (\"-\": standard output)"},
           {"--keep-partial", nullptr, ValueKind::kFlag,
            "after a fault or Ctrl-C, write the records that came,\n"
            "followed by the end of the log (exit status stays 1 or 130)"},
           {"--retries", "N", ValueKind::kNumber,
            "ask again for a record whose reply failed, up to N times\n"
            "(default 2; 0 ends the read at the first bad reply)",
            0, 100},
           {"--resume", "PARTIAL.ulg", ValueKind::kLog,
            "go on from where a --keep-partial log ends, once its last\n"
            "record is found unchanged on the meter; writes the whole log\n"
            "(default: over PARTIAL.ulg)"},
       },
       true,
       "On a terminal a progress bar is drawn on standard error; otherwise two lines\n"
       "come at the end, the figures and the names saved. A fault that outlasts its retries writes nothing and\n"
       "exits 1 (an unplugged meter is not retried). Ctrl-C stops after the exchange\n"
       "under way, closes the device and exits 130.\n",
       RunReadCommand},
      {"erase", "", "erase the log kept in the meter",
       "Erases the meter's log, as the program's Erase Log does, after asking on the\n"
       "terminal, naming the meter. Without a terminal nothing is sent unless --yes is\n"
       "given (exit 2).\n",
       {
           {"-y,--yes", nullptr, ValueKind::kFlag, "erase without asking"},
       },
       true, "", RunEraseCommand},
      {"devices", "", "list the meters that answer",
       "Asks every attached device to identify itself, as the program's Version does\n"
       "(identity check included), and prints one line per meter that answers: its\n"
       "index, its name and, where known, its serial number or port, tab-separated;\n"
       "then the count (not with -q). No meter is not an error.\n",
       {}, true, "", RunDevicesCommand},
      {"doctor", "", "say why no meter answers, and what to do",
       "Looks through every backend built in (with DEVICE options, the ones named):\n"
       "the FTDI chips on USB that libftdi sees (ids, place, description, serial\n"
       "number, kernel driver), the serial ports, and whether FTDI's own library\n"
       "loads and its version. Each device is tried as a meter; for each that does\n"
       "not answer it says why (not the meter's chip or description, permission\n"
       "denied, busy, held by the kernel's ftdi_sio, no answer). The last line says\n"
       "what to do next. Exit status 0 when a meter answered, 1 when none did.\n",
       {}, true, "", RunDoctorCommand},
      {"completion", "SHELL", "print the shell completion script (bash or zsh)",
       "Prints a script that completes sq71's commands, options, backend names and log\n"
       "files in SHELL, bash or zsh. The Debian package installs both; by hand:\n"
       "  bash: sq71 completion bash > ~/.local/share/bash-completion/completions/sq71\n"
       "  zsh:  sq71 completion zsh > ~/.zfunc/_sq71  (with ~/.zfunc in fpath)\n",
       {}, false, "", RunCompletionCommand},
      {"help", "[COMMAND]", "show this help, or the help of one command",
       "Shows the commands, or everything about one of them. Also: sq71 --help,\n"
       "sq71 COMMAND --help.\n",
       {}, false, "", nullptr},
  };
  return table;
}

// "-o,--output" and "LOG.ulg" as the help shows them: "-o, --output LOG.ulg".
std::string HelpNames(const OptionRow& option) {
  std::string names;
  for (const char* c = option.names; *c != '\0'; ++c) {
    names += *c;
    if (*c == ',') names += ' ';
  }
  if (option.value != nullptr) names.append(" ").append(option.value);
  return names;
}

void WriteOptions(const std::vector<OptionRow>& options, std::ostream& out) {
  for (const OptionRow& option : options) {
    std::string left = "  ";
    left += HelpNames(option);
    // A long name takes a line of its own, its help the lines after.
    if (left.size() + 2 > kHelpColumn) {
      out << left << "\n";
      left.clear();
    }
    std::istringstream help(option.help);
    for (std::string line; std::getline(help, line); left.clear()) {
      left.resize(kHelpColumn, ' ');
      out << left << line << "\n";
    }
  }
}

// What the usage line shows of an option: "[-o LOG.ulg]", "[--json]".
std::string UsageOf(const OptionRow& option) {
  const std::string names = option.names;
  std::string usage = "[";
  if (option.value == nullptr) {
    usage += LongName(option);
  } else {
    usage.append(names, 0, names.find(',')).append(" ").append(option.value);
  }
  return usage + "]";
}

// "Usage: sq71 NAME ...", wrapped at 80 columns under the command's name.
std::string UsageLine(const CommandRow& command) {
  std::vector<std::string> words;
  for (const OptionRow& option : command.options) words.push_back(UsageOf(option));
  if (command.device_options) words.emplace_back("[DEVICE]");
  if (*command.operands != '\0') words.emplace_back(command.operands);
  std::string usage = std::string("Usage: sq71 ") + command.name;
  const std::string indent(usage.size(), ' ');
  std::size_t line_start = 0;
  for (const std::string& word : words) {
    if (usage.size() - line_start + 1 + word.size() > 79) {
      usage += "\n" + indent;
      line_start = usage.size() - indent.size();
    }
    usage += " " + word;
  }
  return usage;
}

}  // namespace

const std::vector<CommandRow>& CommandTable() { return Table(); }

const std::vector<OptionRow>& DeviceOptionRows() {
  static const std::vector<OptionRow> rows = {
      {"-d,--device", "INDEX", ValueKind::kNumber,
       "the meter INDEX among the attached devices (default 0)"},
      {"--port", "PATH", ValueKind::kPort,
       "a serial port (/dev/ttyUSB0, /dev/cu.usbserial-XXXX)"},
      {"--backend", "NAME", ValueKind::kBackend, BackendHelp()},
      {"--sim", "[SCENARIO]", ValueKind::kScenario,
       "the built-in demo meter; with a scenario file, its\n"
       "simulated meters"},
      {"--trace", "FILE", ValueKind::kFile,
       "record every driver call in FILE (\"-\": standard error)"},
      {"-q,--quiet", nullptr, ValueKind::kFlag,
       "no progress and no counts: only data on standard output,\n"
       "only errors on standard error"},
  };
  return rows;
}

const CommandRow* FindCommand(const std::string& name) {
  for (const CommandRow& command : Table()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

std::string LongName(const OptionRow& option) {
  const std::string names = option.names;
  return names.substr(names.rfind(',') + 1);
}

void WriteToolHelp(std::ostream& out) {
  out << "Usage: sq71 COMMAND [ARGUMENTS]\n"
         "\n"
         "Downloads, shows, exports and reports the logs of the SQ-71 Meter.\n"
         "\n"
         "Commands:\n";
  for (const CommandRow& command : Table()) {
    std::string left = command.name;
    if (!command.options.empty() || command.device_options) left += " [OPTIONS]";
    if (*command.operands != '\0') left += std::string(" ") + command.operands;
    if (left.size() < 24) left.resize(24, ' ');
    out << "  " << left << "  " << command.summary << "\n";
  }
  out << "\n"
         "Options:\n"
         "  -h, --help                show help (also after a command: sq71 view --help)\n"
         "  --version                 show the version\n"
         "\n"
         "Try the meter commands without a meter: sq71 read --sim (a built-in demo meter).\n"
         "No meter answers? sq71 doctor says why.\n"
         "\n"
         "Exit status: 0 success, 1 failure, 2 wrong usage, 130 interrupted (Ctrl-C).\n";
}

void WriteCommandHelp(const CommandRow& command, std::ostream& out) {
  out << UsageLine(command) << "\n\n" << command.details;
  if (!command.options.empty()) {
    out << "\n";
    WriteOptions(command.options, out);
  }
  if (command.device_options) {
    out << "\nDEVICE:\n";
    WriteOptions(DeviceOptionRows(), out);
  }
  if (*command.notes != '\0') out << "\n" << command.notes;
}

}  // namespace sq71
