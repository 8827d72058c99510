// The shell completion scripts, written from the command table.
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/backend_select.h"
#include "cli/command_table.h"

namespace sq71 {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

std::vector<std::string> CommandNames() {
  std::vector<std::string> names;
  for (const CommandRow& command : CommandTable()) names.emplace_back(command.name);
  return names;
}

// Every option of a command, its own and the DEVICE ones.
std::vector<OptionRow> OptionsOf(const CommandRow& command) {
  std::vector<OptionRow> options = command.options;
  if (command.device_options) {
    options.insert(options.end(), DeviceOptionRows().begin(), DeviceOptionRows().end());
  }
  return options;
}

// The words a value of this kind may be, or "" when it is a file or free.
std::string Words(ValueKind kind) {
  switch (kind) {
    case ValueKind::kBackend:
      return Joined(BackendNames());
    case ValueKind::kCommand:
      return Joined(CommandNames());
    case ValueKind::kShell:
      return "bash zsh";
    default:
      return "";
  }
}

// The file pattern a value of this kind takes ("" any file), or null when
// no file is offered.
const char* Pattern(ValueKind kind) {
  switch (kind) {
    case ValueKind::kLog:
      return "*.ulg";
    case ValueKind::kCsv:
      return "*.csv";
    case ValueKind::kHtml:
      return "*.html";
    case ValueKind::kFile:
    case ValueKind::kScenario:
    case ValueKind::kPort:
      return "";
    default:
      return nullptr;
  }
}

// The bash lines that offer what a value of this kind may be.
std::string BashOffer(ValueKind kind) {
  const std::string words = Words(kind);
  if (!words.empty()) return "COMPREPLY=($(compgen -W \"" + words + "\" -- \"$cur\"))";
  if (kind == ValueKind::kPort) return "_sq71_files '' \"${cur:-/dev/}\"";
  const char* pattern = Pattern(kind);
  if (pattern == nullptr) return ":";
  return std::string("_sq71_files '") + pattern + "' \"$cur\"";
}

// Text for inside a single-quoted zsh option argument and its [description].
// Its lines joined into one, brackets, colons and backslashes left out (they
// mean something there) and a quote closed and opened around.
std::string ZshText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '[' || c == ']' || c == ':' || c == '\\') continue;
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c == '\n' ? ' ' : c;
    }
  }
  return out;
}

std::string ZshAction(ValueKind kind) {
  const std::string words = Words(kind);
  if (!words.empty()) return "(" + words + ")";
  if (kind == ValueKind::kPort) return "_files -W /dev";
  const char* pattern = Pattern(kind);
  if (pattern == nullptr) return " ";
  if (*pattern == '\0') return "_files";
  return std::string("_files -g \"") + pattern + "(-.)\"";
}

}  // namespace

ValueKind OperandKind(const std::string& operand) {
  const std::string name = operand.substr(operand[0] == '[' ? 1 : 0);
  if (name.rfind("COMMAND", 0) == 0) return ValueKind::kCommand;
  if (name.rfind("SHELL", 0) == 0) return ValueKind::kShell;
  if (name.find(".csv") != std::string::npos) return ValueKind::kCsv;
  if (name.find(".html") != std::string::npos) return ValueKind::kHtml;
  if (name.find(".ulg") != std::string::npos) return ValueKind::kLog;
  return ValueKind::kFile;
}

void WriteBashCompletion(std::ostream& out) {
  out << "# bash completion for sq71 (sq71 completion bash)\n"
         "_sq71_files() {\n"
         "  local IFS=$'\\n'\n"
         "  if [ -n \"$1\" ]; then\n"
         "    COMPREPLY=($(compgen -d -- \"$2\") $(compgen -f -X \"!$1\" -- \"$2\"))\n"
         "  else\n"
         "    COMPREPLY=($(compgen -f -- \"$2\"))\n"
         "  fi\n"
         "}\n"
         "_sq71() {\n"
         "  local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
         "  COMPREPLY=()\n"
         "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
         "    COMPREPLY=($(compgen -W \""
      << Joined(CommandNames())
      << " --help --version\" -- \"$cur\"))\n"
         "    return\n"
         "  fi\n"
         "  local command=\"${COMP_WORDS[1]}\" options=\"\" valued=\" \"\n"
         "  case \"$command\" in\n";
  for (const CommandRow& command : CommandTable()) {
    std::vector<std::string> names{"--help"};
    std::string valued;
    for (const OptionRow& option : OptionsOf(command)) {
      for (const std::string& name : Split(option.names, ',')) {
        names.push_back(name);
        if (option.value != nullptr) valued += name + " ";
      }
    }
    out << "    " << command.name << ") options=\"" << Joined(names) << "\" valued=\" " << valued
        << "\" ;;\n";
  }
  out << "  esac\n"
         "  # The value of the option just before.\n"
         "  case \"$command $prev\" in\n";
  for (const CommandRow& command : CommandTable()) {
    for (const OptionRow& option : OptionsOf(command)) {
      if (option.value == nullptr) continue;
      std::string cases;
      for (const std::string& name : Split(option.names, ',')) {
        cases += (cases.empty() ? "\"" : "|\"") + std::string(command.name) + " " + name + "\"";
      }
      out << "    " << cases << ") " << BashOffer(option.kind) << "; return ;;\n";
    }
  }
  out << "  esac\n"
         "  if [[ \"$cur\" == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
         "    return\n"
         "  fi\n"
         "  # Which operand this is: the words so far that are neither options nor\n"
         "  # their values.\n"
         "  local i n=0\n"
         "  for ((i = 2; i < COMP_CWORD; i++)); do\n"
         "    case \"${COMP_WORDS[i]}\" in\n"
         "      -*) [[ \"$valued\" == *\" ${COMP_WORDS[i]} \"* ]] && ((i++)) ;;\n"
         "      *) ((n++)) ;;\n"
         "    esac\n"
         "  done\n"
         "  case \"$command $n\" in\n";
  for (const CommandRow& command : CommandTable()) {
    const std::vector<std::string> operands = Split(command.operands, ' ');
    for (std::size_t i = 0; i < operands.size(); ++i) {
      out << "    \"" << command.name << " " << i << "\") " << BashOffer(OperandKind(operands[i]))
          << " ;;\n";
    }
  }
  out << "  esac\n"
         "}\n"
         "complete -o filenames -F _sq71 sq71\n";
}

void WriteZshCompletion(std::ostream& out) {
  out << "#compdef sq71\n"
         "# zsh completion for sq71 (sq71 completion zsh)\n"
         "_sq71() {\n"
         "  local -a commands\n"
         "  commands=(\n";
  for (const CommandRow& command : CommandTable()) {
    out << "    '" << command.name << ":" << ZshText(command.summary) << "'\n";
  }
  out << "  )\n"
         "  if (( CURRENT == 2 )); then\n"
         "    _describe -t commands 'sq71 command' commands\n"
         "    return\n"
         "  fi\n"
         "  local command=${words[2]}\n"
         "  shift words\n"
         "  (( CURRENT-- ))\n"
         "  case $command in\n";
  for (const CommandRow& command : CommandTable()) {
    out << "    " << command.name << ")\n      _arguments \\\n        '--help[show help]'";
    for (const OptionRow& option : OptionsOf(command)) {
      const std::string help = ZshText(option.help);
      for (const std::string& name : Split(option.names, ',')) {
        out << " \\\n        '" << name << "[" << help << "]";
        if (option.value != nullptr) {
          // An optional value (--sim alone) takes two colons.
          out << (option.kind == ValueKind::kScenario ? "::" : ":") << ZshText(option.value) << ":"
              << ZshAction(option.kind);
        }
        out << "'";
      }
    }
    const std::vector<std::string> operands = Split(command.operands, ' ');
    for (std::size_t i = 0; i < operands.size(); ++i) {
      const bool optional = operands[i][0] == '[';
      out << " \\\n        '" << (i + 1) << (optional ? "::" : ":") << ZshText(operands[i]) << ":"
          << ZshAction(OperandKind(operands[i])) << "'";
    }
    out << " ;;\n";
  }
  out << "  esac\n"
         "}\n"
         "_sq71 \"$@\"\n";
}

}  // namespace sq71
