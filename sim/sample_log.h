// A realistic measurement log for the simulated meter: a few dozen entries
// taken on European satellites, the kind a dish installer logs in an
// afternoon, followed by the end marker.
#ifndef SQ71_SIM_SAMPLE_LOG_H
#define SQ71_SIM_SAMPLE_LOG_H

#include <cstdint>

#include "log/log_image.h"

namespace sq71::sim {

// Number of entries in the sample log; record kSampleEntryCount is the end
// marker and every record after it is zero, as a download leaves them.
constexpr int kSampleEntryCount = 36;

// Writes an end marker record as the meter keeps it: erased flash, all 0xFF.
void WriteEndMarker(uint8_t* record);

// An empty log: the end marker in record 0, zero bytes after it.
LogImage MakeEmptyLog();

// The sample log (deterministic: the same bytes every time).
LogImage MakeSampleLog();

}  // namespace sq71::sim

#endif
