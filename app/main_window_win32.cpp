#include "app/main_window_win32.h"

#include "app/app_state_win32.h"
#include "app/commands_win32.h"
#include "app/progress_bar.h"
#include "resources/resource_ids.h"

namespace sq71 {

void StopTransferTimer(HWND window) {
  KillTimer(window, TRANSFER_TIMER_ID);
  g_transfer.reading = 0;
}

// Stock objects are never deleted, so they are left selected in the paint
// context rather than restored.
void PaintProgressBar(HDC dc, const TransferState& transfer) {
  if (transfer.reading == 0) {
    SelectObject(dc, GetStockObject(WHITE_PEN));
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    Rectangle(dc, kBarLeft, kBarTop, kBarRight, kBarBottom);
    return;
  }
  // The engine sets the total before the reading flag, so it is never 0
  // here; should it be, draw an empty frame rather than divide by zero.
  const int fill_right =
      transfer.total > 0 ? ProgressFillRight(transfer.progress, transfer.total) : kBarLeft;
  SelectObject(dc, GetStockObject(BLACK_BRUSH));
  SelectObject(dc, GetStockObject(NULL_PEN));
  Rectangle(dc, kBarLeft, kBarTop, fill_right, kBarBottom);
  SelectObject(dc, GetStockObject(NULL_BRUSH));
  SelectObject(dc, GetStockObject(BLACK_PEN));
  Rectangle(dc, kBarLeft, kBarTop, kBarRight, kBarBottom);
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
      PaintProgressBar(dc, g_transfer);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_TIMER:
      if (g_transfer.reading == 1 && wparam == TRANSFER_TIMER_ID) OnTransferTick(window);
      return 0;
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
