// The program's global state, one instance each for the life of the process.
// Plain globals on purpose: every handler of the one GUI thread reaches them,
// and each has exactly one owner that writes it (noted below).
#ifndef SQ71_APP_APP_STATE_WIN32_H
#define SQ71_APP_APP_STATE_WIN32_H

#include <windows.h>

#include "log/decoder.h"
#include "log/log_image.h"
#include "protocol/transfer_state.h"
#include "usb/driver.h"

namespace sq71 {

class UsbDevice;

// Caption and class name buffers, terminator included.
constexpr int kCaptionSize = 100;

// The downloaded or loaded log; zeroed at start-up.
extern LogImage g_log_image;
// 1 when "+Q" was on the command line: file open/create failures stay silent.
extern int g_quiet;
// Title of the main window and of every message box.
extern char g_caption[kCaptionSize];
// Name under which the main window class is registered.
extern char g_class_name[kCaptionSize];
// Source of every resource: strings, menu, accelerators, dialogs, icons.
extern HINSTANCE g_instance;
// Owner of the dialogs and of the transfer timer.
extern HWND g_main_window;
// The driver, loaded at start-up and kept for the life of the process (the
// message loop's owner holds it); null until then.
extern Driver* g_driver;
// The one shared device object that Read and Erase Log use; null until
// start-up creates it.
extern UsbDevice* g_device;
// Download progress; written by the transfer engine, read by the main window.
extern TransferState g_transfer;
// The one record decoder: every pass over the log (the Log Entries view, a
// CSV export) decodes with it from record 0 upwards.
extern RecordDecoder g_decoder;
// The file name (no folder) of the log last loaded or saved, for the report's
// header; empty after a download starts, until the log is saved. Room for the
// longest name Windows allows (255 UTF-16 units, up to 3 UTF-8 bytes each).
constexpr int kLogNameSize = 3 * 255 + 1;
extern char g_log_name[kLogNameSize];

}  // namespace sq71

#endif
