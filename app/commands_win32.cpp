#include "app/commands_win32.h"

#include "app/app_state_win32.h"
#include "app/file_commands_win32.h"
#include "app/main_window_ui_win32.h"
#include "app/message_box_win32.h"
#include "app/meter_commands_win32.h"
#include "log/log_image.h"
#include "resources/resource_ids.h"
#include "ui/message_catalogue.h"

namespace sq71 {

void OnAbout(HWND main) { RunAboutCommand(main); }

void OnExit(HWND main) { DestroyWindow(main); }

void OnRead(HWND) { RunReadCommand(); }

void OnLoad(HWND main) { RunLoadCommand(main); }

// Asks first: No, Cancel and closing the box all leave the meter alone.
void OnEraseLog(HWND) { RunEraseLogCommand(); }

void OnSave(HWND main) { RunSaveCommand(main); }

void OnVersion(HWND main) { RunVersionCommand(main); }

void OnExport(HWND main) { RunExportCommand(main); }

void OnView(HWND main) { RunViewCommand(main); }

void OnReport(HWND main) { RunExportReportCommand(main); }

bool RunCommand(HWND main, int id) {
  switch (id) {
    case IDM_ABOUT:
      OnAbout(main);
      return true;
    case IDM_EXIT:
      OnExit(main);
      return true;
    case IDM_READ:
      OnRead(main);
      return true;
    case IDM_LOAD:
      OnLoad(main);
      return true;
    case IDM_ERASE_LOG:
      OnEraseLog(main);
      return true;
    case IDM_SAVE:
      OnSave(main);
      return true;
    case IDM_VERSION:
      OnVersion(main);
      return true;
    case IDM_EXPORT:
      OnExport(main);
      return true;
    case IDM_VIEW:
      OnView(main);
      return true;
    case IDM_EXPORT_REPORT:
      OnReport(main);
      return true;
    default:
      return false;
  }
}

void OnTransferTick(HWND) { RunTransferTick(); }

}  // namespace sq71
