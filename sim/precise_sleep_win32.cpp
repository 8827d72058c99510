#include <windows.h>

#include <thread>

#include "sim/precise_sleep.h"

namespace sq71::sim {

// Sleep() only counts whole milliseconds and may run a little over (and the
// C++ library's sleep_for, built on it, more than that), so the last stretch
// is spent yielding the processor instead.
void SleepUntil(std::chrono::steady_clock::time_point wake) {
  using std::chrono::milliseconds;
  for (auto now = std::chrono::steady_clock::now(); now < wake;
       now = std::chrono::steady_clock::now()) {
    const auto left = std::chrono::duration_cast<milliseconds>(wake - now);
    if (left >= milliseconds(2)) {
      Sleep(static_cast<DWORD>(left.count() - 1));
    } else {
      std::this_thread::yield();
    }
  }
}

}  // namespace sq71::sim
