#include "app/file_commands_win32.h"

#include "app/about_box_win32.h"
#include "app/app_state_win32.h"
#include "app/log_entries_view_win32.h"
#include "app/main_window_ui_win32.h"
#include "app/message_box_win32.h"
#include "app/meter_commands_win32.h"
#include "chooser/chooser_dialog_win32.h"
#include "log/log_files.h"
#include "log/log_image.h"
#include "settings/settings_store_win32.h"
#include "ui/message_catalogue.h"

namespace sq71 {

void StopTransferForLoad() { Engine().StopForLoad(g_device); }

void RunLoadCommand(HWND main) {
  // Open mode leaves the default extension as it was.
  if (!RunFileChooser(g_instance, main, MainUi(), kLoadLogForm)) return;
  LoadLogFile(g_chooser.chosen_file);
}

void LoadLogFile(const char* path) {
  // A download that is running would go on writing meter records into the
  // loaded log, so a load that succeeds ends it. A successful load shows no
  // box, so no timer tick can run between the two calls; a failed load leaves
  // both the image and the download alone.
  if (LoadUlg(path, &g_log_image, &MainUi(), &MainUi(), g_quiet != 0) == 0) {
    StopTransferForLoad();
  }
}

void RunSaveCommand(HWND main) {
  if (!RunFileChooser(g_instance, main, MainUi(), kSaveLogForm)) return;
  SaveUlg(g_chooser.chosen_file, g_log_image, &MainUi(), g_quiet != 0);
}

void RunExportCommand(HWND main) {
  // An empty log has nothing to export; the count also greys View then.
  const int count = EntryCount(g_log_image, &MainUi());
  if (count == 0) {
    ShowMessageBox(kMsgNoLogData, MessageStyle::kError);
    return;
  }
  if (!RunFileChooser(g_instance, main, MainUi(), kExportCsvForm)) return;
  ExportCsv(g_chooser.chosen_file, g_log_image, count, &g_decoder, &MainUi(), g_quiet != 0);
}

void RunViewCommand(HWND main) {
  if (EntryCount(g_log_image, &MainUi()) == 0) {
    ShowMessageBox(kMsgNoLogData, MessageStyle::kError);
    return;
  }
  ShowLogEntriesView(main, {g_instance, &g_log_image, &g_decoder, &MainUi(), g_quiet != 0});
}

void RunAboutCommand(HWND main) { ShowAboutBox(main); }

}  // namespace sq71
