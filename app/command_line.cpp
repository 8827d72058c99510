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

}  // namespace sq71
