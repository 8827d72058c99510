// The "USB Device List" dialog (template 158) that the Version command opens:
// the attached meters by the name each reports, and how many answered.
#ifndef SQ71_APP_DEVICE_LIST_DIALOG_WIN32_H
#define SQ71_APP_DEVICE_LIST_DIALOG_WIN32_H

#include <windows.h>

#include "usb/d2xx.h"

namespace sq71 {

// Lists the devices while the dialog initialises, so it appears filled.
INT_PTR CALLBACK DeviceListDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Runs the dialog modally over owner, from instance's template, listing the
// devices that d2xx reaches.
void ShowDeviceList(HINSTANCE instance, HWND owner, const D2xxFunctions& d2xx);

}  // namespace sq71

#endif
