// Entry point of the Windows program: start-up, the message loop, shut-down.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "app/app_state_win32.h"
#include "app/command_line.h"
#include "app/dpi_win32.h"
#include "app/file_commands_win32.h"
#include "app/main_window_win32.h"
#include "app/message_box_win32.h"
#include "app/progress_bar.h"
#include "log/trace_output.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"
#include "ui/message_catalogue.h"
#include "ui/wide_text_win32.h"
#include "usb/d2xx_loader_win32.h"
#include "usb/tracing_driver.h"
#include "usb/usb_device.h"

namespace {

void RegisterMainClass(HINSTANCE instance) {
  WNDCLASSEXA window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = sq71::MainWindowProc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
  window_class.lpszClassName = sq71::g_class_name;
  // There is no icon 108: a null small icon makes the system take the small
  // image of the main icon.
  window_class.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_SMALL));
  // A failure shows up as a failure to create the window.
  RegisterClassExA(&window_class);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int show_command) {
  using namespace sq71;

  // 1-2. Fresh global state.
  g_log_image.fill(0);
  g_quiet = 0;
  std::strcpy(g_caption, TXT_CAPTION_DEFAULT);
  g_instance = instance;

  // Libraries come from the program's folder and System32 only, and the
  // windows are drawn at the monitor's scale.
  RestrictLibrarySearch();
  BecomeDpiAware();

  // 3. Quiet mode.
  g_quiet = ScanQuietFlag(command_line);

  // 4. Caption and class name from the string table.
  LoadStringA(instance, IDS_CAPTION, g_caption, kCaptionSize);
  LoadStringA(instance, IDS_CAPTION, g_class_name, kCaptionSize);

  // 5. Window class.
  RegisterMainClass(instance);

  // 6. Main window: WS_SYSMENU alone gives a fixed-size window with a title
  // bar and close box but no minimise, maximise or sizing frame.
  g_transfer.reading = 0;
  // Its size is set for its scale once it exists and has a monitor.
  g_main_window = CreateWindowExA(0, g_class_name, g_caption, WS_SYSMENU, CW_USEDEFAULT, 0,
                                  kClientWidth, kClientHeight, nullptr, nullptr, instance, nullptr);
  if (g_main_window == nullptr) return 0;
  FitMainWindow(g_main_window, WindowDpi(g_main_window));
  ShowWindow(g_main_window, show_command);
  UpdateWindow(g_main_window);

  // 7. Accelerators: "?" and "/" for About.
  HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));

  // 8. The driver library; it stays loaded for the life of the process. One
  // that lacks any function we call counts as not loadable.
  const std::unique_ptr<D2xxDriver> driver = LoadD2xxLibrary(kD2xxLibraryName);
  if (driver == nullptr) {
    ShowMessageBox(kMsgNoDriver, MessageStyle::kInformation);
    return 0;
  }
  g_driver = driver.get();
  // SQ71_TRACE=FILE records every driver call, for a meter that misbehaves
  // in the field. A trace that cannot be created leaves the program as it is.
  std::unique_ptr<TraceFile> trace_file;
  std::unique_ptr<TracingDriver> tracer;
  if (const char* path = std::getenv("SQ71_TRACE"); path != nullptr && *path != '\0') {
    std::string error;
    trace_file = CreateTraceFile(path, &error);
    if (trace_file != nullptr) {
      tracer = std::make_unique<TracingDriver>(*driver, *trace_file);
      g_driver = tracer.get();
    }
  }

  // 9. The shared device object over the driver. Should it not be created,
  // Read and Erase Log say so when chosen; everything else works.
  g_device = new (std::nothrow) UsbDevice(*g_driver);

  // A log named on the command line (a double click in Explorer) is loaded
  // as File > Load loads it.
  const std::string file = FileArgument(ArgumentsOf(Utf8FromWide(GetCommandLineW())));
  if (!file.empty()) LoadLogFile(file.c_str());

  // 10. Message loop.
  MSG msg = {};
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (TranslateAcceleratorA(msg.hwnd, accelerators, &msg) == 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }

  // 11. Deleting the device object does not close a device it holds open.
  if (g_device != nullptr) {
    delete g_device;
    g_device = nullptr;
  }
  g_driver = nullptr;
  return static_cast<int>(msg.wParam);
}
