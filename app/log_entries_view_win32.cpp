#include "app/log_entries_view_win32.h"

#include <windows.h>

#include "chooser/chooser_dialog_win32.h"
#include "log/log_files.h"
#include "resources/resource_ids.h"
#include "settings/settings_store_win32.h"

namespace sq71 {
namespace {

LogEntriesContext g_context;

// The rows are copies made once, when the view opens; a download that goes
// on meanwhile does not change them.
void FillList(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_ENTRY_LIST);
  // Back to the default stops first, then ours.
  SendMessageA(list, LB_SETTABSTOPS, 0, 0);
  SendMessageA(list, LB_SETTABSTOPS, kLogEntryTabStops.size(),
               reinterpret_cast<LPARAM>(kLogEntryTabStops.data()));
  if (g_context.image == nullptr || g_context.decoder == nullptr) return;
  const int count = EntryCount(*g_context.image, nullptr);
  DecodedEntry entry;
  for (int i = 0; i < count; ++i) {
    if (!g_context.decoder->Decode(*g_context.image, i, &entry)) break;
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.list_row));
  }
}

void OnExport(HWND dialog) {
  if (g_context.image == nullptr || g_context.decoder == nullptr || g_context.messages == nullptr) {
    return;
  }
  if (!RunFileChooser(g_context.instance, dialog, *g_context.messages, kExportDir, 1, ".csv;",
                      ".csv")) {
    return;
  }
  // Counted again after the chooser: a download may have gone on meanwhile.
  const int count = EntryCount(*g_context.image, nullptr);
  if (count > 0) {
    ExportCsv(g_chooser.chosen_file, *g_context.image, count, g_context.decoder, g_context.messages,
              g_context.quiet);
  }
}

}  // namespace

void SetLogEntriesContext(const LogEntriesContext& context) { g_context = context; }

INT_PTR CALLBACK LogEntriesDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      FillList(dialog);
      return FALSE;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(dialog, &paint);
      EndPaint(dialog, &paint);
      return FALSE;
    }
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK:
        case IDCANCEL:
          EndDialog(dialog, LOWORD(wparam));
          return TRUE;
        case IDC_ENTRY_EXPORT:
          OnExport(dialog);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

void ShowLogEntriesView(HWND owner, const LogEntriesContext& context) {
  SetLogEntriesContext(context);
  DialogBoxParamA(g_context.instance, MAKEINTRESOURCEA(IDD_LOG_ENTRIES), owner,
                  LogEntriesDialogProc, 0);
}

}  // namespace sq71
