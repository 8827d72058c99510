// The one interface through which everything above usb/ reaches the meter's
// chip. Each backend (FTDI's own library, libftdi1, the serial driver, the
// simulated meter) is a class that owns all of its state; a wrapper around
// any driver (the trace) is a driver too. The operations are the D2XX calls
// the program makes, with their statuses and meanings, so the protocol code
// is the same whichever backend is under it.
#ifndef SQ71_USB_DRIVER_H
#define SQ71_USB_DRIVER_H

#include <cstdint>
#include <string>

#include "usb/d2xx.h"

namespace sq71 {

// The names drivers go by (Driver::name()), which a trace's first line
// records: the backends a user picks, the simulator, and the web page's two
// (Web Serial, and the project's FT232R driver over WebUSB).
inline constexpr const char* kDriverNames[] = {"d2xx", "libftdi", "tty",
                                               "sim",  "webusb",  "webserial"};

// What lies behind a driver's last failure, where the backend can tell.
enum class DriverFailure {
  kNone,
  kPermission,  // the user may not open the device (no udev rule, not in dialout)
  kBusy,        // another program or driver holds it
  kGone,        // the device went away (unplugged)
  kOther,
};

class Driver {
 public:
  Driver() = default;
  virtual ~Driver() = default;
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // One of kDriverNames: the name the user picks it by. A wrapper answers
  // with the name of the driver it wraps.
  virtual std::string name() const = 0;

  // FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY).
  virtual FT_STATUS CountDevices(uint32_t* count) = 0;
  // Where the index-th counted device is attached (a serial number or a port
  // path), without opening it; "" when the backend cannot tell.
  virtual std::string Where(int index) { return (void)index, std::string(); }

  virtual FT_STATUS Open(int index, FT_HANDLE* handle) = 0;
  virtual FT_STATUS Close(FT_HANDLE handle) = 0;
  virtual FT_STATUS Read(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* returned) = 0;
  virtual FT_STATUS Write(FT_HANDLE handle, const void* buffer, uint32_t count,
                          uint32_t* written) = 0;
  virtual FT_STATUS SetBaudRate(FT_HANDLE handle, uint32_t baud) = 0;
  virtual FT_STATUS SetDataCharacteristics(FT_HANDLE handle, uint8_t word_length,
                                           uint8_t stop_bits, uint8_t parity) = 0;
  virtual FT_STATUS SetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t xon, uint8_t xoff) = 0;
  virtual FT_STATUS SetDtr(FT_HANDLE handle) = 0;
  virtual FT_STATUS ClrDtr(FT_HANDLE handle) = 0;
  virtual FT_STATUS Purge(FT_HANDLE handle, uint32_t mask) = 0;
  virtual FT_STATUS SetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t write_ms) = 0;
  virtual FT_STATUS EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) = 0;

  // Optional in drivers: FT_NOT_SUPPORTED, with nothing done, where the
  // driver has no such call. Then the chip keeps the latency timer it has.
  virtual FT_STATUS SetLatencyTimer(FT_HANDLE handle, uint8_t ms) {
    return (void)handle, (void)ms, FT_NOT_SUPPORTED;
  }
  // FT_GetQueueStatus: the bytes waiting to be read. Optional likewise.
  virtual FT_STATUS GetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes) {
    return (void)handle, (void)rx_bytes, FT_NOT_SUPPORTED;
  }

  // True when the chip's pin and CBUS settings cannot be read, so the
  // identity check sees a failed EEPROM read (the tty backend).
  virtual bool partial_identity() const { return false; }

  // The backend's own one-line text for its last failed call (libftdi's
  // error string, the tty's errno text), and what lay behind it; "" and
  // kNone where the backend has nothing to add to the status. A failing
  // Close does not replace what an earlier failure left.
  virtual std::string last_error() const { return std::string(); }
  virtual DriverFailure last_failure() const { return DriverFailure::kNone; }
};

}  // namespace sq71

#endif
