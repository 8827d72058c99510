#include "app/file_commands_win32.h"

#include <string>

#include "app/about_box_win32.h"
#include "app/app_state_win32.h"
#include "app/log_entries_view_win32.h"
#include "app/main_window_ui_win32.h"
#include "app/message_box_win32.h"
#include "app/meter_commands_win32.h"
#include "app/report_job_dialog_win32.h"
#include "app/report_open_win32.h"
#include "chooser/chooser_dialog_win32.h"
#include "log/log_files.h"
#include "log/log_image.h"
#include "report/report_file.h"
#include "settings/settings_store_win32.h"
#include "sq71_version.h"
#include "ui/message_catalogue.h"
#include "ui/wide_text_win32.h"

namespace sq71 {

void StopTransferForLoad() { Engine().StopForLoad(g_device); }

namespace {

const char* FileNameOf(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/') name = p + 1;
  }
  return name;
}

void RememberLogName(const char* path) {
  CopyUtf8(g_log_name, sizeof(g_log_name), FileNameOf(path));
}

}  // namespace

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
    RememberLogName(path);
  }
}

void RunSaveCommand(HWND main) {
  if (!RunFileChooser(g_instance, main, MainUi(), kSaveLogForm)) return;
  if (SaveUlg(g_chooser.chosen_file, g_log_image, &MainUi(), g_quiet != 0) == 0) {
    RememberLogName(g_chooser.chosen_file);
  }
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

void RunExportReportCommand(HWND main) {
  // The same rules as Export (.csv): nothing to report on an empty log.
  const int count = EntryCount(g_log_image, &MainUi());
  if (count == 0) {
    ShowMessageBox(kMsgNoLogData, MessageStyle::kError);
    return;
  }
  ReportInfo info;
  if (!AskReportJob(main, &info.job)) return;
  if (!RunFileChooser(g_instance, main, MainUi(), kExportReportForm)) return;
  const std::string path = g_chooser.chosen_file;
  info.log_name = g_log_name[0] != '\0' ? g_log_name : "(downloaded from the meter)";
  info.made = LocalTimeNow();
  info.version = SQ71_VERSION_TEXT;
  if (ExportReport(path.c_str(), g_log_image, count, &g_decoder, info, &MainUi(), g_quiet != 0) !=
      0) {
    return;
  }
  OpenWrittenReport(main, path.c_str());
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
