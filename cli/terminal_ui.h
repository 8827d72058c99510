// The main window's interfaces for a terminal: the meter commands run the
// transfer engine and the erase through them, as the program's window does.
#ifndef SQ71_CLI_TERMINAL_UI_H
#define SQ71_CLI_TERMINAL_UI_H

#include <functional>
#include <iosfwd>
#include <string>
#include <utility>

#include "ui/ui.h"

namespace sq71 {

class TerminalUi : public MainWindowUi {
 public:
  // Questions are asked on `ask` and answered from `in`; with no input (null)
  // every question is answered `unattended_answer`.
  TerminalUi(std::istream* in, std::ostream& ask, int unattended_answer)
      : in_(in), ask_(ask), unattended_answer_(unattended_answer) {}

  // Messages are kept for the command to report as it sees fit: an error
  // names the device and the record, which a box does not.
  void ShowMessage(int number, MessageStyle style) override;
  int AskQuestion(int number) override;
  void SetViewEnabled(bool) override {}
  void RedrawMenuBar() override {}
  void Invalidate(bool) override {}
  void StartTransferTimer() override { timer_armed_ = true; }
  void KillTransferTimer() override { timer_armed_ = false; }
  // Nobody waits on a terminal but for Ctrl-C: a tick stops at the next
  // exchange only when it has come.
  bool InputPending() override { return StopWanted(); }
  // Ctrl-C, or the query given in its place.
  bool StopWanted() override;
  void set_stop_query(std::function<bool()> stop) { stop_ = std::move(stop); }

  // What a question is about, said before it ("device 0 (d2xx, CD710001)").
  void set_subject(const std::string& subject) { subject_ = subject; }

  bool timer_armed() const { return timer_armed_; }
  // The last error message shown, -1 when none.
  int error() const { return error_; }
  // The last information message shown, -1 when none.
  int information() const { return information_; }

 private:
  std::istream* in_;
  std::ostream& ask_;
  int unattended_answer_;
  std::string subject_;
  std::function<bool()> stop_;
  bool timer_armed_ = false;
  int error_ = -1;
  int information_ = -1;
};

}  // namespace sq71

#endif
