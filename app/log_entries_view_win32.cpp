#include "app/log_entries_view_win32.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/dpi_win32.h"
#include "chooser/chooser_dialog_win32.h"
#include "log/log_files.h"
#include "resources/resource_ids.h"
#include "settings/settings_store_win32.h"

namespace sq71 {
namespace {

LogEntriesContext g_context;

// The view's layout is kept in dialog units, the template's own, and turned
// into pixels with the dialog font's base units whenever the view is sized or
// moved to a monitor of another scale. The list keeps its margins, the
// buttons their distance from the bottom, Close its place across the middle;
// the column titles stay where the template put them.
struct BaseUnits {
  int cx = 0;  // pixels per 4 horizontal dialog units
  int cy = 0;  // pixels per 8 vertical dialog units
};

struct ChildLayout {
  HWND window = nullptr;
  int id = 0;
  RECT units = {};
};

struct Layout {
  bool known = false;
  BaseUnits base;
  SIZE client_units = {};  // the template's client area: the smallest allowed
  std::vector<ChildLayout> children;
  LOGFONTW first_font = {};  // the template's font at first_dpi
  UINT first_dpi = kDesignDpi;
  UINT dpi = kDesignDpi;
  HFONT scaled_font = nullptr;  // ours, once the scale has changed
};
Layout g_layout;

int ToPixels(int units, int base, int per) { return MulDiv(units, base, per); }
// The inverse of MulDiv's rounding: exact while a unit is at least a pixel.
int ToUnits(int pixels, int base, int per) { return MulDiv(pixels, per, base); }

RECT RectToPixels(const RECT& units, const BaseUnits& base) {
  return {ToPixels(units.left, base.cx, 4), ToPixels(units.top, base.cy, 8),
          ToPixels(units.right, base.cx, 4), ToPixels(units.bottom, base.cy, 8)};
}

RECT RectToUnits(const RECT& pixels, const BaseUnits& base) {
  return {ToUnits(pixels.left, base.cx, 4), ToUnits(pixels.top, base.cy, 8),
          ToUnits(pixels.right, base.cx, 4), ToUnits(pixels.bottom, base.cy, 8)};
}

// The base units the dialog manager placed the template with.
BaseUnits DialogBaseUnits(HWND dialog) {
  RECT rect = {0, 0, 4, 8};
  MapDialogRect(dialog, &rect);
  return {rect.right, rect.bottom};
}

// The base units of a font, reckoned as the dialog manager does: the average
// width of the 52 letters, rounded, and the font's height.
BaseUnits FontBaseUnits(HWND dialog, HFONT font) {
  static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  BaseUnits base;
  HDC dc = GetDC(dialog);
  if (dc == nullptr) return base;
  HGDIOBJ kept = SelectObject(dc, font);
  TEXTMETRICW metrics = {};
  SIZE letters = {};
  if (GetTextMetricsW(dc, &metrics) && GetTextExtentPoint32W(dc, kLetters, 52, &letters)) {
    base = {(letters.cx / 26 + 1) / 2, static_cast<int>(metrics.tmHeight)};
  }
  SelectObject(dc, kept);
  ReleaseDC(dialog, dc);
  return base;
}

BOOL CALLBACK RememberChild(HWND child, LPARAM) {
  RECT rect = {};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  g_layout.children.push_back({child, GetDlgCtrlID(child), RectToUnits(rect, g_layout.base)});
  return TRUE;
}

// The client size the view's template asks for, in dialog units, read from
// the template itself (the window may have been made smaller to fit the
// screen). Both template forms: the extended one starts with version 1 and
// 0xFFFF.
SIZE TemplateSize(HINSTANCE instance) {
  // RT_DIALOG
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(IDD_LOG_ENTRIES), MAKEINTRESOURCEW(5));
  const auto* words = found != nullptr
                          ? static_cast<const WORD*>(LockResource(LoadResource(instance, found)))
                          : nullptr;
  if (words == nullptr) return {};
  const bool extended = words[0] == 1 && words[1] == 0xFFFF;
  // cx and cy follow style, extended style, item count, x and y; the
  // extended form has version, signature and help id before them.
  const std::size_t at = extended ? 11 : 7;
  if (SizeofResource(instance, found) < (at + 2) * sizeof(WORD)) return {};
  return {static_cast<SHORT>(words[at]), static_cast<SHORT>(words[at + 1])};
}

void OnSize(HWND dialog, int width, int height);

void RememberLayout(HWND dialog) {
  g_layout.base = DialogBaseUnits(dialog);
  g_layout.client_units = TemplateSize(g_context.instance);
  if (g_layout.base.cx <= 0 || g_layout.base.cy <= 0 || g_layout.client_units.cx <= 0) return;
  RECT client;
  GetClientRect(dialog, &client);
  g_layout.children.clear();
  EnumChildWindows(dialog, RememberChild, 0);
  g_layout.dpi = g_layout.first_dpi = WindowDpi(dialog);
  auto font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
  if (font == nullptr || GetObjectW(font, sizeof(g_layout.first_font), &g_layout.first_font) == 0) {
    g_layout.first_font = {};
  }
  g_layout.known = true;
  // A template larger than the screen leaves a smaller window: the list and
  // the buttons are fitted into the client area the view has.
  OnSize(dialog, client.right, client.bottom);
}

void OnSize(HWND dialog, int width, int height) {
  if (!g_layout.known) return;
  const int grow_x = width - ToPixels(g_layout.client_units.cx, g_layout.base.cx, 4);
  const int grow_y = height - ToPixels(g_layout.client_units.cy, g_layout.base.cy, 8);
  for (const ChildLayout& child : g_layout.children) {
    RECT rect = RectToPixels(child.units, g_layout.base);
    if (child.id == IDC_ENTRY_LIST) {
      rect.right += grow_x;
      rect.bottom += grow_y;
    } else if (child.id == IDOK) {
      OffsetRect(&rect, grow_x / 2, grow_y);
    } else if (child.id == IDC_ENTRY_EXPORT) {
      OffsetRect(&rect, 0, grow_y);
    }
    SetWindowPos(child.window, nullptr, rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  InvalidateRect(dialog, nullptr, TRUE);
}

// Never smaller than the template at the view's present scale, unless the
// template is larger than the monitor's work area: then never smaller than
// that area, so the view can still be seen whole.
void OnGetMinMaxInfo(HWND dialog, MINMAXINFO* info) {
  if (!g_layout.known) return;
  SIZE size = WindowSizeForClient(ToPixels(g_layout.client_units.cx, g_layout.base.cx, 4),
                                  ToPixels(g_layout.client_units.cy, g_layout.base.cy, 8),
                                  static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)),
                                  static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)), false,
                                  g_layout.dpi);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  if (GetMonitorInfoW(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor)) {
    size.cx = std::min(size.cx, monitor.rcWork.right - monitor.rcWork.left);
    size.cy = std::min(size.cy, monitor.rcWork.bottom - monitor.rcWork.top);
  }
  info->ptMinTrackSize = {size.cx, size.cy};
}

void SetListTabStops(HWND dialog);

// Moved to a monitor of another scale: the template's font at the new scale,
// the base units it gives, the place and size the system suggests, and the
// layout again at the new units.
void OnDpiChanged(HWND dialog, UINT dpi, const RECT* suggested) {
  if (!g_layout.known || dpi == 0 || g_layout.first_font.lfHeight == 0) return;
  LOGFONTW font = g_layout.first_font;
  font.lfHeight =
      MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(g_layout.first_dpi));
  HFONT scaled = CreateFontIndirectW(&font);
  if (scaled == nullptr) return;
  const BaseUnits base = FontBaseUnits(dialog, scaled);
  if (base.cx <= 0 || base.cy <= 0) {
    DeleteObject(scaled);
    return;
  }
  for (const ChildLayout& child : g_layout.children) {
    SendMessageW(child.window, WM_SETFONT, reinterpret_cast<WPARAM>(scaled), FALSE);
  }
  if (g_layout.scaled_font != nullptr) DeleteObject(g_layout.scaled_font);
  g_layout.scaled_font = scaled;
  g_layout.base = base;
  g_layout.dpi = dpi;
  // The list reckons its tab stops from its font when they are set.
  SetListTabStops(dialog);
  if (suggested != nullptr) {
    SetWindowPos(dialog, nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // Also when the size has not changed and no WM_SIZE came.
  RECT client;
  GetClientRect(dialog, &client);
  OnSize(dialog, client.right, client.bottom);
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void ForgetLayout() {
  if (g_layout.scaled_font != nullptr) DeleteObject(g_layout.scaled_font);
  g_layout = {};
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
  void* locked = GlobalLock(memory);
  if (locked == nullptr) {
    GlobalFree(memory);
    return;
  }
  std::memcpy(locked, text.c_str(), bytes);
  GlobalUnlock(memory);
  // Another program may hold the clipboard for a moment (a clipboard
  // manager reading what was just copied): asked again for a tenth of a
  // second before the copy is given up.
  bool open = false;
  for (int attempt = 0; attempt < 10 && !(open = OpenClipboard(dialog) != FALSE); ++attempt) {
    Sleep(10);
  }
  if (!open) {
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

void SetListTabStops(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_ENTRY_LIST);
  // Back to the default stops first, then ours.
  SendMessageA(list, LB_SETTABSTOPS, 0, 0);
  SendMessageA(list, LB_SETTABSTOPS, kLogEntryTabStops.size(),
               reinterpret_cast<LPARAM>(kLogEntryTabStops.data()));
}

// The rows are copies made once, when the view opens; a download that goes
// on meanwhile does not change them.
void FillList(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_ENTRY_LIST);
  SetListTabStops(dialog);
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
      // The view scales itself; the system's own scaling of dialogs would
      // move the controls a second time.
      KeepDialogScalingToItself(dialog);
      RememberLayout(dialog);
      return FALSE;
    case WM_SIZE:
      OnSize(dialog, LOWORD(lparam), HIWORD(lparam));
      return FALSE;
    case WM_GETMINMAXINFO:
      OnGetMinMaxInfo(dialog, reinterpret_cast<MINMAXINFO*>(lparam));
      return FALSE;
    case WM_DPICHANGED:
      OnDpiChanged(dialog, LOWORD(wparam), reinterpret_cast<const RECT*>(lparam));
      return TRUE;
    case WM_NCDESTROY:
      // After the controls have gone, so none is left with a deleted font.
      ForgetLayout();
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
  ForgetLayout();
  DialogBoxParamW(g_context.instance, MAKEINTRESOURCEW(IDD_LOG_ENTRIES), owner,
                  LogEntriesDialogProc, 0);
}

}  // namespace sq71
