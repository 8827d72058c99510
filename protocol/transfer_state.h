// The state of a log download, shared between the transfer engine, which
// fills it tick by tick, and the main window, which paints the progress bar
// from it and clears the reading flag when it stops the transfer timer.
#ifndef SQ71_PROTOCOL_TRANSFER_STATE_H
#define SQ71_PROTOCOL_TRANSFER_STATE_H

namespace sq71 {

struct TransferState {
  int reading = 0;      // 1 while a download runs
  int busy = 0;         // 1 while a tick is inside its exchange (turns away nested ticks)
  int next_record = 0;  // record number the next request asks for
  int total = 0;        // records a full download takes (set before reading goes to 1)
  int progress = 0;     // record last asked for; total once complete (bar width)
};

}  // namespace sq71

#endif
