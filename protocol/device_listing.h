// Version: asks every attached FTDI device, one after the other, to identify
// itself as a meter, and collects the names of those that answer.
#ifndef SQ71_PROTOCOL_DEVICE_LISTING_H
#define SQ71_PROTOCOL_DEVICE_LISTING_H

#include <cstdint>
#include <functional>

#include "usb/driver.h"

namespace sq71 {

// Read time-out of the identify exchange: a meter answers well within it,
// and every other device costs no more than this.
constexpr uint32_t kIdentifyReadTimeoutMs = 200;
constexpr uint32_t kIdentifyWriteTimeoutMs = 1000;

// Receives each meter's device index and name as it answers (the dialog's
// list box sorts).
using DeviceNameSink = std::function<void(int index, const char* name)>;
// Asked before each device; true ends the listing there (Ctrl-C).
using StopCheck = std::function<bool()>;

// Tries every device the driver counts, each on a temporary device object
// of its own; devices that cannot be opened, fail the identity check or give
// no valid reply are left out silently. Returns the number of meters that
// answered. Whatever device object the program keeps for Read and Erase Log
// is not involved. Every device tried is closed again, a stop included.
int ListDevices(Driver& driver, const DeviceNameSink& add_name, const StopCheck& stop = {});

}  // namespace sq71

#endif
