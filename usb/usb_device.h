// One D2XX device handle and the settings last applied to it. Every operation
// is one driver call: it stores the driver's status and returns it. On an
// object with no open device every operation but Open and Configure returns 0
// at once, calls nothing and leaves the last status alone. A Close never
// replaces the status of an earlier call that failed, so the first failure is
// what is reported.
#ifndef SQ71_USB_USB_DEVICE_H
#define SQ71_USB_USB_DEVICE_H

#include <cstdint>
#include <string>

#include "usb/d2xx.h"
#include "usb/driver.h"

namespace sq71 {

// The USB description the meter's chip must hold.
constexpr char kExpectedDescription[] = "SQ-71 Meter";
// The chip's latency timer while we talk to the meter: the last bytes of a
// reply are held back until it runs out (16 ms by default), so the shortest
// the chip allows.
constexpr uint8_t kLatencyTimerMs = 2;

class UsbDevice {
 public:
  // The driver must outlive the object.
  explicit UsbDevice(Driver& driver);
  // Does nothing: in particular it does not close an open device.
  ~UsbDevice() {}

  // The EEPROM record points into this object's own text buffers.
  UsbDevice(const UsbDevice&) = delete;
  UsbDevice& operator=(const UsbDevice&) = delete;

  // Opens by index without looking at a handle already held.
  FT_STATUS Open(int index);
  // Back to Closed whatever FT_Close reports; its status is stored only when
  // no earlier call failed.
  FT_STATUS Close();
  // Open, DTR off, then (if both went well) baud rate, data characteristics
  // and no flow control, each called whatever the one before returned.
  // Returns the first status that is not FT_OK, else FT_OK.
  FT_STATUS Configure(int index, uint32_t baud, uint8_t word_length, uint8_t stop_bits,
                      uint8_t parity);
  FT_STATUS Write(const void* buffer, uint32_t count);
  FT_STATUS Read(void* buffer, uint32_t wanted);
  FT_STATUS Purge(uint32_t mask);
  FT_STATUS PurgeReceive();
  FT_STATUS PurgeTransmit();
  FT_STATUS SetBaudRate(uint32_t baud);
  FT_STATUS SetDataCharacteristics(uint8_t word_length, uint8_t stop_bits, uint8_t parity);
  FT_STATUS SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff);
  FT_STATUS SetTimeouts(uint32_t read_ms, uint32_t write_ms);
  FT_STATUS SetDtr(bool on);
  // Optional in drivers: one without it answers FT_NOT_SUPPORTED, which is
  // not kept as the last status.
  FT_STATUS SetLatencyTimer(uint8_t ms);
  // The bytes waiting in the driver's receive queue. Optional likewise:
  // FT_NOT_SUPPORTED where the driver cannot tell.
  FT_STATUS GetQueueStatus(uint32_t* rx_bytes);
  // Reads the chip's EEPROM and compares it with the meter's identity,
  // correcting the record (never the chip) and raising identity_changed()
  // for every difference. A failed read leaves the flag as it was.
  FT_STATUS CheckEepromIdentity();

  Driver& driver() const { return driver_; }
  bool is_open() const { return handle_ != nullptr; }
  int32_t device_index() const { return device_index_; }
  FT_HANDLE handle() const { return handle_; }
  FT_STATUS last_status() const { return last_status_; }
  // The driver's own words for last_status(), when it has any: of the first
  // failing call of Configure, not of a later one.
  const std::string& last_error() const { return last_error_; }
  uint32_t bytes_written() const { return bytes_written_; }
  uint32_t bytes_read() const { return bytes_read_; }
  uint32_t baud_rate() const { return baud_rate_; }
  uint8_t word_length() const { return word_length_; }
  uint8_t stop_bits() const { return stop_bits_; }
  uint8_t parity() const { return parity_; }
  uint32_t read_timeout() const { return read_timeout_; }
  uint32_t write_timeout() const { return write_timeout_; }
  const FT_PROGRAM_DATA& eeprom() const { return eeprom_; }
  uint16_t vendor_id() const { return vendor_id_; }
  uint16_t product_id() const { return product_id_; }
  const char* manufacturer() const { return manufacturer_; }
  const char* manufacturer_id() const { return manufacturer_id_; }
  const char* description() const { return description_; }
  const char* serial_number() const { return serial_number_; }
  bool identity_changed() const { return identity_changed_; }

 private:
  FT_STATUS Store(FT_STATUS status) {
    last_status_ = status;
    if (status != FT_OK) last_error_ = driver_.last_error();
    return status;
  }

  Driver& driver_;

  int32_t device_index_ = -1;
  FT_HANDLE handle_ = nullptr;
  FT_STATUS last_status_ = FT_OK;
  uint32_t bytes_written_ = 0;
  uint32_t bytes_read_ = 0;
  uint32_t baud_rate_ = 0;
  uint16_t reserved_ = 0;
  uint8_t word_length_ = 0;
  uint8_t stop_bits_ = 0;
  uint8_t parity_ = 0;
  uint32_t read_timeout_ = 0;
  uint32_t write_timeout_ = 1000;
  FT_PROGRAM_DATA eeprom_{};
  uint16_t vendor_id_ = 0x0403;
  uint16_t product_id_ = 0x6001;
  char manufacturer_[32] = {};
  char manufacturer_id_[16] = {};
  char description_[64] = {};
  char serial_number_[16] = {};
  bool identity_changed_ = false;
  std::string last_error_;
};

}  // namespace sq71

#endif
