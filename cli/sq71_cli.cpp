#include "cli/sq71_cli.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "cli/command_parser.h"
#include "cli/command_table.h"
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

bool Flushed(CommandIo& io) { return StandardOutputFlushed(io); }

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

int ToolUsageError(const std::string& what, CommandIo& io) {
  io.err << "sq71: " << what << " (see 'sq71 --help')\n";
  return kExitUsage;
}

bool IsHelpOption(const std::string& arg) { return arg == "-h" || arg == "--help"; }

// The operands of a file command, with the one flag its row has if any.
bool Operands(const char* name, const Args& args, Args* operands, bool* flagged, CommandIo& io,
              int* status) {
  const CommandRow& command = *FindCommand(name);
  std::size_t min = 0, max = 0;
  OperandCounts(command, &min, &max);
  const std::string flag = command.options.empty() ? "" : LongName(command.options[0]);
  return ParseOperands(args, name, command.operands, min, max,
                       flag.empty() ? nullptr : flag.c_str(), flagged, operands, io.err, status);
}

}  // namespace

int RunViewCommand(const std::vector<std::string>& args, CommandIo& io) {
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--json") return RunViewJson(args, io);
  }
  Args operands;
  bool json = false;
  int status = kExitOk;
  if (!Operands("view", args, &operands, &json, io, &status)) return status;
  return RunView(operands, io);
}

int RunExportCommand(const std::vector<std::string>& args, CommandIo& io) {
  Args operands;
  int status = kExitOk;
  if (!Operands("export", args, &operands, nullptr, io, &status)) return status;
  return RunExport(operands, io);
}

int RunCompletionCommand(const std::vector<std::string>& args, CommandIo& io) {
  Args operands;
  int status = kExitOk;
  if (!Operands("completion", args, &operands, nullptr, io, &status)) return status;
  if (operands[0] == "bash") {
    WriteBashCompletion(io.out);
  } else if (operands[0] == "zsh") {
    WriteZshCompletion(io.out);
  } else {
    return UsageError("completion", "no completion for " + Quoted(operands[0]) + " (bash or zsh)",
                      io.err);
  }
  return Flushed(io) ? kExitOk : kExitFailure;
}

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

bool StandardOutputFlushed(CommandIo& io) {
  io.out.flush();
  if (io.out.good()) return true;
  io.err << "sq71: cannot write to standard output\n";
  return false;
}

int RunSq71(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
            const Console& console) {
  CommandIo io{out, err, console};
  Args args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  if (args.empty()) return ToolUsageError("no command given", io);

  const std::string& first = args[0];
  if (IsHelpOption(first)) {
    WriteToolHelp(out);
    return kExitOk;
  }
  if (first == "--version") {
    out << "sq71 " << SQ71_VERSION << "\n";
    return kExitOk;
  }
  if (first == "help") {
    if (args.size() == 1) {
      WriteToolHelp(out);
      return kExitOk;
    }
    if (args.size() > 2) return ToolUsageError("help: expected at most one command", io);
    const CommandRow* command = FindCommand(args[1]);
    if (command == nullptr) return ToolUsageError("unknown command " + Quoted(args[1]), io);
    WriteCommandHelp(*command, out);
    return kExitOk;
  }
  if (first.size() > 1 && first[0] == '-') {
    return ToolUsageError("unknown option " + Quoted(first), io);
  }
  const CommandRow* command = FindCommand(first);
  if (command == nullptr || command->run == nullptr) {
    return ToolUsageError("unknown command " + Quoted(first), io);
  }
  const Args rest(args.begin() + 1, args.end());
  for (const std::string& arg : rest) {
    if (arg == "--") break;
    if (IsHelpOption(arg)) {
      WriteCommandHelp(*command, io.out);
      return kExitOk;
    }
  }
  return command->run(rest, io);
}

}  // namespace sq71
