// End-to-end harness: starts sq71log.exe as a person would meet it and works
// it from outside, through what Wine lets one process see of another
// (windows, boxes, buttons, list boxes, screen pixels), plus a probe DLL for
// what it does not (menus, string table, accelerators, window class).
// Every wait has a time-out; nothing counts timer ticks.
#ifndef SQ71_TESTS_E2E_HARNESS_WIN32_H
#define SQ71_TESTS_E2E_HARNESS_WIN32_H

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/probe_win32.h"

namespace sq71::e2e {

// Caption of the main window and title of every box.
constexpr const char* kCaption = "SQ-71 Meter - Log";
// Window class of dialogs and message boxes.
constexpr const char* kDialogClass = "#32770";
// Default time-out for something the program does at once: generous, since a
// loaded machine (or the first start in a fresh Wine prefix) can stall Wine
// for many seconds. Only a failing test waits this long.
constexpr int kPatience = 30000;

// Where the build put things (Windows paths).
struct Paths {
  std::string exe;              // sq71log.exe, no driver library beside it
  std::string exe_with_driver;  // its copy beside the stand-in Ftd2xx.dll
  std::string standin_dir;      // folder of the stand-in Ftd2xx.dll
  std::string probe_dll;        // the probe DLL
  std::string data_dir;         // test data
};
// From the compile definitions SQ71_E2E_EXE, SQ71_E2E_STANDIN_DIR,
// SQ71_E2E_PROBE_DLL and SQ71_TEST_DATA_DIR.
const Paths& BuildPaths();

struct LaunchOptions {
  // The program to start; empty: the build's sq71log.exe.
  std::string program;
  // The build's program beside the stand-in driver; false: the one without a
  // driver beside it, with every folder holding an Ftd2xx.dll off PATH.
  bool with_driver = true;
  // Value of SQ71_SIM (the simulated meter's scenario); empty removes it.
  std::string scenario;
  // Command line after the program name.
  std::string arguments;
  // The same in UTF-16, appended after arguments.
  std::wstring wide_arguments;
  // More environment variables (name, value).
  std::vector<std::pair<std::string, std::string>> environment;
  // Current directory of the program; empty: a fresh scratch folder.
  std::string working_dir;
};

// One run of the program. Killed on destruction if still running, so a
// failed test never leaves it behind.
class Program {
 public:
  Program() = default;
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Starts the program; false (with a reason in error()) when it cannot.
  bool Launch(const LaunchOptions& options = {});

  DWORD pid() const { return info_.dwProcessId; }
  HANDLE process() const { return info_.hProcess; }
  const std::string& error() const { return error_; }
  // The scratch folder the program started in.
  const std::string& scratch_dir() const { return scratch_; }

  bool Running() const;
  // Waits for the process to end; returns its exit code, or -1 after the
  // time-out (the process is then killed).
  long WaitExit(int timeout_ms = kPatience);
  void Kill();

  // Visible top-level windows of the program.
  std::vector<HWND> TopLevelWindows() const;
  // Waits for a visible top-level window of the program with this class and
  // caption (null: any); null after the time-out.
  HWND WaitWindow(const char* class_name, const char* caption, int timeout_ms = kPatience) const;
  HWND WaitMainWindow(int timeout_ms = kPatience) const {
    return WaitWindow(kCaption, kCaption, timeout_ms);
  }
  // A dialog or message box titled with the caption.
  HWND WaitBox(int timeout_ms = kPatience) const {
    return WaitWindow(kDialogClass, kCaption, timeout_ms);
  }
  // Any visible dialog or box of the program, or null.
  HWND FindBox() const;

  // Runs the probe inside the program for window; block's inputs (string
  // ids, accelerator id) are set by the caller. Loads the probe on first use.
  bool Probe(HWND window, ProbeBlock* block);

 private:
  bool LoadProbe();

  PROCESS_INFORMATION info_ = {};
  std::string error_;
  std::string scratch_;
  bool own_scratch_ = false;
  uint64_t remote_probe_run_ = 0;
};

// Waits until condition() holds, polling every 10 ms; false after timeout.
bool WaitUntil(const std::function<bool()>& condition, int timeout_ms = kPatience);

// ANSI text (the driver's own strings) in UTF-16, embedded NULs kept.
std::wstring Wide(const std::string& text);

std::string WindowText(HWND window);
std::string ClassName(HWND window);
// Text of a message box (its static control 0xFFFF).
std::string BoxText(HWND box);
// Ids of a box's visible buttons, in z-order.
std::vector<int> VisibleButtons(HWND box);
// Presses a button of a dialog or box; false when there is no such button.
bool PressButton(HWND dialog, int id);
// Posts a command as the menu would.
void PostCommand(HWND window, int id);
// Whether the window's thread answers a message within timeout_ms.
bool Responsive(HWND window, int timeout_ms = kPatience);
// Rows of a list box, read as UTF-16 (the ANSI read is broken across
// processes in Wine) and converted to the ANSI code page.
std::vector<std::string> ListRows(HWND list);
std::vector<std::wstring> WideListRows(HWND list);
// Colour on screen at client coordinates (x, y) of window.
COLORREF ClientPixel(HWND window, int x, int y);
// The display scale Wine gives the programs started after it is set.
void SetLogPixels(DWORD dpi);

// The icon a message box shows, recognised by comparing its pixels on screen
// with the system's own icons drawn the same way.
enum class BoxIcon { kNone, kHand, kQuestion, kExclamation, kInformation };
BoxIcon IdentifyBoxIcon(HWND box);
const char* BoxIconName(BoxIcon icon);

}  // namespace sq71::e2e

#endif
