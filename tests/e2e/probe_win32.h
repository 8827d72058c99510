// The probe: a test-only DLL that the end-to-end driver loads into the
// running program to read what Wine does not let another process read (its
// menu, its accelerator table, its string table, its window class). The
// driver writes a ProbeBlock into the program, runs ProbeRun on it in a
// thread of its own and reads the block back. Plain data only, so the block
// has the same layout on both sides.
#ifndef SQ71_TESTS_E2E_PROBE_WIN32_H
#define SQ71_TESTS_E2E_PROBE_WIN32_H

#include <cstdint>

namespace sq71::e2e {

constexpr int kProbeMaxItems = 24;
constexpr int kProbeMaxStrings = 40;
constexpr int kProbeMaxAccelerators = 8;
constexpr int kProbeTextSize = 512;

struct ProbeMenuItem {
  int32_t depth;     // 0 on the menu bar, 1 inside a pop-up
  uint32_t id;       // command id (0 for pop-ups and separators)
  uint32_t type;     // MFT_* flags
  uint32_t state;    // MFS_* flags
  int32_t is_popup;  // 1 when the item opens a pop-up
  char text[64];
};

struct ProbeString {
  int32_t id;      // in: string id
  int32_t length;  // out: LoadStringA's result (0 when absent)
  char text[kProbeTextSize];
};

struct ProbeAccelerator {
  uint32_t flags;  // fVirt
  uint32_t key;
  uint32_t command;
};

struct ProbeBlock {
  // In.
  uint64_t window;  // the main window
  int32_t string_count;
  ProbeString strings[kProbeMaxStrings];  // ids in, texts out
  int32_t accelerator_id;
  // When not 0, only this: WM_DPICHANGED to the window, with this scale and
  // the suggested rectangle; its pointer is good only inside the program.
  int32_t dpi_change;
  int32_t suggested[4];

  // Out: menu of the window.
  int32_t menu_ok;
  int32_t item_count;
  ProbeMenuItem items[kProbeMaxItems];

  // Out: accelerator table accelerator_id of the program's module.
  int32_t accelerator_count;
  ProbeAccelerator accelerators[kProbeMaxAccelerators];

  // Out: the window's class.
  int32_t class_ok;
  uint32_t class_style;
  int32_t class_extra;
  int32_t window_extra;
  int32_t icon_is_135;      // the class icon is the program's icon 135
  int32_t icon_108_absent;  // the program holds no icon 108
  int32_t cursor_is_arrow;
  uint64_t background;      // hbrBackground as a number
  uint64_t menu_name;       // lpszMenuName as a number (a resource id)
  int32_t proc_in_program;  // the window procedure lies in the program's image

  // Out: the images of icon group 135 (width of each; they are square).
  int32_t icon_image_count;
  int32_t icon_image_sizes[8];

  // Out: how many lines the menu bar of the window takes.
  int32_t menu_bar_lines;
};

}  // namespace sq71::e2e

#endif
