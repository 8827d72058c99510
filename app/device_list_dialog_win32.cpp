#include "app/device_list_dialog_win32.h"

#include <cstdio>

#include "protocol/device_listing.h"
#include "resources/resource_ids.h"
#include "ui/message_catalogue.h"
#include "ui/message_text_win32.h"

namespace sq71 {

namespace {

// What the dialog lists with, handed to WM_INITDIALOG.
struct DeviceListContext {
  HINSTANCE instance = nullptr;
  Driver* driver = nullptr;
};

void InitDeviceList(HWND dialog, const DeviceListContext& context) {
  char caption[kMessageBufferSize];
  LoadMessageText(context.instance, kMsgUsbDevices, caption, static_cast<int>(sizeof caption));
  SetWindowTextA(dialog, caption);

  HWND list = GetDlgItem(dialog, IDC_DEVICE_LIST);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  // The list box sorts the names itself.
  int count = 0;
  if (context.driver != nullptr) {
    count = ListDevices(*context.driver, [list](int, const char* name) {
      SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    });
  }

  char number[16];
  std::snprintf(number, sizeof number, "%d", count);
  SetDlgItemTextA(dialog, IDC_DEVICE_COUNT, number);
}

}  // namespace

INT_PTR CALLBACK DeviceListDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      if (lparam != 0) InitDeviceList(dialog, *reinterpret_cast<const DeviceListContext*>(lparam));
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

void ShowDeviceList(HINSTANCE instance, HWND owner, Driver& driver) {
  DeviceListContext context{instance, &driver};
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_DEVICES), owner, DeviceListDialogProc,
                  reinterpret_cast<LPARAM>(&context));
}

}  // namespace sq71
