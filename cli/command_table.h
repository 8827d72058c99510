// The one table of sq71's commands and their options. The CLI11 parsers
// (command_parser.h), the help texts, the manual page (made from the help)
// and the shell completion scripts are all built from it, so an option is
// declared once.
#ifndef SQ71_CLI_COMMAND_TABLE_H
#define SQ71_CLI_COMMAND_TABLE_H

#include <iosfwd>
#include <string>
#include <vector>

namespace sq71 {

struct CommandIo;

// What an option's value or an operand is, for the parser's checks and for
// what completion offers.
enum class ValueKind {
  kFlag,      // no value
  kText,      // anything
  kNumber,    // a number (min..max when max > min)
  kLog,       // a .ulg log file
  kCsv,       // a .csv file
  kHtml,      // an .html file
  kFile,      // any file
  kPort,      // a serial port's device node
  kBackend,   // one of the backends' names
  kScenario,  // a scenario file, or none at all (the demo meter)
  kCommand,   // one of the commands' names
  kShell,     // a shell that completion is written for
};

// What an operand named in a usage line is ("OUT.csv": a CSV file).
ValueKind OperandKind(const std::string& operand);

struct OptionRow {
  const char* names;  // as CLI11 takes them: "-o,--output"
  const char* value;  // its name in the help ("LOG.ulg"); null for a flag
  ValueKind kind;
  const char* help;  // lines separated by '\n'
  double min = 0;    // the range of a number, when max > min
  double max = 0;
};

struct CommandRow {
  const char* name;
  // "LOG.ulg OUT.csv"; "" when none. What completion offers for each
  // follows from its name (a .ulg, .csv or .html file, SHELL, COMMAND).
  const char* operands;
  const char* summary;  // one line for the command list
  const char* details;  // what the help says before the options
  std::vector<OptionRow> options;
  bool device_options;  // takes the DEVICE options of the meter commands
  const char* notes;    // what the help says after the options ("" when nothing)
  int (*run)(const std::vector<std::string>& args, CommandIo& io);
};

// Every command, in the order the help lists them.
const std::vector<CommandRow>& CommandTable();
// The options every meter command takes.
const std::vector<OptionRow>& DeviceOptionRows();
// Null when there is no such command.
const CommandRow* FindCommand(const std::string& name);

// The long name of an option ("--output"), or its only name.
std::string LongName(const OptionRow& option);

// "sq71 --help" and "sq71 help NAME".
void WriteToolHelp(std::ostream& out);
void WriteCommandHelp(const CommandRow& command, std::ostream& out);

// "sq71 completion bash|zsh": a script offering the commands, their
// options, the backends' names and the files each value wants.
void WriteBashCompletion(std::ostream& out);
void WriteZshCompletion(std::ostream& out);

}  // namespace sq71

#endif
