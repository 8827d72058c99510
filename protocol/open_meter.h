// Opening the meter for an exchange: the one sequence Read, Erase Log and
// the device listing each start with.
#ifndef SQ71_PROTOCOL_OPEN_METER_H
#define SQ71_PROTOCOL_OPEN_METER_H

#include "usb/usb_device.h"

namespace sq71 {

enum class OpenOutcome {
  kOpened,         // open at 115200 8N1, identity checked: ready to talk
  kPortError,      // the open or a line setting failed
  kWrongIdentity,  // the chip is not the meter's (or not set up as one)
};

// Closes whatever the device holds, opens device `index` and sets its line
// (Configure), asks for the shortest latency timer (best effort: a driver
// that refuses is only slower) and checks the chip's identity. On any
// outcome but kOpened the device is left closed; the status of the call that
// failed stays the device's last status.
OpenOutcome OpenMeter(UsbDevice& device, int index);

}  // namespace sq71

#endif
