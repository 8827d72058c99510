// The file chooser dialog (template 150): the program's own open/save box,
// built on the system's directory listing.
#ifndef SQ71_CHOOSER_CHOOSER_DIALOG_WIN32_H
#define SQ71_CHOOSER_CHOOSER_DIALOG_WIN32_H

#include <windows.h>

#include <cstdint>

#include "settings/settings_store_win32.h"
#include "ui/ui.h"

namespace sq71 {

// Paths are UTF-8 in these buffers; room for paths past the classic 260
// characters, which Windows allows where long paths are enabled.
constexpr int kChooserPathSize = 4096;
constexpr int kChooserExtensionSize = 32;
constexpr int kChooserFilterSize = 256;

// The chooser's inputs and results. One set for the whole program: a caller
// fills the inputs right before opening the dialog and reads the results
// right after it.
struct ChooserBuffers {
  // In: text for the name box. Out: the full path chosen, empty when none.
  char chosen_file[kChooserPathSize];
  // In: a copy of the start folder. Out: the folder to remember.
  char chooser_folder[kChooserPathSize];
  // In: the folder listed first; replaced by the current directory when it
  // cannot be listed.
  char start_folder[kChooserPathSize];
  // Appended in save mode to a new name without a "."; empty means none.
  char default_extension[kChooserExtensionSize];
  // Endings, each followed by ";".
  char filter_list[kChooserFilterSize];
  // 0 to open an existing file, 1 to save.
  int32_t save_mode;
};

extern ChooserBuffers g_chooser;

// The dialog procedure. lParam of WM_INITDIALOG is the owner, beside which
// the dialog places itself.
INT_PTR CALLBACK ChooserDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// One use of the chooser as every file command makes it: reads the folder
// stored under value_name into the start folder, prepares the buffers, runs
// dialog 150 from instance's resources owned by owner, with its messages
// ("Invalid binary file", "Confirm file overwrite?") shown through messages, and stores the chooser
// folder back under the same name whatever way the dialog ended. default_extension null leaves the
// buffer as it was (open mode does not use it). Returns true when a file was
// chosen; its full path is then in g_chooser.chosen_file.
bool RunFileChooser(HINSTANCE instance, HWND owner, Messages& messages, const char* value_name,
                    int save_mode, const char* filter_list, const char* default_extension);

// One kind of file the chooser is opened for: where its folder is
// remembered, open or save, the endings listed, the ending a new name gets.
struct ChooserForm {
  const char* value_name;
  int save_mode;
  const char* filter_list;
  const char* default_extension;  // null: left as it was (open mode)
};

inline constexpr ChooserForm kLoadLogForm = {kLogLoadDir, 0, ".ulg;", nullptr};
inline constexpr ChooserForm kSaveLogForm = {kLogSaveDir, 1, ".ulg;", ".ulg"};
inline constexpr ChooserForm kExportCsvForm = {kExportDir, 1, ".csv;", ".csv"};
inline constexpr ChooserForm kExportReportForm = {kReportDir, 1, ".html;", ".html"};

bool RunFileChooser(HINSTANCE instance, HWND owner, Messages& messages, const ChooserForm& form);

}  // namespace sq71

#endif
