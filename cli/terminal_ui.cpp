#include "cli/terminal_ui.h"

#include <istream>
#include <ostream>
#include <string>

#include "cli/platform.h"
#include "ui/message_catalogue.h"

namespace sq71 {

void TerminalUi::ShowMessage(int number, MessageStyle style) {
  (style == MessageStyle::kError ? error_ : information_) = number;
}

bool TerminalUi::StopWanted() { return stop_ ? stop_() : StopRequested(); }

int TerminalUi::AskQuestion(int number) {
  if (in_ == nullptr) return unattended_answer_;
  if (!subject_.empty()) ask_ << subject_ << ": ";
  ask_ << MessageText(number) << " [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(*in_, answer)) {
    ask_ << "\n";
    return kAnswerNo;
  }
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" ? kAnswerYes
                                                                              : kAnswerNo;
}

}  // namespace sq71
