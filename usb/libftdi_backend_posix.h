// The libftdi1 backend: the driver table served by libftdi1 over libusb, for
// Linux and macOS machines without FTDI's own library. Built only where
// libftdi1 is found (SQ71_HAVE_LIBFTDI).
#ifndef SQ71_USB_LIBFTDI_BACKEND_POSIX_H
#define SQ71_USB_LIBFTDI_BACKEND_POSIX_H

#include <string>

#include "usb/backend.h"

namespace sq71 {

// The chip the meter carries, as libusb sees it.
constexpr int kLibftdiVendorId = 0x0403;
constexpr int kLibftdiProductId = 0x6001;

// Fills *out with the "libftdi" backend. Fails (with the reason in *error)
// when libusb cannot start, e.g. with no USB support at all.
bool MakeLibftdiBackend(Backend* out, std::string* error);

// Why the last call of this backend that failed, failed.
struct LibftdiError {
  enum Kind {
    kNone,
    kPermission,  // the device node may not be opened: no udev rule for it
    kBusy,        // another program or driver holds the interface
    kGone,        // the device went away (unplugged)
    kOther,
  };
  Kind kind = kNone;
  std::string text;  // one line: libftdi's text and, where known, libusb's
};
LibftdiError LibftdiLastError();

}  // namespace sq71

#endif
