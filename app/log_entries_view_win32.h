// The Log Entries view (dialog 208): every entry of the log image as one row
// of a tab-aligned list, with a button that exports the same entries as CSV.
#ifndef SQ71_APP_LOG_ENTRIES_VIEW_WIN32_H
#define SQ71_APP_LOG_ENTRIES_VIEW_WIN32_H

#include <windows.h>

#include <array>

#include "log/decoder.h"
#include "log/log_image.h"
#include "ui/ui.h"

namespace sq71 {

// List-box tab stops in dialog template units from the list's left edge:
// where columns 2 to 22 of a list row start. Each marker ("<" or ">") has a
// narrow column of its own just left of its value.
constexpr std::array<int, 21> kLogEntryTabStops = {
    44,   // transponder name
    118,  // longitude
    154,  // RF marker
    162,  // RF dBm
    190,  // RF marker
    198,  // RF dBuV
    222,  // RF marker
    230,  // RF dBmV
    264,  // Locked
    286,  // Pilots
    316,  // IQ Swap
    334,  // MER marker
    342,  // MER
    364,  // QBER marker
    372,  // QBER
    432,  // nominal frequency
    470,  // measured frequency
    520,  // nominal symbol rate
    558,  // measured symbol rate
    591,  // standard
    623,  // code rate
};

// What the view reads and uses: the module holding its templates and texts,
// the log image, the program's one decoder, where its export reports, and
// whether quiet mode is on.
struct LogEntriesContext {
  HINSTANCE instance = nullptr;
  const LogImage* image = nullptr;
  RecordDecoder* decoder = nullptr;
  Messages* messages = nullptr;
  bool quiet = false;
};

// The context the dialog procedure works with; ShowLogEntriesView sets it.
void SetLogEntriesContext(const LogEntriesContext& context);

INT_PTR CALLBACK LogEntriesDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Runs the view modally, owned by owner, with creation parameter 0.
void ShowLogEntriesView(HWND owner, const LogEntriesContext& context);

}  // namespace sq71

#endif
