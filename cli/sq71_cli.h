// The sq71 command-line tool, as a function the tests can call.
#ifndef SQ71_CLI_SQ71_CLI_H
#define SQ71_CLI_SQ71_CLI_H

#include <iosfwd>
#include <istream>
#include <string>
#include <vector>

#include "log/log_image.h"

namespace sq71 {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Exit status after Ctrl-C (SIGINT, SIGTERM): 128 + SIGINT, as shells report it.
constexpr int kExitInterrupted = 130;

// Where a run talks to its user besides out and err.
struct Console {
  std::istream* in = nullptr;  // answers to questions; null: none can be asked
  bool in_terminal = false;    // questions are asked only on a terminal
  bool err_terminal = false;   // a progress bar only on a terminal
  // Standard output is a terminal: outside text is escaped there (export -)
  // and a binary log is never written to it.
  bool out_terminal = false;
};

// The name that means standard output wherever a file is written.
constexpr char kStandardOutput[] = "-";

// Where a command writes its results and errors, and what it may ask.
struct CommandIo {
  std::ostream& out;
  std::ostream& err;
  const Console& console;
};

// Runs "sq71 ARGS...": argv[0] is the program's name. Results go to out, help
// to out when asked for, errors (one line each) to err. out should be binary
// (no CR added on Windows): exports write their CR LF themselves.
int RunSq71(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
            const Console& console = Console());

// The file commands, and the script of "sq71 completion SHELL"; args are
// what follows the command's name.
int RunViewCommand(const std::vector<std::string>& args, CommandIo& io);
int RunExportCommand(const std::vector<std::string>& args, CommandIo& io);
int RunCompletionCommand(const std::vector<std::string>& args, CommandIo& io);

// Shared by the commands that read a log file: each reports on err, in one
// line naming the file, why it cannot be used.
bool ReadLogFile(const std::string& path, LogImage* image, std::ostream& err);
// The entry count; 0 after saying there is nothing to show.
int CountEntries(const LogImage& image, const std::string& path, std::ostream& err);
// Flushes io.out; false after saying that standard output failed.
bool StandardOutputFlushed(CommandIo& io);
// The text of an errno for a file that cannot be read or written.
const char* ErrorReason(int error);

}  // namespace sq71

#endif
