#include "app/message_box_win32.h"

#include <windows.h>

#include "app/app_state_win32.h"
#include "ui/message_catalogue.h"
#include "ui/message_text_win32.h"

namespace sq71 {
namespace {

// Owned by the window the user is working in (the chooser, the view or the
// main window), so the box comes up over it and, once dismissed, gives the
// keyboard back to it: the next keystroke reaches what had it before.
int ShowBox(int number, UINT style) {
  char text[kMessageBufferSize];
  LoadMessageText(number, text, static_cast<int>(sizeof text));
  HWND owner = GetActiveWindow();
  if (owner == nullptr && g_main_window != nullptr && IsWindowVisible(g_main_window)) {
    owner = g_main_window;
  }
  HWND focus = GetFocus();
  const int answer = MessageBoxA(owner, text, g_caption, style);
  if (owner != nullptr && IsWindow(owner)) {
    SetActiveWindow(owner);
    if (focus != nullptr && IsWindow(focus) && (focus == owner || IsChild(owner, focus))) {
      SetFocus(focus);
    }
  }
  return answer;
}

}  // namespace

int LoadMessageText(int number, char* buffer, int size) {
  return LoadMessageText(g_instance, number, buffer, size);
}

void ShowMessageBox(int number, MessageStyle style) { ShowBox(number, static_cast<UINT>(style)); }

int ShowQuestionBox(int number) {
  return ShowBox(number, static_cast<UINT>(MessageStyle::kQuestion));
}

}  // namespace sq71
