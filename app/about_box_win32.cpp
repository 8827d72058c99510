#include "app/about_box_win32.h"

#include <windows.h>

#include <cstdio>

#include "app/app_state_win32.h"
#include "app/message_box_win32.h"
#include "ui/message_catalogue.h"
#include "resources/resource_ids.h"
#include "sq71_version.h"

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
    const int x = (client.right - info.bmWidth) / 2;
    BitBlt(dc, x, kAboutPictureTop, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
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
