#include "log/key_value_text.h"

#include <sstream>

#include "ui/message_quote.h"

namespace sq71 {
namespace {

std::string Trim(const std::string& s) {
  const char* blanks = " \t\r\n";
  const std::size_t begin = s.find_first_not_of(blanks);
  if (begin == std::string::npos) return "";
  const std::size_t end = s.find_last_not_of(blanks);
  return s.substr(begin, end - begin + 1);
}

bool Line(const std::string& raw, const KeyValueSink& sink, std::string* error) {
  const std::string line = Trim(raw);
  if (line.empty() || line[0] == '#') return true;
  if (line[0] == '[') return sink(line, "", true, error);
  const std::size_t eq = line.find('=');
  if (eq == std::string::npos) {
    *error = "expected 'key = value', got '" + line + "'";
    return false;
  }
  const std::string key = Trim(line.substr(0, eq));
  std::string value = Trim(line.substr(eq + 1));
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  if (key.empty()) {
    *error = "missing key before '='";
    return false;
  }
  return sink(key, value, false, error);
}

}  // namespace

bool ParseKeyValueText(const std::string& text, const KeyValueSink& sink, std::string* error) {
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string why;
    if (!Line(line, sink, &why)) {
      if (error != nullptr) *error = "line " + std::to_string(number) + ": " + EscapeForMessage(why);
      return false;
    }
  }
  return true;
}

}  // namespace sq71
