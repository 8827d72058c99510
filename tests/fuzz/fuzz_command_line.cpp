// The quiet-flag scan over any command line (up to its first NUL).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // A heap copy ending right after its NUL, so a read past the end is caught.
  auto text = std::make_unique<char[]>(size + 1);
  std::memcpy(text.get(), data, size);
  text[size] = '\0';
  const std::size_t length = std::strlen(text.get());
  const int quiet = sq71::ScanQuietFlag(text.get());

  // Quiet exactly when some "+Q" has an even run of '+' before its '+': the
  // scan steps over the character after each '+' it takes.
  int expected = 0;
  for (std::size_t i = 0; i + 1 < length && expected == 0; ++i) {
    if (text[i] != '+' || text[i + 1] != 'Q') continue;
    std::size_t run = 0;
    while (run < i && text[i - 1 - run] == '+') ++run;
    if (run % 2 == 0) expected = 1;
  }
  if (quiet != expected) std::abort();
  return 0;
}
