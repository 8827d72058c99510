// The "USB Device List" dialog (template 158) that the Version command opens:
// the attached meters by the name each reports, and how many answered.
#ifndef SQ71_USB_DEVICE_LIST_DIALOG_WIN32_H
#define SQ71_USB_DEVICE_LIST_DIALOG_WIN32_H

#include <windows.h>

namespace sq71 {

// Lists the devices while the dialog initialises, so it appears filled.
INT_PTR CALLBACK DeviceListDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Runs the dialog modally over owner.
void ShowDeviceList(HWND owner);

}  // namespace sq71

#endif
