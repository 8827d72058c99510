// The "USB Device List" dialog (template 158) that the Version command opens:
// the attached meters by the name each reports, and how many answered.
#ifndef SQ71_APP_DEVICE_LIST_DIALOG_WIN32_H
#define SQ71_APP_DEVICE_LIST_DIALOG_WIN32_H

#include <windows.h>

#include "usb/driver.h"

namespace sq71 {

// Lists the devices while the dialog initialises, so it appears filled; the
// dialog's parameter is what ShowDeviceList hands it.
INT_PTR CALLBACK DeviceListDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Runs the dialog modally over owner, from instance's template, listing the
// devices that the driver reaches.
void ShowDeviceList(HINSTANCE instance, HWND owner, Driver& driver);

}  // namespace sq71

#endif
