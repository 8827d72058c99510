// The window's scale: pixel geometry is designed at 96 DPI and scaled to the
// DPI of the monitor a window is on. The newer calls are looked up at run
// time, so the program still starts where they are missing.
#ifndef SQ71_APP_DPI_WIN32_H
#define SQ71_APP_DPI_WIN32_H

#include <windows.h>

namespace sq71 {

constexpr UINT kDesignDpi = 96;

// Per-monitor awareness for this process, when no manifest has set it.
void BecomeDpiAware();

// Turns off the system's own scaling of a dialog and its controls' fonts when
// the dialog moves to a monitor of another scale (SetDialogDpiChangeBehavior,
// where the system has it), for a dialog that handles WM_DPICHANGED itself.
void KeepDialogScalingToItself(HWND dialog);

// GetDpiForWindow, else the screen's LOGPIXELSY.
UINT WindowDpi(HWND window);

// value, designed at 96 DPI, at dpi.
inline int Scaled(int value, UINT dpi) {
  return MulDiv(value, static_cast<int>(dpi), static_cast<int>(kDesignDpi));
}

// The window size for a client area of client_width x client_height at dpi
// (AdjustWindowRectExForDpi, else AdjustWindowRectEx).
SIZE WindowSizeForClient(int client_width, int client_height, DWORD style, DWORD ex_style,
                         bool menu, UINT dpi);

}  // namespace sq71

#endif
