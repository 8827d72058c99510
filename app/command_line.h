#ifndef SQ71_APP_COMMAND_LINE_H
#define SQ71_APP_COMMAND_LINE_H

namespace sq71 {

// Returns 1 when the command line selects quiet mode ("+Q", the two characters
// adjacent, Q in upper case), else 0. A null command line counts as empty.
int ScanQuietFlag(const char* command_line);

}  // namespace sq71

#endif
