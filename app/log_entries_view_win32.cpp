#include "app/log_entries_view_win32.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "chooser/chooser_dialog_win32.h"
#include "log/log_files.h"
#include "resources/resource_ids.h"
#include "settings/settings_store_win32.h"

namespace sq71 {
namespace {

LogEntriesContext g_context;

// The view's first layout, in client coordinates, which sizing keeps: the
// list keeps its margins, the buttons their distance from the bottom, Close
// its place across the middle.
struct Layout {
  bool known = false;
  SIZE window = {};
  SIZE client = {};
  RECT list = {}, close = {}, export_button = {};
};
Layout g_layout;

RECT ChildRect(HWND dialog, int id) {
  RECT rect = {};
  HWND child = GetDlgItem(dialog, id);
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void RememberLayout(HWND dialog) {
  RECT window;
  RECT client;
  GetWindowRect(dialog, &window);
  GetClientRect(dialog, &client);
  g_layout.window = {window.right - window.left, window.bottom - window.top};
  g_layout.client = {client.right, client.bottom};
  g_layout.list = ChildRect(dialog, IDC_ENTRY_LIST);
  g_layout.close = ChildRect(dialog, IDOK);
  g_layout.export_button = ChildRect(dialog, IDC_ENTRY_EXPORT);
  g_layout.known = true;
}

void MoveChild(HWND dialog, int id, const RECT& rect, int dx, int dy) {
  SetWindowPos(GetDlgItem(dialog, id), nullptr, rect.left + dx, rect.top + dy,
               rect.right - rect.left, rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void OnSize(HWND dialog, int width, int height) {
  if (!g_layout.known) return;
  const int grow_x = width - g_layout.client.cx;
  const int grow_y = height - g_layout.client.cy;
  const RECT& list = g_layout.list;
  SetWindowPos(GetDlgItem(dialog, IDC_ENTRY_LIST), nullptr, list.left, list.top,
               list.right - list.left + grow_x, list.bottom - list.top + grow_y,
               SWP_NOZORDER | SWP_NOACTIVATE);
  MoveChild(dialog, IDOK, g_layout.close, grow_x / 2, grow_y);
  MoveChild(dialog, IDC_ENTRY_EXPORT, g_layout.export_button, 0, grow_y);
  InvalidateRect(dialog, nullptr, TRUE);
}

// The selected rows as the list shows them, one a line, on the clipboard.
void CopySelectedRows(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_ENTRY_LIST);
  const LRESULT count = SendMessageW(list, LB_GETSELCOUNT, 0, 0);
  if (count == LB_ERR || count <= 0) return;
  std::vector<int> rows(static_cast<std::size_t>(count));
  SendMessageW(list, LB_GETSELITEMS, count, reinterpret_cast<LPARAM>(rows.data()));
  std::wstring text;
  for (int row : rows) {
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, row, 0);
    if (length == LB_ERR) continue;
    std::wstring line(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(line.data()));
    line.resize(static_cast<std::size_t>(length));
    text += line + L"\r\n";
  }
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (memory == nullptr) return;
  std::memcpy(GlobalLock(memory), text.c_str(), bytes);
  GlobalUnlock(memory);
  if (!OpenClipboard(dialog)) {
    GlobalFree(memory);
    return;
  }
  EmptyClipboard();
  // The clipboard owns the memory once it takes it.
  if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
  CloseClipboard();
}

// Ctrl+C and Ctrl+A in the list; -1 leaves any other key to the list.
INT_PTR OnListKey(HWND dialog, WORD key) {
  if ((GetKeyState(VK_CONTROL) & 0x8000) == 0) return -1;
  if (key == 'C') {
    CopySelectedRows(dialog);
    return -2;
  }
  if (key == 'A') {
    SendDlgItemMessageW(dialog, IDC_ENTRY_LIST, LB_SETSEL, TRUE, -1);
    return -2;
  }
  return -1;
}

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
  if (!RunFileChooser(g_context.instance, dialog, *g_context.messages, kExportCsvForm)) {
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

INT_PTR CALLBACK LogEntriesDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      FillList(dialog);
      RememberLayout(dialog);
      return FALSE;
    case WM_SIZE:
      OnSize(dialog, LOWORD(lparam), HIWORD(lparam));
      return FALSE;
    case WM_GETMINMAXINFO:
      // Never smaller than the template made it.
      if (g_layout.known) {
        reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = {g_layout.window.cx,
                                                                 g_layout.window.cy};
      }
      return FALSE;
    case WM_VKEYTOITEM:
      if (reinterpret_cast<HWND>(lparam) == GetDlgItem(dialog, IDC_ENTRY_LIST)) {
        return OnListKey(dialog, LOWORD(wparam));
      }
      return -1;
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
  g_layout = {};
  DialogBoxParamW(g_context.instance, MAKEINTRESOURCEW(IDD_LOG_ENTRIES), owner,
                  LogEntriesDialogProc, 0);
}

}  // namespace sq71
