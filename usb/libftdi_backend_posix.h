// The libftdi1 backend: the driver calls served by libftdi1 over libusb, for
// Linux and macOS machines without FTDI's own library. Built only where
// libftdi1 is found (SQ71_HAVE_LIBFTDI).
#ifndef SQ71_USB_LIBFTDI_BACKEND_POSIX_H
#define SQ71_USB_LIBFTDI_BACKEND_POSIX_H

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "usb/driver.h"

struct ftdi_context;
struct libusb_device;

namespace sq71 {

// The chip the meter carries, as libusb sees it.
constexpr int kLibftdiVendorId = 0x0403;
constexpr int kLibftdiProductId = 0x6001;

// Why libusb will not open a device, which libftdi folds into one code:
// opening once more through libusb tells a missing permission, a busy device
// and a vanished one apart. *text (when given) gets libusb's words, and is
// left as it was when the device opens this time.
DriverFailure LibusbOpenFailure(libusb_device* dev, std::string* text = nullptr);

// The meter chips libusb finds, in libusb's order, as a driver. Handles
// still open are closed (and their chips given back to the kernel's serial
// driver) with the object.
class LibftdiDriver : public Driver {
 public:
  LibftdiDriver() = default;
  ~LibftdiDriver() override;

  std::string name() const override { return "libftdi"; }
  FT_STATUS CountDevices(uint32_t* count) override;
  // The serial number when the chip gives it without being claimed, else
  // the place on the bus ("usb 1-1.4", as Linux names it).
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
  // libftdi's text and, where known, libusb's.
  std::string last_error() const override;
  DriverFailure last_failure() const override;

 private:
  struct Handle;
  Handle* Find(FT_HANDLE handle);
  void SetError(DriverFailure kind, std::string text);
  FT_STATUS IoFailure(ftdi_context* ftdi, const char* what);
  ftdi_context* NewContext();
  FT_STATUS SetDtrState(FT_HANDLE handle, int state);

  mutable std::mutex mutex_;
  std::set<Handle*> handles_;
  std::string last_error_;
  DriverFailure last_failure_ = DriverFailure::kNone;
};

// The libftdi driver. Null (with the reason in *error) when libusb cannot
// start, e.g. with no USB support at all.
std::unique_ptr<LibftdiDriver> MakeLibftdiDriver(std::string* error);

}  // namespace sq71

#endif
