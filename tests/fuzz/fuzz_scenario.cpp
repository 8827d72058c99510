// The scenario parser over any text. Relative log names resolve into a folder
// that does not exist, so no input reaches for files beside the fuzzer.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sim/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace sq71::sim;
  const std::string text(reinterpret_cast<const char*>(data), size);
  Scenario scenario;
  std::string error;
  if (ParseScenario(text, "/nonexistent-sq71-fuzz", &scenario, &error)) {
    if (scenario.latency_ms < 2 || scenario.latency_ms > 255) std::abort();
  } else {
    // "line N: ..." and of the scenario only the trace file.
    if (error.rfind("line ", 0) != 0) std::abort();
    if (!scenario.devices.empty() || scenario.latency_ms != Scenario().latency_ms) std::abort();
  }
  return 0;
}
