// A way of reaching the meter's chip. Every backend fills the same driver
// table, so UsbDevice, the identity check, the listing, the erase and the
// transfer engine run unchanged over FTDI's own library, libftdi1, the
// operating system's serial driver or the simulated meter.
#ifndef SQ71_USB_BACKEND_H
#define SQ71_USB_BACKEND_H

#include <string>

#include "usb/d2xx.h"

namespace sq71 {

struct Backend {
  // "d2xx", "libftdi", "tty" or "sim": the name the user picks it by.
  std::string name;
  // The driver functions. Open(index) opens the index-th device this
  // backend counts; FT_ListDevices(&n, nullptr, FT_LIST_NUMBER_ONLY) counts.
  D2xxFunctions functions;
  // Where the index-th counted device is attached (a port path or a serial
  // number), for listings; empty when the backend cannot tell. May be null.
  std::string (*where)(int index) = nullptr;
  // True when the backend cannot read the chip's pin and CBUS settings, so
  // the identity check sees a failed EEPROM read (the tty backend).
  bool partial_identity = false;
};

}  // namespace sq71

#endif
