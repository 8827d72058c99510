// The one way every sq71 command reads its arguments: CLI11, with the
// tool's usage errors on one line.
#ifndef SQ71_CLI_COMMAND_PARSER_H
#define SQ71_CLI_COMMAND_PARSER_H

#include <CLI/CLI.hpp>
#include <ostream>
#include <string>
#include <vector>

namespace sq71 {

// "sq71: COMMAND: WHAT (see 'sq71 help COMMAND')"; returns kExitUsage.
int UsageError(const std::string& command, const std::string& what, std::ostream& err);

// Parses a command's arguments (after its name) into what app declares.
// False, with the usage error reported and *status set, when CLI11 refuses
// them. Help options are answered before this.
bool ParseArguments(CLI::App& app, const std::vector<std::string>& args, const char* command,
                    std::ostream& err, int* status);

// A command that takes operands (a file name or two) and at most one flag
// (null: none; *flagged tells whether it was given). False, with the usage
// error reported, for an option it does not have or a wrong count. "--" ends
// the options: a leading dash is a file name after it.
bool ParseOperands(const std::vector<std::string>& args, const char* command,
                   const char* operands_usage, std::size_t min, std::size_t max, const char* flag,
                   bool* flagged, std::vector<std::string>* operands, std::ostream& err,
                   int* status);

}  // namespace sq71

#endif
