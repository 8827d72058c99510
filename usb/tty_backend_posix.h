// The tty backend: the meter's chip through the operating system's own serial
// driver (Linux ftdi_sio's /dev/ttyUSBn, macOS /dev/cu.*), with termios,
// behind the same driver interface as every other backend.
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
// - FT_Purge: tcflush. FT_GetQueueStatus: FIONREAD (TIOCINQ).
// - FT_SetLatencyTimer: the lowest latency the driver offers, where it offers
//   one (Linux: the usb-serial latency_timer attribute and ASYNC_LOW_LATENCY);
//   never fails on an open port.
// - FT_EE_Read: the chip's pin settings cannot be read through a tty, so it
//   always reports FT_EEPROM_READ_FAILED, after filling in what sysfs tells
//   of the USB device (description, manufacturer, serial number, ids, power).
#ifndef SQ71_USB_TTY_BACKEND_POSIX_H
#define SQ71_USB_TTY_BACKEND_POSIX_H

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "usb/driver.h"

namespace sq71 {

// Why the tty backend's last FT_Open failed (cleared by the next open).
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

// The ports (paths such as /dev/ttyUSB0 or /dev/serial/by-id/...) as a
// driver: device index i is the i-th port. Whether a port can be opened
// shows on Open. Ports still open are closed with the object.
class TtyDriver : public Driver {
 public:
  explicit TtyDriver(std::vector<std::string> ports) : ports_(std::move(ports)) {}
  ~TtyDriver() override;

  std::string name() const override { return "tty"; }
  FT_STATUS CountDevices(uint32_t* count) override;
  // The port's path.
  std::string Where(int index) override;
  FT_STATUS Open(int index, FT_HANDLE* handle) override;
  FT_STATUS Close(FT_HANDLE handle) override;
  FT_STATUS Read(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* returned) override;
  FT_STATUS Write(FT_HANDLE handle, const void* buffer, uint32_t count, uint32_t* written) override;
  FT_STATUS SetBaudRate(FT_HANDLE handle, uint32_t baud) override;
  FT_STATUS SetDataCharacteristics(FT_HANDLE handle, uint8_t word_length, uint8_t stop_bits,
                                   uint8_t parity) override;
  FT_STATUS SetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t xon, uint8_t xoff) override;
  FT_STATUS SetDtr(FT_HANDLE handle) override;
  FT_STATUS ClrDtr(FT_HANDLE handle) override;
  FT_STATUS Purge(FT_HANDLE handle, uint32_t mask) override;
  FT_STATUS SetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t write_ms) override;
  FT_STATUS EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) override;
  FT_STATUS SetLatencyTimer(FT_HANDLE handle, uint8_t ms) override;
  FT_STATUS GetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes) override;
  bool partial_identity() const override { return true; }
  std::string last_error() const override;
  DriverFailure last_failure() const override;

  TtyOpenFailure last_open_failure() const;
  // Where sysfs is mounted ("/sys"); tests point it at a tree of their own.
  void set_sysfs_root(const std::string& root);

 private:
  struct Port;
  Port* Find(FT_HANDLE handle);
  FT_STATUS OpenFailed(const std::string& path, int error_number);
  // Keeps the errno text of a failed call on an open port.
  FT_STATUS Failed(const Port& port, int error_number, FT_STATUS status);
  template <typename Change>
  FT_STATUS ChangeLine(FT_HANDLE handle, Change change);
  FT_STATUS SetModemLines(FT_HANDLE handle, unsigned long request);
  std::string SysfsTtyDir(const std::string& path);

  // The handles are shared by whatever thread calls; a call holds the lock
  // only to look its handle up (Close: to look it up and give it up).
  mutable std::mutex mutex_;
  const std::vector<std::string> ports_;
  std::set<Port*> open_;
  std::string sysfs_root_ = "/sys";
  TtyOpenFailure open_failure_;
  std::string last_error_;
  DriverFailure last_failure_ = DriverFailure::kNone;
};

// The tty driver over these ports. Null, with the reason in *error, when
// there is no port or one is an empty path.
std::unique_ptr<TtyDriver> MakeTtyDriver(const std::vector<std::string>& ports, std::string* error);

// The attribute files of the USB device that FT_EE_Read takes from sysfs.
inline constexpr const char* kSysfsAttributes[] = {
    "product", "manufacturer", "serial", "idVendor", "idProduct", "bMaxPower", "bmAttributes"};

// Puts what one of them says (the file's bytes as read) into the record:
// only the first line counts; text becomes printable ASCII ('?' for other
// bytes) cut to the driver's buffer sizes (64, 32, 16); a number that is not
// whole digits within its field's range, or an unknown name, changes nothing.
void ApplySysfsAttribute(std::string_view name, std::string_view text, FT_PROGRAM_DATA* data);

}  // namespace sq71

#endif
