// sq71: the command-line tool for the SQ-71 Meter and its logs.
#include <iostream>
#include <string>
#include <vector>

#include "cli/platform.h"
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
  sq71::Console console;
  console.in = &std::cin;
  console.in_terminal = sq71::StdinIsTerminal();
  console.out_terminal = sq71::StdoutIsTerminal();
  console.err_terminal = sq71::StderrIsTerminal();
  std::vector<std::string> arguments = sq71::StartArguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return sq71::RunSq71(static_cast<int>(arguments.size()), pointers.data(), std::cout, std::cerr,
                       console);
}
