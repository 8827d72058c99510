// The project's own FT232R driver: the driver calls served with the chip's
// vendor requests and bulk transfers (ft232r_usb.h) over a USB transport,
// for a browser's WebUSB where no system driver gives a serial port (Android
// phones, ChromeOS, Linux without ftdi_sio). The chip's EEPROM is read word
// by word and decoded by our own code, so the whole identity check runs.
//
// Reads: bulk IN transfers of several packets, each packet's status bytes
// dropped, until the wanted count or the read time-out (FT_OK with fewer
// bytes, as FTDI's driver); bytes beyond the wanted count wait on the host
// for the next read, and are what the receive queue reports.
#ifndef SQ71_USB_WEBUSB_DRIVER_H
#define SQ71_USB_WEBUSB_DRIVER_H

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "usb/driver.h"
#include "usb/ft232r_usb.h"

namespace sq71 {

// The name the trace and the user know the driver by.
constexpr char kWebUsbBackend[] = "webusb";  // one of kDriverNames

class WebUsbDriver : public Driver {
 public:
  WebUsbDriver() = default;
  ~WebUsbDriver() override;

  // A chip the driver may reach (the page's granted devices), counted in
  // the order attached. A transport that has gone away is no longer
  // counted; its handle keeps failing with FT_IO_ERROR until closed.
  void Attach(std::shared_ptr<ft232r::UsbTransport> device);

  std::string name() const override { return kWebUsbBackend; }
  FT_STATUS CountDevices(uint32_t* count) override;
  std::string Where(int index) override;
  // Claims the interface, resets the chip and sets 9600 baud, as FTDI's and
  // libftdi's opens leave it.
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
  FT_STATUS GetLatencyTimer(FT_HANDLE handle, uint8_t* ms);
  // What has come to the host and not been read; takes in what the
  // transport already holds, without waiting.
  FT_STATUS GetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes) override;
  std::string last_error() const override { return last_error_; }
  DriverFailure last_failure() const override { return last_failure_; }

 private:
  struct Handle {
    std::shared_ptr<ft232r::UsbTransport> device;
    uint32_t read_timeout_ms = 0;
    std::deque<uint8_t> received;  // data taken in, not yet read
  };

  Handle* Find(FT_HANDLE handle);
  // The failure of a USB call, as a status, with its text kept.
  FT_STATUS Failed(Handle& h, ft232r::UsbStatus status, const char* what);
  FT_STATUS Control(FT_HANDLE handle, const ft232r::ControlRequest& request, const char* what);
  // One bulk IN transfer into h.received. kTimeout when nothing came.
  ft232r::UsbStatus TakeIn(Handle& h, uint32_t timeout_ms);

  std::vector<std::shared_ptr<ft232r::UsbTransport>> devices_;
  std::vector<std::unique_ptr<Handle>> handles_;
  std::string last_error_;
  DriverFailure last_failure_ = DriverFailure::kNone;
};

}  // namespace sq71

#endif
