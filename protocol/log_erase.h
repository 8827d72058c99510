// Erase Log: clears the log kept inside the meter with one "LE" request. The
// log image on the PC is not touched.
#ifndef SQ71_PROTOCOL_LOG_ERASE_H
#define SQ71_PROTOCOL_LOG_ERASE_H

#include <cstdint>

#include "protocol/transfer_engine.h"
#include "ui/ui.h"
#include "usb/usb_device.h"

namespace sq71 {

// The meter answers an erase within this many milliseconds.
constexpr uint32_t kEraseTimeoutMs = 7000;

// How far an erase went. The request is the point of no return: a stop
// asked for (Messages::StopWanted) before it is written ends the erase with
// nothing sent; once written, the meter's answer is waited for.
enum class EraseOutcome {
  kDeclined,  // the question was not answered Yes: nothing sent
  kStopped,   // a stop came before the request: nothing sent, nothing shown
  kNotSent,   // the device could not be opened or accepted (shown)
  kSent,      // the request went out; what came of it is shown
};

// The Erase Log command: asks first (message 23) and goes on only on Yes. A
// download that is running (the box lets its ticks through) is stopped before
// the erase, keeping the records it fetched; pass null where there is none.
EraseOutcome EraseLogCommand(UsbDevice* device, Messages& ui,
                             TransferEngine* download = nullptr);

// Reopens device 0, checks its identity, sends the erase request and waits
// for the meter's ACK; the outcome is shown (message 24, or 2, 10, 12). The
// device is closed afterwards whatever the outcome, so the device listing can
// open the meter. A null device (it could not be created at start-up) is
// reported as such.
EraseOutcome EraseMeterLog(UsbDevice* device, Messages& ui);

}  // namespace sq71

#endif
