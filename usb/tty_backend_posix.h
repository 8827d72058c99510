// The tty backend: the meter's chip through the operating system's own serial
// driver (Linux ftdi_sio's /dev/ttyUSBn, macOS /dev/cu.*), with termios. It
// fills the same driver table as every other backend; device index i is the
// i-th port given.
//
// What the driver calls become:
// - FT_Open: open with O_NOCTTY, an exclusive lock (flock, and TIOCEXCL for
//   programs that do not lock), raw mode. FT_Close undoes the lock.
// - FT_SetBaudRate, FT_SetDataCharacteristics, FT_SetFlowControl: termios;
//   what termios cannot do exactly (a rate it has no constant for, mark or
//   space parity, DTR/DSR flow) is refused and the line is left as it was.
// - FT_Read / FT_Write: return when the count is done or the time-out set by
//   FT_SetTimeouts has run out on the monotonic clock (FT_OK with fewer
//   bytes); a vanished device gives FT_IO_ERROR. A time-out of 0 waits for
//   nothing: only what has already arrived is read.
// - FT_ClrDtr / FT_SetDtr: TIOCMBIC / TIOCMBIS; a line without modem lines (a
//   pseudo-terminal) takes them as done.
// - FT_Purge: tcflush.
// - FT_SetLatencyTimer: the lowest latency the driver offers, where it offers
//   one (Linux: the usb-serial latency_timer attribute and ASYNC_LOW_LATENCY);
//   never fails on an open port.
// - FT_EE_Read: the chip's pin settings cannot be read through a tty, so it
//   always reports FT_EEPROM_READ_FAILED, after filling in what sysfs tells
//   of the USB device (description, manufacturer, serial number, ids, power).
#ifndef SQ71_USB_TTY_BACKEND_POSIX_H
#define SQ71_USB_TTY_BACKEND_POSIX_H

#include <string>
#include <string_view>
#include <vector>

#include "usb/backend.h"

namespace sq71 {

// Fills *out with the tty backend over these ports (paths such as
// /dev/ttyUSB0 or /dev/serial/by-id/...). The ports are kept until the next
// call. False, with the reason in *error, when there is no port or one is
// an empty path; whether a port can be opened shows on FT_Open.
bool MakeTtyBackend(const std::vector<std::string>& ports, Backend* out, std::string* error);

// Why the tty backend's last FT_Open failed (cleared by one that succeeds).
struct TtyOpenFailure {
  // The errno behind it: EACCES or EPERM when the user may not use the port
  // (on Linux: the udev rule is not installed), EBUSY when another program
  // holds it, ENOENT when there is no such port, ENOTTY when the path is not
  // a serial port. 0 when no open has failed.
  int error_number = 0;
  std::string port;
  // One line: the port and the cause, e.g. "/dev/ttyUSB0: Permission denied".
  std::string text;
};
TtyOpenFailure TtyLastOpenFailure();

// The attribute files of the USB device that FT_EE_Read takes from sysfs.
inline constexpr const char* kSysfsAttributes[] = {
    "product", "manufacturer", "serial", "idVendor", "idProduct", "bMaxPower", "bmAttributes"};

// Puts what one of them says (the file's bytes as read) into the record:
// only the first line counts; text becomes printable ASCII ('?' for other
// bytes) cut to the driver's buffer sizes (64, 32, 16); a number that is not
// whole digits within its field's range, or an unknown name, changes nothing.
void ApplySysfsAttribute(std::string_view name, std::string_view text, FT_PROGRAM_DATA* data);

// Where sysfs is mounted ("/sys"); tests point it at a tree of their own.
void SetTtySysfsRoot(const std::string& root);

}  // namespace sq71

#endif
