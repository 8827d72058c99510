// The simulated meters in instant mode for the meter commands' tests, with
// logs made to measure and helpers that read the driver trace.
#ifndef SQ71_TESTS_UNIT_PROTOCOL_SIM_BUS_H
#define SQ71_TESTS_UNIT_PROTOCOL_SIM_BUS_H

#include <cstdio>
#include <string>
#include <vector>

#include "log/log_image.h"
#include "sim/sample_log.h"
#include "sim/sim_driver.h"

namespace sq71::test {

// The simulated bus these tests talk to.
inline sim::SimDriver& TestBus() {
  static sim::SimDriver bus;
  return bus;
}

// Attaches these meters (index 0 first), answering at once, with a fresh
// in-memory trace.
inline void AttachMeters(std::vector<sim::MeterConfig> meters) {
  sim::Scenario scenario;
  scenario.timing = sim::Timing::kInstant;
  scenario.devices = std::move(meters);
  TestBus().Configure(scenario);
  TestBus().SetMemoryTrace(true);
  TestBus().ClearTrace();
}

// A log of `entries` real records (each byte tells its record and place, and
// the status byte cycles through 0 to 3), then the end marker when there is
// room for it, then zeros.
inline LogImage LogWithEntries(int entries) {
  LogImage image{};
  for (int n = 0; n < entries && n < kRecordCount; ++n) {
    uint8_t* record = RecordAt(image, n);
    for (std::size_t i = 0; i < kRecordSize; ++i) {
      record[i] = static_cast<uint8_t>(n * 7 + i * 13 + 1);
    }
    record[rec::kStatus] = static_cast<uint8_t>(n % 4);
  }
  if (entries < kRecordCount) sim::WriteEndMarker(RecordAt(image, entries));
  return image;
}

inline sim::MeterConfig MeterWithLog(const LogImage& log) {
  sim::MeterConfig meter;
  meter.log = log;
  return meter;
}

inline sim::Fault MakeFault(sim::FaultWhen when, int key, sim::FaultAction action, int value = -1) {
  sim::Fault fault;
  fault.when = when;
  fault.key = key;
  fault.action = action;
  fault.value = value;
  return fault;
}

// Trace lines starting with `prefix`.
inline std::vector<std::string> TraceStarting(const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : TestBus().TraceLines()) {
    if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
  }
  return found;
}

// The trace line of a read-record request for record r, worked out by hand:
// 02 00 04 4C 52 rh rl and the two's complement of 0x1A ^ rh ^ rl.
inline std::string ReadRequestLine(int r) {
  const int rh = (r >> 8) & 0xFF;
  const int rl = r & 0xFF;
  const int cs = (0x100 - (0x1A ^ rh ^ rl)) & 0xFF;
  char text[64];
  std::snprintf(text, sizeof text, "WRITE 02 00 04 4C 52 %02X %02X %02X", rh, rl, cs);
  return text;
}

}  // namespace sq71::test

#endif
