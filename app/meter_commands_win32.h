// The commands that talk to the meter (Read, Erase Log, Version) and the
// transfer timer's ticks, over the shared device object and the main window.
#ifndef SQ71_APP_METER_COMMANDS_WIN32_H
#define SQ71_APP_METER_COMMANDS_WIN32_H

#include <windows.h>

#include "protocol/transfer_engine.h"

namespace sq71 {

// The one transfer engine, over the program's transfer state, log image and
// main window.
TransferEngine& Engine();

void RunReadCommand();              // 32779: starts a log download
void RunEraseLogCommand();          // 32782: asks, then erases the meter's log
void RunVersionCommand(HWND main);  // 32801: lists the attached meters
void RunTransferTick();             // WM_TIMER 12345 while reading

}  // namespace sq71

#endif
