#include "app/main_window_win32.h"

#include "app/app_state_win32.h"
#include "app/commands_win32.h"
#include "app/dpi_win32.h"
#include "app/progress_bar.h"
#include "resources/resource_ids.h"

namespace sq71 {

void StopTransferTimer(HWND window) {
  KillTimer(window, TRANSFER_TIMER_ID);
  g_transfer.reading = 0;
}

// Stock objects are never deleted, so they are left selected in the paint
// context rather than restored.
void PaintProgressBar(HDC dc, const TransferState& transfer, UINT dpi) {
  const BarRect bar = ScaledBar([dpi](int value) { return Scaled(value, dpi); });
  if (transfer.reading == 0) {
    SelectObject(dc, GetStockObject(WHITE_PEN));
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    Rectangle(dc, bar.left, bar.top, bar.right, bar.bottom);
    return;
  }
  // The engine sets the total before the reading flag, so it is never 0
  // here; should it be, draw an empty frame rather than divide by zero.
  const int fill_right =
      transfer.total > 0 ? ScaledFillRight(bar, transfer.progress, transfer.total) : bar.left;
  SelectObject(dc, GetStockObject(BLACK_BRUSH));
  SelectObject(dc, GetStockObject(NULL_PEN));
  Rectangle(dc, bar.left, bar.top, fill_right, bar.bottom);
  SelectObject(dc, GetStockObject(NULL_BRUSH));
  SelectObject(dc, GetStockObject(BLACK_PEN));
  Rectangle(dc, bar.left, bar.top, bar.right, bar.bottom);
}

void FitMainWindow(HWND window, UINT dpi) {
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  const DWORD ex_style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  const int width = Scaled(kClientWidth, dpi);
  const int height = Scaled(kClientHeight, dpi);
  SIZE size = WindowSizeForClient(width, height, style, ex_style, true, dpi);
  SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // The size above assumes a menu bar of one line; should it wrap all the
  // same, the window grows by what the extra lines took.
  RECT client;
  if (GetClientRect(window, &client) && client.bottom < height) {
    size.cy += height - client.bottom;
    SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      // Only the id counts, so menu items and accelerators act alike.
      if (RunCommand(window, LOWORD(wparam))) return 0;
      break;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      PaintProgressBar(dc, g_transfer, WindowDpi(window));
      EndPaint(window, &paint);
      return 0;
    }
    case WM_TIMER:
      if (g_transfer.reading == 1 && wparam == TRANSFER_TIMER_ID) OnTransferTick(window);
      return 0;
    case WM_DPICHANGED: {
      // Moved to a monitor of another scale: take the place Windows suggests,
      // then the size of our design at the new scale.
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      FitMainWindow(window, HIWORD(wparam));
      InvalidateRect(window, nullptr, TRUE);
      return 0;
    }
    case WM_DESTROY:
      StopTransferTimer(window);
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace sq71
