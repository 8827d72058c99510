#include "usb/device_list_dialog_win32.h"

#include <cstdio>

#include "app/app_state_win32.h"
#include "app/message_box_win32.h"
#include "ui/message_catalogue.h"
#include "resources/resource_ids.h"
#include "usb/device_listing.h"

namespace sq71 {

namespace {

void InitDeviceList(HWND dialog) {
  char caption[kMessageBufferSize];
  LoadMessageText(kMsgUsbDevices, caption, static_cast<int>(sizeof caption));
  SetWindowTextA(dialog, caption);

  HWND list = GetDlgItem(dialog, IDC_DEVICE_LIST);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  // The list box sorts the names itself.
  const int count = ListDevices(g_d2xx, [list](const char* name) {
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  });

  char number[16];
  std::snprintf(number, sizeof number, "%d", count);
  SetDlgItemTextA(dialog, IDC_DEVICE_COUNT, number);
}

}  // namespace

INT_PTR CALLBACK DeviceListDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitDeviceList(dialog);
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wparam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

void ShowDeviceList(HWND owner) {
  DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_DEVICES), owner, DeviceListDialogProc, 0);
}

}  // namespace sq71
