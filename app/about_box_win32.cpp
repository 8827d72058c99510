#include "app/about_box_win32.h"

#include <windows.h>

#include <algorithm>
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

// Where the picture goes: its size at the window's scale, at 96 DPI pixel
// for pixel, centred across the client area (C++ division truncates toward
// zero) with its top 58 pixels down at 96 DPI. The box grows with its dialog
// font, which need not grow in step with the scale, so the picture is made
// smaller, keeping its shape, where it would overrun its room in the box.
RECT PicturePlace(HWND dialog, int bitmap_width, int bitmap_height) {
  const UINT dpi = WindowDpi(dialog);
  int width = Scaled(bitmap_width, dpi);
  int height = Scaled(bitmap_height, dpi);
  RECT room = kAboutPictureRoom;
  MapDialogRect(dialog, &room);
  const int room_width = room.right - room.left;
  const int room_height = room.bottom - room.top;
  if (width > room_width && width > 0) {
    height = MulDiv(height, room_width, width);
    width = room_width;
  }
  if (height > room_height && height > 0) {
    width = MulDiv(width, room_height, height);
    height = room_height;
  }
  RECT client;
  GetClientRect(dialog, &client);
  const int x = (client.right - width) / 2;
  const int top =
      std::max(static_cast<int>(room.top),
               std::min(Scaled(kAboutPictureTop, dpi), static_cast<int>(room.bottom) - height));
  return {x, top, x + width, top + height};
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
    const RECT place = PicturePlace(dialog, info.bmWidth, info.bmHeight);
    const int width = place.right - place.left;
    const int height = place.bottom - place.top;
    if (width == info.bmWidth && height == info.bmHeight) {
      BitBlt(dc, place.left, place.top, width, height, memory, 0, 0, SRCCOPY);
    } else {
      SetStretchBltMode(dc, HALFTONE);
      SetBrushOrgEx(dc, 0, 0, nullptr);
      StretchBlt(dc, place.left, place.top, width, height, memory, 0, 0, info.bmWidth,
                 info.bmHeight, SRCCOPY);
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
