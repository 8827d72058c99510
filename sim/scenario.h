// Scenario files: which simulated meters are attached, how they behave and
// how the simulated driver times and traces them. A small key = value text:
//
//   # comment lines start with '#'
//   timing = wire            # instant | wire        (global keys come first)
//   latency_ms = 16          # 2..255
//   latency_timer = settable # settable | fixed (FT_SetLatencyTimer refused)
//   erase_ms = 1500          # how long the meter takes to erase (wire mode)
//   trace = trace.txt        # relative paths are taken from the file's folder
//   replay = session.txt     # answer from a recorded trace (the devices are not used)
//
//   [device]                 # one section per attached device, index 0 first
//   name = SQ-71 Meter
//   log = sample             # sample | empty | a .ulg file
//   description = "SQ-71 Meter "   # quotes keep blanks at either end
//   fault = record 5 no_reply
//   open_bytes = 0xA5        # fill the reply bytes the host ignores
//
// Only whole-line comments: a '#' inside a value is part of it.
#ifndef SQ71_SIM_SCENARIO_H
#define SQ71_SIM_SCENARIO_H

#include <memory>
#include <string>
#include <vector>

#include "sim/simulated_meter.h"
#include "sim/trace_reader.h"

namespace sq71::sim {

enum class Timing {
  kInstant,  // replies are there at once; nothing waits unless a fault delays
  kWire,     // 115200 baud on the wall clock, USB packets and latency timer
};

// Whose time the bus runs on.
enum class BusClock {
  kWall,     // a delayed reply, or a read waiting for one, waits as long
  kVirtual,  // the bus's own time, moved on to whatever a call would wait
             // for: a late reply costs no real time (for test campaigns)
};

// The devices a scenario may attach; each holds a 65,536-byte log image.
constexpr std::size_t kMaxScenarioDevices = 16;

struct Scenario {
  Timing timing = Timing::kWire;
  BusClock clock = BusClock::kWall;
  int latency_ms = 16;
  bool latency_settable = true;
  int erase_ms = 1500;
  std::string trace_path;  // empty: no trace file
  // The trace the meter answers from (replay_driver.h); null: the devices do.
  std::string replay_path;
  std::shared_ptr<const std::vector<TracedCall>> replay;
  std::string replay_backend;  // the backend that recorded it ("" when not told)
  std::vector<MeterConfig> devices;
};

// What runs when no scenario is named: one meter with the sample log, on the
// wall clock with the chip's default latency timer.
Scenario DefaultScenario();

// Parses scenario text. `base_dir` resolves relative file names (empty: as
// given). On error returns false with "line N: ..." in *error, and of the
// scenario only trace_path is set (to the trace file named before the error,
// if any) so that the error can still be reported there.
bool ParseScenario(const std::string& text, const std::string& base_dir, Scenario* scenario,
                   std::string* error);

// Reads (a regular file of at most 1 MiB) and parses a scenario file.
bool LoadScenarioFile(const std::string& path, Scenario* scenario, std::string* error);

// Reads a .ulg file of exactly one log image.
bool LoadLogFile(const std::string& path, LogImage* image, std::string* error);

}  // namespace sq71::sim

#endif
