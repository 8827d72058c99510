#include <windows.h>
// CommandLineToArgvW; it needs <windows.h> first.
#include <shellapi.h>

#include <atomic>
#include <cerrno>

#include "cli/platform.h"
#include "ui/wide_text_win32.h"
#include "usb/d2xx_loader_win32.h"

namespace sq71 {
namespace {

// How long closing the console waits for the command to stop, write what it
// keeps and close the device; Windows itself ends the process at 5 s.
constexpr DWORD kCloseWaitMs = 4000;

// A console handler reaches nothing but process-wide state: the stop flag,
// and the event the command raises once it has stopped.
struct ConsoleStop {
  std::atomic<bool> requested{false};
  HANDLE stopped = nullptr;
};
ConsoleStop g_console_stop;

// Runs on a thread of its own. Returning TRUE keeps the process alive after
// Ctrl-C; after closing the console Windows ends the process as soon as this
// returns, so it waits for the command to stop first.
BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_console_stop.requested = true;
      return TRUE;
    case CTRL_CLOSE_EVENT:
      g_console_stop.requested = true;
      if (g_console_stop.stopped != nullptr) {
        WaitForSingleObject(g_console_stop.stopped, kCloseWaitMs);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

struct StopRequests::Saved {};

StopRequests::StopRequests() {
  g_console_stop.requested = false;
  // One event for the process, made on first use: a handler may still be
  // returning from its wait on it.
  if (g_console_stop.stopped == nullptr) {
    g_console_stop.stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  } else {
    ResetEvent(g_console_stop.stopped);
  }
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopRequests::~StopRequests() {
  // The command has stopped: a handler waiting on a console close may return.
  if (g_console_stop.stopped != nullptr) SetEvent(g_console_stop.stopped);
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

bool StopRequested() { return g_console_stop.requested; }

// _isatty also says yes for NUL and other character devices: only a console
// has a console mode.
bool StdinIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}
bool StdoutIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}
bool StderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int FolderRefuses(const std::string& path) {
  // Whether the folder is there; what may be written in it is for the
  // writer to find out (its access lists are more than one call can tell).
  const std::size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return 0;
  // The folder's own name: with a slash after it a file's name is not
  // "not a folder" but "not found". A root keeps its slash.
  std::string folder = path.substr(0, slash);
  if (folder.empty() || (folder.size() == 2 && folder[1] == ':')) folder += path[slash];
  const DWORD attributes = GetFileAttributesW(WideFromUtf8(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ENOENT;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ENOTDIR;
}

int StderrColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info = {};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool StderrTakesControls() {
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif
  // Windows 10 and later understand the controls once asked to; before that
  // the line is redrawn over with blanks instead.
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(err, &mode)) return false;
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  return SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::vector<std::string> SerialPorts() { return {}; }
const char* SerialPortPattern() { return ""; }

bool UsbDeviceDenied() { return false; }

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
