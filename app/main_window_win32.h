// The main window: command dispatch, the progress bar and the transfer timer.
#ifndef SQ71_APP_MAIN_WINDOW_WIN32_H
#define SQ71_APP_MAIN_WINDOW_WIN32_H

#include <windows.h>

#include "protocol/transfer_state.h"

namespace sq71 {

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Kills the transfer timer on window and clears the reading flag, which ends
// a download where it stands.
void StopTransferTimer(HWND window);

// Draws the progress bar of transfer into dc (client coordinates) at dpi
// with stock pens and brushes only.
void PaintProgressBar(HDC dc, const TransferState& transfer, UINT dpi = 96);

// Gives window the client area of the design at dpi, the menu bar on one
// line or more as it comes out.
void FitMainWindow(HWND window, UINT dpi);

}  // namespace sq71

#endif
