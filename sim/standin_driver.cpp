#include "sim/standin_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "sim/replay_driver.h"
#include "sim/scenario.h"
#include "sim/sim_driver.h"

namespace sq71::sim {
namespace {

struct Standin {
  std::unique_ptr<SimDriver> sim;
  std::unique_ptr<Driver> replay;
};

Standin& TheStandin() {
  static Standin* const standin = [] {
    auto* made = new Standin;
    std::string error;
    const char* path = std::getenv("SQ71_SIM");
    Scenario scenario;
    if (path != nullptr && *path != '\0' && LoadScenarioFile(path, &scenario, &error) &&
        scenario.replay != nullptr) {
      made->replay = MakeReplayDriver(scenario, &error);
      if (made->replay != nullptr) return made;
      std::fprintf(stderr, "simulated meter: %s\n", error.c_str());
    }
    // A scenario error leaves no devices attached and is reported on stderr
    // and in the trace file.
    made->sim = std::make_unique<SimDriver>();
    made->sim->SetMemoryTrace(false);
    made->sim->ConfigureFromEnvironment(&error);
    return made;
  }();
  return *standin;
}

}  // namespace

Driver& StandinDriver() {
  Standin& standin = TheStandin();
  return standin.replay != nullptr ? *standin.replay : static_cast<Driver&>(*standin.sim);
}

FT_STATUS StandinListDevices(void* arg1, void* arg2, uint32_t flags) {
  Standin& standin = TheStandin();
  if (standin.replay == nullptr) return standin.sim->ListDevices(arg1, arg2, flags);
  if ((flags & FT_LIST_BY_INDEX) != 0 && (flags & FT_OPEN_BY_SERIAL_NUMBER) != 0) {
    const std::string serial =
        standin.replay->Where(static_cast<int>(reinterpret_cast<uintptr_t>(arg1)));
    if (arg2 == nullptr || serial.empty()) return FT_DEVICE_NOT_FOUND;
    // The driver's serial-number buffer is 16 characters with its NUL.
    const std::size_t n = std::min<std::size_t>(serial.size(), 15);
    std::memcpy(arg2, serial.data(), n);
    static_cast<char*>(arg2)[n] = '\0';
    return FT_OK;
  }
  if ((flags & FT_LIST_NUMBER_ONLY) == 0) return FT_NOT_SUPPORTED;
  if (arg1 == nullptr) return FT_INVALID_PARAMETER;
  return standin.replay->CountDevices(static_cast<uint32_t*>(arg1));
}

FT_STATUS StandinGetLatencyTimer(FT_HANDLE handle, uint8_t* ms) {
  Standin& standin = TheStandin();
  if (standin.replay != nullptr) return FT_NOT_SUPPORTED;
  return standin.sim->GetLatencyTimer(handle, ms);
}

}  // namespace sq71::sim
