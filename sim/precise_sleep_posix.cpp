#include <thread>

#include "sim/precise_sleep.h"

namespace sq71::sim {

// The thread's sleep is good to a few tens of microseconds here; loop in
// case it wakes early.
void SleepUntil(std::chrono::steady_clock::time_point wake) {
  for (auto now = std::chrono::steady_clock::now(); now < wake;
       now = std::chrono::steady_clock::now()) {
    std::this_thread::sleep_for(wake - now);
  }
}

}  // namespace sq71::sim
