// Opens a report just written in the program the user has for .html files.
#ifndef SQ71_APP_REPORT_OPEN_WIN32_H
#define SQ71_APP_REPORT_OPEN_WIN32_H

#include <windows.h>

namespace sq71 {

// Hands path (UTF-8, full) to the shell's "open". When the shell cannot open
// it, a box owned by owner says where the report was written and that it
// could not be opened; the report itself stays as written.
void OpenWrittenReport(HWND owner, const char* path);

}  // namespace sq71

#endif
