#include "cli/command_parser.h"

#include <sstream>

#include "cli/backend_select.h"
#include "cli/sq71_cli.h"
#include "ui/message_quote.h"

namespace sq71 {
namespace {

void AddOption(const OptionRow& row, const OptionBindings::Target& target, CLI::App& app) {
  CLI::Option* option = nullptr;
  if (bool* const* flag = std::get_if<bool*>(&target)) {
    app.add_flag(row.names, **flag);
    return;
  }
  if (std::string* const* text = std::get_if<std::string*>(&target)) {
    option = app.add_option(row.names, **text);
  } else if (int* const* number = std::get_if<int*>(&target)) {
    option = app.add_option(row.names, **number);
  } else if (double* const* real = std::get_if<double*>(&target)) {
    option = app.add_option(row.names, **real);
  } else {
    option = app.add_option_function<std::string>(row.names, std::get<OptionBindings::Take>(target));
  }
  if (row.max > row.min) option->check(CLI::Range(row.min, row.max));
  if (row.kind == ValueKind::kBackend) option->check(CLI::IsMember(BackendNames()));
  if (row.kind == ValueKind::kScenario) option->expected(0, 1);
}

void AddOptions(const std::vector<OptionRow>& rows, const OptionBindings& bindings,
                CLI::App& app) {
  for (const OptionRow& row : rows) {
    if (const OptionBindings::Target* target = bindings.Find(LongName(row))) {
      AddOption(row, *target, app);
    }
  }
}

}  // namespace

const OptionBindings::Target* OptionBindings::Find(const std::string& long_name) const {
  const auto found = targets_.find(long_name);
  return found == targets_.end() ? nullptr : &found->second;
}

void BuildParser(const CommandRow& command, const OptionBindings& bindings, CLI::App& app) {
  AddOptions(command.options, bindings, app);
  if (command.device_options) AddOptions(DeviceOptionRows(), bindings, app);
}

void OperandCounts(const CommandRow& command, std::size_t* min, std::size_t* max) {
  std::istringstream words(command.operands);
  *min = *max = 0;
  for (std::string word; words >> word; ++*max) {
    if (word[0] != '[') ++*min;
  }
}

int UsageError(const std::string& command, const std::string& what, std::ostream& err) {
  err << "sq71: " << command << ": " << what << " (see 'sq71 help " << command << "')\n";
  return kExitUsage;
}

bool ParseArguments(CLI::App& app, const std::vector<std::string>& args, const char* command,
                    std::ostream& err, int* status) {
  app.set_help_flag();
  app.allow_windows_style_options(false);
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    *status = UsageError(command, EscapeForMessage(e.what()), err);
    return false;
  }
  return true;
}

bool ParseOperands(const std::vector<std::string>& args, const char* command,
                   const char* operands_usage, std::size_t min, std::size_t max, const char* flag,
                   bool* flagged, std::vector<std::string>* operands, std::ostream& err,
                   int* status) {
  CLI::App app;
  app.add_option("operands", *operands);
  if (flag != nullptr) app.add_flag(flag, *flagged);
  // Unknown options are told by name below, not in CLI11's words.
  app.allow_extras();
  if (!ParseArguments(app, args, command, err, status)) return false;
  // CLI11 leaves "--" and what follows it among the extras.
  bool options_ended = false;
  for (const std::string& extra : app.remaining()) {
    if (!options_ended && extra == "--") {
      options_ended = true;
      continue;
    }
    if (!options_ended && extra.size() > 1 && extra[0] == '-') {
      *status = UsageError(command, "unknown option " + QuoteForMessage(extra), err);
      return false;
    }
    operands->push_back(extra);
  }
  if (operands->size() < min || operands->size() > max) {
    *status = UsageError(command,
                         std::string("expected ") + operands_usage + ", got " +
                             std::to_string(operands->size()) +
                             (operands->size() == 1 ? " argument" : " arguments"),
                         err);
    return false;
  }
  return true;
}

}  // namespace sq71
