// sq71: the command-line tool for the SQ-71 Meter's logs.
#include <iostream>

#include "cli/sq71_cli.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  // CSV goes out with its own CR LF; text mode would make that CR CR LF.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  return sq71::RunSq71(argc, argv, std::cout, std::cerr);
}
