// The main window's file commands (Load, Save, Export), View and About: each
// fills the file chooser's buffers from its remembered folder, runs the
// chooser, stores the folder back and acts on the chosen file.
#ifndef SQ71_APP_FILE_COMMANDS_WIN32_H
#define SQ71_APP_FILE_COMMANDS_WIN32_H

#include <windows.h>

namespace sq71 {

void RunLoadCommand(HWND main);    // 32780
void RunSaveCommand(HWND main);    // 32784
void RunExportCommand(HWND main);  // 32806
void RunViewCommand(HWND main);    // 32807
// 32808: the installation report, through the chooser, then opened in the
// default browser.
void RunExportReportCommand(HWND main);
void RunAboutCommand(HWND main);  // 104

// Ends a running download before a loaded file replaces the log image, so
// the next tick cannot write a meter record into the loaded log: stops the
// transfer timer, clears the reading flag and closes the device. Does nothing
// when no download runs.
void StopTransferForLoad();

// Loads path (UTF-8) as File > Load loads the file chosen: same messages,
// quiet mode honoured. For a file named on the command line.
void LoadLogFile(const char* path);

}  // namespace sq71

#endif
