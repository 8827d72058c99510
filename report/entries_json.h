// The decoded entries as one JSON array, for scripts.
#ifndef SQ71_REPORT_ENTRIES_JSON_H
#define SQ71_REPORT_ENTRIES_JSON_H

#include <string>
#include <vector>

#include "report/report_entries.h"

namespace sq71 {

// One object per entry, in record order. Numbers are in their units (dBuV,
// dBm, dBmV, dB, kHz, kBd, degrees east); a marker ("<", ">" or "") is a
// field of its own beside its value; a value the meter did not give is null.
std::string EntriesJson(const std::vector<ReportEntry>& entries);

}  // namespace sq71

#endif
