#include "app/main_window_ui_win32.h"

#include "app/app_state_win32.h"
#include "app/message_box_win32.h"
#include "resources/resource_ids.h"

namespace sq71 {

HWND Win32MainWindowUi::Window() const { return window_ != nullptr ? window_ : g_main_window; }

void Win32MainWindowUi::ShowMessage(int number, MessageStyle style) {
  ShowMessageBox(number, style);
}

int Win32MainWindowUi::AskQuestion(int number) { return ShowQuestionBox(number); }

void Win32MainWindowUi::SetViewEnabled(bool enabled) {
  EnableMenuItem(GetMenu(Window()), IDM_VIEW, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void Win32MainWindowUi::RedrawMenuBar() { DrawMenuBar(Window()); }

void Win32MainWindowUi::Invalidate(bool erase) {
  InvalidateRect(Window(), nullptr, erase ? TRUE : FALSE);
}

// Period 1 ms: the system raises it to its own minimum, so the download runs
// as fast as the timer allows.
void Win32MainWindowUi::StartTransferTimer() { SetTimer(Window(), TRANSFER_TIMER_ID, 1, nullptr); }

void Win32MainWindowUi::KillTransferTimer() { KillTimer(Window(), TRANSFER_TIMER_ID); }

// Keys, clicks, posted commands and messages sent from elsewhere. Not paint:
// the download's own progress keeps raising it, and it is served between
// ticks anyway. Not mouse moves either, which would slow the download for a
// pointer merely passing over the window.
bool Win32MainWindowUi::InputPending() {
  const DWORD waiting =
      QS_KEY | QS_MOUSEBUTTON | QS_POSTMESSAGE | QS_ALLPOSTMESSAGE | QS_SENDMESSAGE | QS_HOTKEY;
  return HIWORD(GetQueueStatus(waiting)) != 0;
}

MainWindowUi& MainUi() {
  static Win32MainWindowUi ui;
  return ui;
}

}  // namespace sq71
