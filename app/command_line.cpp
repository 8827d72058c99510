#include "app/command_line.h"

namespace sq71 {

int ScanQuietFlag(const char* command_line) {
  int quiet = 0;
  if (command_line == nullptr) return quiet;
  const char* p = command_line;
  while (*p != '\0') {
    if (*p == '+') {
      ++p;  // the character after a '+' is examined only as a 'Q'
      if (*p == 'Q') quiet = 1;
      if (*p == '\0') break;  // a '+' at the very end: never step past the NUL
    }
    ++p;
  }
  return quiet;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string_view ArgumentsOf(std::string_view command_line) {
  std::size_t i = 0;
  if (!command_line.empty() && command_line[0] == '"') {
    const std::size_t close = command_line.find('"', 1);
    i = close == std::string_view::npos ? command_line.size() : close + 1;
  }
  while (i < command_line.size() && !IsBlank(command_line[i])) ++i;
  while (i < command_line.size() && IsBlank(command_line[i])) ++i;
  return command_line.substr(i);
}

std::string FileArgument(std::string_view arguments) {
  std::size_t first = std::string_view::npos;  // the unquoted path's extent
  std::size_t last = 0;
  std::size_t i = 0;
  while (i < arguments.size()) {
    if (IsBlank(arguments[i])) {
      ++i;
      continue;
    }
    if (arguments[i] == '"') {
      const std::size_t close = arguments.find('"', i + 1);
      const std::size_t end = close == std::string_view::npos ? arguments.size() : close;
      std::string quoted(arguments.substr(i + 1, end - i - 1));
      if (!quoted.empty()) return quoted;
      i = end + 1;
      continue;
    }
    std::size_t end = i;
    while (end < arguments.size() && !IsBlank(arguments[end]) && arguments[end] != '"') ++end;
    if (arguments[i] != '+') {
      if (first == std::string_view::npos) first = i;
      last = end;
    }
    i = end;
  }
  if (first == std::string_view::npos) return std::string();
  return std::string(arguments.substr(first, last - first));
}

}  // namespace sq71
