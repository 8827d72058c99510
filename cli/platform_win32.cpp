#include <windows.h>
// CommandLineToArgvW; it needs <windows.h> first.
#include <shellapi.h>

#include <atomic>

#include "cli/platform.h"
#include "ui/wide_text_win32.h"
#include "usb/d2xx_loader_win32.h"

namespace sq71 {
namespace {

std::atomic<bool> g_stop{false};

// Runs on a thread of its own: it only raises the flag, and TRUE keeps the
// process alive until the download loop has closed the device.
BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      g_stop = true;
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

StopRequests::StopRequests() {
  g_stop = false;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopRequests::~StopRequests() { SetConsoleCtrlHandler(OnConsoleControl, FALSE); }

bool StopRequested() { return g_stop; }

// _isatty also says yes for NUL and other character devices: only a console
// has a console mode.
bool StdinIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}
bool StderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::vector<std::string> SerialPorts() { return {}; }

bool UsbDeviceDenied() { return false; }

std::string PermissionHint(bool) { return "permission denied"; }

std::vector<std::string> StartArguments(int argc, char** argv) {
  RestrictLibrarySearch();
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr || count != argc) {
    if (wide != nullptr) LocalFree(wide);
    return std::vector<std::string>(argv, argv + argc);
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
  LocalFree(wide);
  return arguments;
}

}  // namespace sq71
