#include <emscripten.h>

#include "sim/precise_sleep.h"

namespace sq71::sim {
namespace {

// Gives the page's thread back to the browser for about ms milliseconds:
// a timer for the whole milliseconds, a message for less. The message task
// first also clears the timers' nesting, so a chain of short sleeps is not
// stretched to the browser's 4 ms floor for nested timers.
EM_ASYNC_JS(void, sq71_yield_ms, (double ms), {
  await new Promise((resolve) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => {
      channel.port1.close();
      if (ms >= 1) setTimeout(resolve, Math.floor(ms)); else resolve();
    };
    channel.port2.postMessage(0);
  });
});

}  // namespace

// In the page the simulated chip must not block: every wait suspends the call
// into the module (Asyncify) and lets the page run meanwhile.
void SleepUntil(std::chrono::steady_clock::time_point wake) {
  for (auto now = std::chrono::steady_clock::now(); now < wake;
       now = std::chrono::steady_clock::now()) {
    sq71_yield_ms(std::chrono::duration<double, std::milli>(wake - now).count());
  }
}

}  // namespace sq71::sim
