// The one way every sq71 command reads its arguments: CLI11, with the
// tool's usage errors on one line.
#ifndef SQ71_CLI_COMMAND_PARSER_H
#define SQ71_CLI_COMMAND_PARSER_H

#include <CLI/CLI.hpp>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "cli/command_table.h"

namespace sq71 {

// Where a command's options go once parsed, by their long names: the Run
// function keeps its variables, the table keeps the options' names and help.
class OptionBindings {
 public:
  using Take = std::function<void(const std::string&)>;
  using Target = std::variant<std::string*, bool*, int*, double*, Take>;

  OptionBindings& Bind(const std::string& long_name, Target target) {
    targets_[long_name] = std::move(target);
    return *this;
  }
  const Target* Find(const std::string& long_name) const;

 private:
  std::map<std::string, Target> targets_;
};

// Declares the command's options from its row (and the DEVICE options when
// it takes them) on app, each into its binding; an option without one is
// left out. Numbers with a range are checked, --backend against the
// backends' names, and --sim may come without a file.
void BuildParser(const CommandRow& command, const OptionBindings& bindings, CLI::App& app);

// A command's least and most operand counts, from its usage ("[COMMAND]" is
// optional).
void OperandCounts(const CommandRow& command, std::size_t* min, std::size_t* max);

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
