#include "app/about_box_win32.h"

#include <windows.h>

#include <cstdio>

#include "app/app_state_win32.h"
#include "app/dpi_win32.h"
#include "app/message_box_win32.h"
#include "resources/resource_ids.h"
#include "sq71_version.h"
#include "ui/message_catalogue.h"

namespace sq71 {
namespace {

void OnInitDialog(HWND dialog) {
  char text[kMessageBufferSize];
  LoadMessageText(kMsgAboutTitle, text, static_cast<int>(sizeof(text)));
  SetWindowTextA(dialog, text);
  std::snprintf(text, sizeof(text), kAboutVersionFormat, SQ71_VERSION_MAJOR, SQ71_VERSION_MINOR);
  SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, text);
}

// The picture is loaded and released within each paint, so the box holds
// nothing between paints. Without it the paint simply draws no picture.
void OnPaint(HWND dialog) {
  HBITMAP bitmap = LoadBitmapA(g_instance, MAKEINTRESOURCEA(IDB_ABOUT));
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog, &paint);
  if (bitmap != nullptr) {
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ kept = SelectObject(memory, bitmap);
    BITMAP info = {};
    GetObjectA(bitmap, sizeof(info), &info);
    RECT client;
    GetClientRect(dialog, &client);
    // Centred across the client area; C++ division truncates toward zero.
    // Drawn at the window's scale; at 96 DPI pixel for pixel.
    const UINT dpi = WindowDpi(dialog);
    const int width = Scaled(info.bmWidth, dpi);
    const int height = Scaled(info.bmHeight, dpi);
    const int x = (client.right - width) / 2;
    const int top = Scaled(kAboutPictureTop, dpi);
    if (dpi == kDesignDpi) {
      BitBlt(dc, x, top, width, height, memory, 0, 0, SRCCOPY);
    } else {
      SetStretchBltMode(dc, HALFTONE);
      SetBrushOrgEx(dc, 0, 0, nullptr);
      StretchBlt(dc, x, top, width, height, memory, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    }
    SelectObject(memory, kept);
    DeleteDC(memory);
    DeleteObject(bitmap);
  }
  EndPaint(dialog, &paint);
}

}  // namespace

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      return FALSE;  // leave the focus alone: OK stays the default button
    case WM_PAINT:
      OnPaint(dialog);
      return FALSE;
    case WM_COMMAND: {
      const WORD id = LOWORD(wparam);
      if (id == IDOK || id == IDCANCEL) {
        EndDialog(dialog, id);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

void ShowAboutBox(HWND owner) {
  DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutDialogProc, 0);
}

}  // namespace sq71
