// What libusb sees of the FTDI chips attached, for telling a user why no
// meter answers: each chip's ids and strings, read without claiming it (the
// kernel's serial driver stays attached), why it could not be opened, and
// which kernel driver holds it. Built with the libftdi backend.
#ifndef SQ71_USB_LIBFTDI_PROBE_POSIX_H
#define SQ71_USB_LIBFTDI_PROBE_POSIX_H

#include <string>
#include <vector>

#include "usb/driver.h"

namespace sq71 {

struct FtdiChip {
  int vendor_id = 0;
  int product_id = 0;
  std::string description;  // the USB product string; "" when it could not be read
  std::string serial;
  std::string place;  // "usb 1-1.4", as Linux names it
  // Why the strings could not be read (kNone when they were), and the text.
  DriverFailure failure = DriverFailure::kNone;
  std::string error;
  // The kernel driver bound to its first interface ("ftdi_sio"), "" for none
  // or where the system does not say.
  std::string kernel_driver;
  // Its index among the libftdi backend's devices (the meter's 0403:6001
  // chips in libusb's order); -1 for other chips.
  int meter_chip_index = -1;
};

// libftdi1's version, "1.5".
std::string LibftdiVersion();

// Every FTDI chip libftdi knows by its ids. False, with the reason, when
// libusb cannot start or list the bus.
bool ProbeFtdiChips(std::vector<FtdiChip>* chips, std::string* error);

}  // namespace sq71

#endif
