// The narrow interfaces through which the portable core reaches the user
// interface. The Win32 shell implements them with MessageBoxA, EnableMenuItem,
// InvalidateRect and SetTimer; tests implement them with recorders.
#ifndef SQ71_UI_UI_H
#define SQ71_UI_UI_H

#include <cstdint>

namespace sq71 {

// Message-box styles, with the exact Win32 flag values they stand for.
enum class MessageStyle : uint32_t {
  kError = 0x2010,        // MB_TASKMODAL | MB_ICONHAND
  kInformation = 0x2040,  // MB_TASKMODAL | MB_ICONINFORMATION
  kQuestion = 0x2023,     // MB_TASKMODAL | MB_ICONQUESTION | MB_YESNOCANCEL
};

// Answers of a question box (the Win32 button ids).
constexpr int kAnswerYes = 6;
constexpr int kAnswerNo = 7;
constexpr int kAnswerCancel = 2;

// Shows catalogue messages by number.
class Messages {
 public:
  virtual ~Messages() = default;
  // A box in the error or information style; its answer is not used.
  virtual void ShowMessage(int number, MessageStyle style) = 0;
  // A Yes/No/Cancel question; returns kAnswerYes, kAnswerNo or kAnswerCancel.
  virtual int AskQuestion(int number) = 0;
  // Whether the user has asked the running command to stop (Ctrl-C on a
  // terminal). A window never does: its commands run to their end.
  virtual bool StopWanted() { return false; }
};

// The View item of the main window's menu.
class ViewItem {
 public:
  virtual ~ViewItem() = default;
  virtual void SetViewEnabled(bool enabled) = 0;
  // Redraws the menu bar so a changed item shows at once.
  virtual void RedrawMenuBar() = 0;
};

// Everything the meter commands and file commands do to the main window.
class MainWindowUi : public Messages, public ViewItem {
 public:
  // Invalidates the client area (the progress bar), erasing it or not.
  virtual void Invalidate(bool erase) = 0;
  // Arms the transfer timer (id 12345, period 1 ms) on the main window.
  virtual void StartTransferTimer() = 0;
  // Kills the transfer timer.
  virtual void KillTransferTimer() = 0;
  // Whether the user is waiting on the window (a key, a click, a command in
  // its queue), so a long-running tick should return and let it be served.
  // A UI nobody waits on (the command line) keeps the default.
  virtual bool InputPending() { return false; }
};

}  // namespace sq71

#endif
