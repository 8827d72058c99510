#include "app/device_list_dialog_win32.h"

#include <cstdio>

#include "protocol/device_listing.h"
#include "resources/resource_ids.h"
#include "ui/message_catalogue.h"
#include "ui/message_text_win32.h"

namespace sq71 {

namespace {

// What the open dialog lists with; set for the length of one ShowDeviceList.
struct DeviceListContext {
  HINSTANCE instance = nullptr;
  const D2xxFunctions* d2xx = nullptr;
};
DeviceListContext g_context;

void InitDeviceList(HWND dialog) {
  char caption[kMessageBufferSize];
  LoadMessageText(g_context.instance, kMsgUsbDevices, caption, static_cast<int>(sizeof caption));
  SetWindowTextA(dialog, caption);

  HWND list = GetDlgItem(dialog, IDC_DEVICE_LIST);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  // The list box sorts the names itself.
  int count = 0;
  if (g_context.d2xx != nullptr) {
    count = ListDevices(*g_context.d2xx, [list](const char* name) {
      SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    });
  }

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

void ShowDeviceList(HINSTANCE instance, HWND owner, const D2xxFunctions& d2xx) {
  const DeviceListContext outer = g_context;
  g_context = {instance, &d2xx};
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_DEVICES), owner, DeviceListDialogProc, 0);
  g_context = outer;
}

}  // namespace sq71
