// Writes the simulated meter's sample log as a .ulg file (the raw 65,536-byte
// log image), so the same bytes can be checked in as test data.
#include <cstdio>

#include "sim/sample_log.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.ulg\n", argv[0]);
    return 2;
  }
  const sq71::LogImage image = sq71::sim::MakeSampleLog();
  std::FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
  if (std::fclose(f) != 0 || !ok) {
    std::fprintf(stderr, "%s: write failed\n", argv[1]);
    return 1;
  }
  return 0;
}
