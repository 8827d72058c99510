// The main window as the core sees it: message boxes, the View item, the
// progress bar's repaint and the transfer timer.
#ifndef SQ71_APP_MAIN_WINDOW_UI_WIN32_H
#define SQ71_APP_MAIN_WINDOW_UI_WIN32_H

#include <windows.h>

#include "ui/ui.h"

namespace sq71 {

class Win32MainWindowUi : public MainWindowUi {
 public:
  // window: the main window; null means "the global main window", looked up
  // at each call so the object can exist before the window does.
  explicit Win32MainWindowUi(HWND window = nullptr) : window_(window) {}

  void ShowMessage(int number, MessageStyle style) override;
  int AskQuestion(int number) override;
  void SetViewEnabled(bool enabled) override;
  void RedrawMenuBar() override;
  void Invalidate(bool erase) override;
  void StartTransferTimer() override;
  void KillTransferTimer() override;
  bool InputPending() override;

 private:
  HWND Window() const;

  HWND window_;
};

// The main window's UI, for the commands and the transfer engine.
MainWindowUi& MainUi();

}  // namespace sq71

#endif
