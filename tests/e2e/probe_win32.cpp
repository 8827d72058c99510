// The probe DLL: runs inside the program under test and fills a ProbeBlock
// (see probe_win32.h). Never linked into the product.
#include "tests/e2e/probe_win32.h"

#include <windows.h>

#include <climits>
#include <cstring>

namespace sq71::e2e {
namespace {

void CopyText(char* to, size_t size, const char* from) {
  std::strncpy(to, from, size - 1);
  to[size - 1] = '\0';
}

void ReadMenu(HMENU menu, int depth, ProbeBlock* block) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count && block->item_count < kProbeMaxItems; ++i) {
    ProbeMenuItem& item = block->items[block->item_count++];
    char text[64] = {};
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_STRING | MIIM_SUBMENU;
    info.dwTypeData = text;
    info.cch = sizeof text;
    if (!GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info)) continue;
    item.depth = depth;
    item.id = info.hSubMenu != nullptr ? 0 : info.wID;
    item.type = info.fType;
    item.state = info.fState;
    item.is_popup = info.hSubMenu != nullptr ? 1 : 0;
    CopyText(item.text, sizeof item.text, text);
    if (info.hSubMenu != nullptr) ReadMenu(info.hSubMenu, depth + 1, block);
  }
}

void ReadClass(HWND window, ProbeBlock* block) {
  HMODULE module = GetModuleHandleA(nullptr);
  char name[256] = {};
  if (GetClassNameA(window, name, sizeof name) == 0) return;
  WNDCLASSEXA info = {};
  info.cbSize = sizeof info;
  if (!GetClassInfoExA(module, name, &info)) return;
  block->class_ok = 1;
  block->class_style = info.style;
  block->class_extra = info.cbClsExtra;
  block->window_extra = info.cbWndExtra;
  // Icons loaded from resources are shared: loading 135 again gives the
  // very handle the class holds.
  block->icon_is_135 =
      info.hIcon != nullptr && info.hIcon == LoadIconA(module, MAKEINTRESOURCEA(135)) ? 1 : 0;
  block->icon_108_absent = LoadIconA(module, MAKEINTRESOURCEA(108)) == nullptr ? 1 : 0;
  block->cursor_is_arrow = info.hCursor == LoadCursorA(nullptr, IDC_ARROW) ? 1 : 0;
  block->background = reinterpret_cast<uint64_t>(info.hbrBackground);
  block->menu_name = reinterpret_cast<uint64_t>(info.lpszMenuName);
  HMODULE proc_module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(reinterpret_cast<void*>(info.lpfnWndProc)), &proc_module);
  block->proc_in_program = proc_module == module ? 1 : 0;
}

// The icon group resource: a header of three WORDs, then 14-byte entries
// whose first byte is the image width (0 standing for 256).
void ReadIconGroup(ProbeBlock* block) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found =
      FindResourceA(module, MAKEINTRESOURCEA(135), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  if (found == nullptr) return;
  const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
  if (data == nullptr || SizeofResource(module, found) < 6) return;
  const int count = data[4] | (data[5] << 8);
  block->icon_image_count = count;
  for (int i = 0; i < count && i < 8; ++i) {
    const int width = data[6 + 14 * i];
    block->icon_image_sizes[i] = width == 0 ? 256 : width;
  }
}

void ReadStrings(ProbeBlock* block) {
  HMODULE module = GetModuleHandleA(nullptr);
  for (int i = 0; i < block->string_count && i < kProbeMaxStrings; ++i) {
    ProbeString& s = block->strings[i];
    s.text[0] = '\0';
    s.length = LoadStringA(module, static_cast<UINT>(s.id), s.text, kProbeTextSize);
  }
}

void ReadAccelerators(ProbeBlock* block) {
  HACCEL table =
      LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(block->accelerator_id));
  if (table == nullptr) return;
  ACCEL entries[kProbeMaxAccelerators] = {};
  const int count = CopyAcceleratorTableA(table, entries, kProbeMaxAccelerators);
  block->accelerator_count = count;
  for (int i = 0; i < count && i < kProbeMaxAccelerators; ++i) {
    block->accelerators[i].flags = entries[i].fVirt;
    block->accelerators[i].key = entries[i].key;
    block->accelerators[i].command = entries[i].cmd;
  }
}

}  // namespace
}  // namespace sq71::e2e

// Thread procedure: the driver starts it with CreateRemoteThread.
extern "C" __declspec(dllexport) DWORD WINAPI ProbeRun(void* parameter) {
  using namespace sq71::e2e;
  auto* block = static_cast<ProbeBlock*>(parameter);
  HWND window = reinterpret_cast<HWND>(block->window);
  if (block->dpi_change != 0) {  // the block's four numbers are laid out as a RECT
    const WORD dpi = static_cast<WORD>(block->dpi_change);
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                 reinterpret_cast<LPARAM>(block->suggested));
    return 1;
  }
  HMENU menu = GetMenu(window);
  if (menu != nullptr) {
    block->menu_ok = 1;
    ReadMenu(menu, 0, block);
    // Items on one line share their top edge.
    LONG last_top = LONG_MIN;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
      RECT rect;
      if (GetMenuItemRect(window, menu, static_cast<UINT>(i), &rect) && rect.top != last_top) {
        ++block->menu_bar_lines;
        last_top = rect.top;
      }
    }
  }
  ReadClass(window, block);
  ReadIconGroup(block);
  ReadStrings(block);
  ReadAccelerators(block);
  return 1;
}
