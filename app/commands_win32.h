// The main window's commands, one handler each. Every handler does its whole
// work before it returns (most of it inside a modal dialog), except Read,
// which only arms the transfer timer.
#ifndef SQ71_APP_COMMANDS_WIN32_H
#define SQ71_APP_COMMANDS_WIN32_H

#include <windows.h>

namespace sq71 {

void OnAbout(HWND main);     // 104: About box
void OnExit(HWND main);      // 32771: destroys the main window
void OnRead(HWND main);      // 32779: starts a log download
void OnLoad(HWND main);      // 32780: .ulg load through the file chooser
void OnEraseLog(HWND main);  // 32782: asks, then erases the meter's log
void OnSave(HWND main);      // 32784: .ulg save through the file chooser
void OnVersion(HWND main);   // 32801: lists the attached meters
void OnExport(HWND main);    // 32806: CSV export through the file chooser
void OnView(HWND main);      // 32807: Log Entries view
void OnReport(HWND main);    // 32808: the report, then the browser

// Runs the command with this id; false when the id is not one of ours.
bool RunCommand(HWND main, int id);

// One tick of the transfer timer while a download runs.
void OnTransferTick(HWND main);

}  // namespace sq71

#endif
