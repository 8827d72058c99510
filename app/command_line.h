#ifndef SQ71_APP_COMMAND_LINE_H
#define SQ71_APP_COMMAND_LINE_H

#include <string>
#include <string_view>

namespace sq71 {

// Returns 1 when the command line selects quiet mode ("+Q", the two characters
// adjacent, Q in upper case), else 0. A null command line counts as empty.
int ScanQuietFlag(const char* command_line);

// The arguments of a whole command line (as GetCommandLine gives it): what
// follows the program's name, quoted or not, and the blanks after it.
std::string_view ArgumentsOf(std::string_view command_line);

// The log file named among the arguments, "" when none: the first quoted
// argument, else the unquoted text from the first word to the last, blanks
// between words kept, so a path with spaces needs no quotes. Words starting
// with '+' are switches, never part of the path.
std::string FileArgument(std::string_view arguments);

}  // namespace sq71

#endif
