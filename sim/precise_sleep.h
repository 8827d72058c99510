// Sleeping until a moment on the steady clock, as precisely as the system
// allows: the simulated chip's calls must last as long as its timing model
// says, neither returning early nor oversleeping by whole milliseconds.
#ifndef SQ71_SIM_PRECISE_SLEEP_H
#define SQ71_SIM_PRECISE_SLEEP_H

#include <chrono>

namespace sq71::sim {

void SleepUntil(std::chrono::steady_clock::time_point wake);

}  // namespace sq71::sim

#endif
