// A main window for the meter commands' tests: records what the core asks of
// the window, answers questions as the test says, and plays the task-modal
// box's nested message loop through a hook that runs while a box is "up".
#ifndef SQ71_TESTS_UNIT_PROTOCOL_RECORDING_UI_H
#define SQ71_TESTS_UNIT_PROTOCOL_RECORDING_UI_H

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "protocol/transfer_state.h"
#include "ui/ui.h"

namespace sq71::test {

class RecordingUi : public MainWindowUi {
 public:
  // What a box saw when it came up: the transfer state (if one is watched)
  // and whether the last repaint request before it erased the bar.
  struct Box {
    int number;
    MessageStyle style;
    TransferState state;
    bool erased_before;
  };

  explicit RecordingUi(const TransferState* watched = nullptr) : watched_(watched) {}

  void ShowMessage(int number, MessageStyle style) override {
    events.push_back("message " + std::to_string(number));
    boxes.push_back(
        {number, style, watched_ != nullptr ? *watched_ : TransferState{}, last_invalidate_erased});
    if (while_box_up) while_box_up();
  }
  int AskQuestion(int number) override {
    events.push_back("question " + std::to_string(number));
    questions.push_back(number);
    return answer;
  }
  void SetViewEnabled(bool enabled) override {
    events.push_back(enabled ? "view on" : "view off");
    view_enabled = enabled;
  }
  void RedrawMenuBar() override { events.push_back("menu bar"); }
  void Invalidate(bool erase) override {
    events.push_back(erase ? "invalidate erase" : "invalidate");
    last_invalidate_erased = erase;
  }
  void StartTransferTimer() override {
    events.push_back("timer start");
    timer_running = true;
  }
  void KillTransferTimer() override {
    events.push_back("timer kill");
    timer_running = false;
  }
  bool InputPending() override {
    ++input_checks;
    return input_waiting;
  }

  std::vector<int> MessageNumbers() const {
    std::vector<int> numbers;
    for (const Box& box : boxes) numbers.push_back(box.number);
    return numbers;
  }
  int Count(const std::string& event) const {
    return static_cast<int>(std::count(events.begin(), events.end(), event));
  }

  std::vector<std::string> events;
  std::vector<Box> boxes;
  std::vector<int> questions;
  int answer = kAnswerYes;
  bool view_enabled = false;  // greyed, as the menu starts
  bool timer_running = false;
  bool last_invalidate_erased = false;
  // As if the user always had something waiting: one exchange a tick, so a
  // test can watch the download record by record.
  bool input_waiting = true;
  int input_checks = 0;
  // Runs while a box is up, as its message loop would dispatch timer ticks.
  std::function<void()> while_box_up;

 private:
  const TransferState* watched_;
};

}  // namespace sq71::test

#endif
