// Erase Log: clears the log kept inside the meter with one "LE" request. The
// log image on the PC is not touched.
#ifndef SQ71_PROTOCOL_LOG_ERASE_H
#define SQ71_PROTOCOL_LOG_ERASE_H

#include <cstdint>

#include "ui/ui.h"
#include "usb/usb_device.h"

namespace sq71 {

// The meter answers an erase within this many milliseconds.
constexpr uint32_t kEraseTimeoutMs = 7000;

// The Erase Log command: asks first (message 23) and goes on only on Yes.
void EraseLogCommand(UsbDevice* device, Messages& ui);

// Reopens device 0, checks its identity, sends the erase request and waits
// for the meter's ACK; the outcome is shown (message 24, or 2, 10, 12). The
// device is left open afterwards: the next Read or Erase Log closes it
// before reopening. A null device (it could not be created at start-up) is
// reported as such.
void EraseMeterLog(UsbDevice* device, Messages& ui);

}  // namespace sq71

#endif
