// The meters a browser reaches: an FT232R over WebUSB (the USB transport
// under the core's WebUsbDriver) and a serial port over Web Serial (a driver
// of its own). Both only move bytes to the page's JavaScript (web/src/
// meters.ts), which owns the USBDevice and SerialPort objects; each call
// suspends the module (Asyncify) until the browser's promise settles. A
// device is known here by the number the page gave it.
#ifndef SQ71_WEB_BROWSER_METERS_WEB_H
#define SQ71_WEB_BROWSER_METERS_WEB_H

#include <memory>
#include <string>
#include <vector>

#include "usb/driver.h"
#include "usb/ft232r_usb.h"

namespace sq71::web {

class WebUsbTransport : public ft232r::UsbTransport {
 public:
  WebUsbTransport(int id, std::string serial) : id_(id), serial_(std::move(serial)) {}
  ~WebUsbTransport() override { Close(); }

  ft232r::UsbStatus Open() override;
  void Close() override;
  bool connected() const override;
  std::string serial_number() const override { return serial_; }
  ft232r::UsbStatus ControlOut(const ft232r::ControlRequest& request) override;
  ft232r::UsbStatus ControlIn(const ft232r::ControlRequest& request, uint8_t* data,
                              std::size_t* got) override;
  ft232r::UsbStatus BulkOut(const uint8_t* data, std::size_t count, std::size_t* sent) override;
  ft232r::UsbStatus BulkIn(uint8_t* data, std::size_t capacity, std::size_t* got,
                           uint32_t timeout_ms) override;
  void DropReceived() override;

 private:
  int id_;
  std::string serial_;
  bool open_ = false;
};

// The name the trace and the user know the Web Serial driver by.
constexpr char kWebSerialBackend[] = "webserial";  // one of kDriverNames

// A port of the system's serial driver for the chip: 115200 8N1 as the core
// sets it; reads wait on what the page's reading loop has taken in; a
// receive purge cancels that reader, which drops what the port held. It
// has no receive queue count, no EEPROM and no latency timer.
class WebSerialDriver : public Driver {
 public:
  void Attach(int id, std::string where);

  std::string name() const override { return kWebSerialBackend; }
  FT_STATUS CountDevices(uint32_t* count) override;
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
  // The system's driver keeps the chip's EEPROM to itself.
  FT_STATUS EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) override;
  bool partial_identity() const override { return true; }
  std::string last_error() const override { return last_error_; }
  DriverFailure last_failure() const override { return last_failure_; }

 private:
  struct Port {
    int id;
    std::string where;
    bool open = false;
    uint32_t baud = 9600;
    uint8_t bits = 8, stop = 0, parity = 0;
    uint32_t read_timeout_ms = 0;
  };
  Port* Find(FT_HANDLE handle);
  // The port opened again with its line settings (Web Serial sets them only
  // when it opens a port).
  FT_STATUS Reopen(Port& port);
  FT_STATUS Failed(int code, const char* what);

  std::vector<std::unique_ptr<Port>> ports_;
  std::string last_error_;
  DriverFailure last_failure_ = DriverFailure::kNone;
};

}  // namespace sq71::web

#endif
