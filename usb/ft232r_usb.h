// The FT232R on USB, without a USB library: its vendor control requests as
// (bmRequestType, bRequest, wValue, wIndex, wLength), the two modem-status
// bytes in front of every 64-byte IN packet, and the interface through
// which a driver moves these over some USB stack (a browser's WebUSB, or the
// simulated chip in tests). Nothing here touches a device.
//
// Requests, all to the device, on the chip's one interface (wIndex 1 where
// the interface is named):
//   reset / purge   0x40 0x00 value 0 reset, 1 drop what waits to go to the
//                   meter (transmit purge), 2 drop what the chip holds for
//                   the host (receive purge)
//   modem control   0x40 0x01 value 0x0101 DTR active, 0x0100 inactive
//   flow control    0x40 0x02 value xon | xoff << 8, wIndex flow | 1
//   baud rate       0x40 0x03 value and wIndex carry the divisor
//   line            0x40 0x04 value bits | parity << 8 | stop bits << 11
//   latency timer   0x40 0x09 value ms; read back with 0xC0 0x0A (1 byte)
//   EEPROM word     0xC0 0x90 wIndex the word's address (2 bytes, LE)
#ifndef SQ71_USB_FT232R_USB_H
#define SQ71_USB_FT232R_USB_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sq71::ft232r {

constexpr uint8_t kVendorOut = 0x40;  // vendor request, to the device, host to device
constexpr uint8_t kVendorIn = 0xC0;   // vendor request, to the device, device to host

constexpr uint8_t kRequestReset = 0x00;
constexpr uint8_t kRequestModemControl = 0x01;
constexpr uint8_t kRequestFlowControl = 0x02;
constexpr uint8_t kRequestBaudRate = 0x03;
constexpr uint8_t kRequestData = 0x04;
constexpr uint8_t kRequestSetLatency = 0x09;
constexpr uint8_t kRequestGetLatency = 0x0A;
constexpr uint8_t kRequestReadEeprom = 0x90;

// wValue of the reset request.
constexpr uint16_t kResetChip = 0;
constexpr uint16_t kPurgeTransmit = 1;  // what waits to leave for the meter
constexpr uint16_t kPurgeReceive = 2;   // what the chip holds for the host

// The chip's one interface as the requests name it.
constexpr uint16_t kInterface = 1;

constexpr int kPacketSize = 64;
constexpr int kStatusBytes = 2;
constexpr int kPacketData = kPacketSize - kStatusBytes;
constexpr uint8_t kEndpointIn = 0x81;
constexpr uint8_t kEndpointOut = 0x02;
// The FT232R's EEPROM: 64 words.
constexpr int kEepromWords = 64;
// The chip's clock for the baud rate: 3 MHz after its fixed divider.
constexpr uint32_t kBaudClock = 3000000;

struct ControlRequest {
  uint8_t request_type = kVendorOut;
  uint8_t request = 0;
  uint16_t value = 0;
  uint16_t index = 0;
  uint16_t length = 0;  // of the data stage; 0 for every OUT request here

  bool operator==(const ControlRequest& o) const {
    return request_type == o.request_type && request == o.request && value == o.value &&
           index == o.index && length == o.length;
  }
};

ControlRequest ResetRequest();
ControlRequest PurgeRequest(uint16_t which);  // kPurgeReceive or kPurgeTransmit
ControlRequest ModemControlRequest(bool dtr_active);
// D2XX's flow values (0 none, 0x0100 RTS/CTS, 0x0200 DTR/DSR, 0x0400
// XON/XOFF) are the chip's.
ControlRequest FlowControlRequest(uint16_t flow, uint8_t xon, uint8_t xoff);
// D2XX's word length, stop bits (0 one, 2 two) and parity (0 none to 4
// space) are the chip's codes.
ControlRequest DataCharacteristicsRequest(uint8_t word_length, uint8_t stop_bits, uint8_t parity);
ControlRequest SetLatencyRequest(uint8_t ms);
ControlRequest GetLatencyRequest();
ControlRequest ReadEepromWordRequest(uint16_t address);

// The divisor for a baud rate: 3 MHz over the rate in eighths, rounded to
// the nearest eighth (half up); 0 and 1 are the chip's codes for 3 and 2
// Mbaud, and 1.5 Mbaud is a divisor of exactly 2. The whole part goes into
// value bits 0-13, the eighths' code into value bits 14-15 and wIndex bit 0.
// False for a rate the chip cannot make within about 5%, with libftdi's
// bounds (below 183 baud, above 3 Mbaud). *actual (if given) is the rate the
// chip then runs at.
bool BaudRateRequest(uint32_t baud, ControlRequest* request, uint32_t* actual = nullptr);
// The rate the chip runs at for a baud request's value and index.
uint32_t BaudFromDivisor(uint16_t value, uint16_t index);

// The data of one bulk IN transfer: the transfer is a run of 64-byte packets
// (the last may be short), each starting with the modem and line status
// bytes, which are dropped at every 64-byte step. Appends the data to *out;
// the status bytes of the last packet go to *status (if given). A trailing
// piece shorter than the two status bytes carries nothing.
void AppendInData(const uint8_t* transfer, std::size_t length, std::vector<uint8_t>* out,
                  uint16_t* status = nullptr);

// What a USB operation came to.
enum class UsbStatus {
  kOk,
  kTimeout,  // a bulk IN transfer saw nothing in its time
  kStall,    // the chip refused the request
  kGone,     // the device went away
  kBusy,     // another driver holds the interface (claiming it failed)
  kDenied,   // the user or the system did not allow it
  kError,    // anything else
};

// One FT232R as a USB stack reaches it. The page's WebUSB transport moves
// these calls to a USBDevice (controlTransferIn/Out, transferIn/Out); the
// tests give the simulated chip. Calls come from one thread at a time.
class UsbTransport {
 public:
  virtual ~UsbTransport() = default;

  // Opens the device and claims its interface; Close gives both up.
  virtual UsbStatus Open() = 0;
  virtual void Close() = 0;
  // False once the device is gone (unplugged); it never comes back as this
  // object.
  virtual bool connected() const = 0;
  // What the device names itself by without being opened ("" if nothing).
  virtual std::string serial_number() const { return std::string(); }

  // A request with no data stage.
  virtual UsbStatus ControlOut(const ControlRequest& request) = 0;
  // A request whose data stage brings up to request.length bytes into
  // `data`; *got is how many came.
  virtual UsbStatus ControlIn(const ControlRequest& request, uint8_t* data,
                              std::size_t* got) = 0;
  // Bytes to the bulk OUT endpoint.
  virtual UsbStatus BulkOut(const uint8_t* data, std::size_t count, std::size_t* sent) = 0;
  // One bulk IN transfer of up to `capacity` bytes (a multiple of 64):
  // whole packets, status bytes included, ending with the first short
  // packet. Waits at most `timeout_ms` for the first packet; 0 takes only
  // what has already come. kTimeout (with *got 0) when none came.
  virtual UsbStatus BulkIn(uint8_t* data, std::size_t capacity, std::size_t* got,
                           uint32_t timeout_ms) = 0;
  // Whatever IN data the transport holds that the driver has not taken yet
  // is dropped (a receive purge). Nothing to do for a transport that keeps
  // no transfers of its own in flight.
  virtual void DropReceived() {}

  // The stack's own words for the last failure ("" if it has none).
  virtual std::string last_error() const { return std::string(); }
};

}  // namespace sq71::ft232r

#endif
