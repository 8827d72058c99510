// Writes the simulated meter's sample log as a .ulg file (the raw 65,536-byte
// log image), so the same bytes can be checked in as test data.
#include <cstdio>

#include "log/log_files.h"
#include "sim/sample_log.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample_log OUTPUT.ulg\n");
    return 2;
  }
  const sq71::FileResult result = sq71::WriteUlgFile(argv[1], sq71::sim::MakeSampleLog());
  if (!result.ok()) {
    std::fprintf(stderr, "make_sample_log: %s\n", sq71::WriteFailureText(argv[1], result).c_str());
    return 1;
  }
  return 0;
}
