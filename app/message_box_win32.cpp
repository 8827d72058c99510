#include "app/message_box_win32.h"

#include <windows.h>

#include "app/app_state_win32.h"
#include "ui/message_catalogue.h"
#include "ui/message_text_win32.h"

namespace sq71 {
namespace {

// No owner window: the task-modal style disables every window of the thread
// anyway, and a box must still come up before the main window exists.
int ShowBox(int number, UINT style) {
  char text[kMessageBufferSize];
  LoadMessageText(number, text, static_cast<int>(sizeof text));
  return MessageBoxA(nullptr, text, g_caption, style);
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
