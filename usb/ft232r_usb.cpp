#include "usb/ft232r_usb.h"

#include <algorithm>

namespace sq71::ft232r {
namespace {

// The divisor's eighths and the code the chip takes for them.
constexpr uint8_t kCodeOfEighths[8] = {0, 3, 2, 4, 1, 5, 6, 7};
constexpr uint8_t kEighthsOfCode[8] = {0, 4, 2, 1, 3, 5, 6, 7};
// The largest divisor: 14 bits of whole steps and seven eighths.
constexpr uint32_t kMaxEighths = (0x3FFFu << 3) | 7u;

ControlRequest Out(uint8_t request, uint16_t value, uint16_t index = kInterface) {
  ControlRequest r;
  r.request_type = kVendorOut;
  r.request = request;
  r.value = value;
  r.index = index;
  return r;
}

ControlRequest In(uint8_t request, uint16_t index, uint16_t length) {
  ControlRequest r;
  r.request_type = kVendorIn;
  r.request = request;
  r.index = index;
  r.length = length;
  return r;
}

}  // namespace

ControlRequest ResetRequest() { return Out(kRequestReset, kResetChip); }

ControlRequest PurgeRequest(uint16_t which) { return Out(kRequestReset, which); }

ControlRequest ModemControlRequest(bool dtr_active) {
  // The high byte says which lines the low byte sets: here DTR alone.
  return Out(kRequestModemControl, dtr_active ? 0x0101 : 0x0100);
}

ControlRequest FlowControlRequest(uint16_t flow, uint8_t xon, uint8_t xoff) {
  const uint16_t chars = flow == 0x0400 ? static_cast<uint16_t>(xon | (xoff << 8)) : 0;
  return Out(kRequestFlowControl, chars, static_cast<uint16_t>((flow & 0xFF00) | kInterface));
}

ControlRequest DataCharacteristicsRequest(uint8_t word_length, uint8_t stop_bits, uint8_t parity) {
  return Out(kRequestData,
             static_cast<uint16_t>(word_length | ((parity & 7) << 8) | ((stop_bits & 3) << 11)));
}

ControlRequest SetLatencyRequest(uint8_t ms) { return Out(kRequestSetLatency, ms); }

ControlRequest GetLatencyRequest() { return In(kRequestGetLatency, kInterface, 1); }

ControlRequest ReadEepromWordRequest(uint16_t address) {
  return In(kRequestReadEeprom, address, 2);
}

bool BaudRateRequest(uint32_t baud, ControlRequest* request, uint32_t* actual) {
  if (baud == 0 || baud > kBaudClock + kBaudClock / 33) return false;
  uint32_t encoded;
  uint32_t made;
  if (baud >= kBaudClock) {
    encoded = 0;
    made = kBaudClock;
  } else if (baud >= kBaudClock * 2 / 3) {
    encoded = 1;  // the chip's code for a divisor of 1.5
    made = kBaudClock * 2 / 3;
  } else if (baud >= kBaudClock / 2) {
    encoded = 2;
    made = kBaudClock / 2;
  } else {
    // Sixteenths of the divisor, then rounded half up to eighths.
    const uint32_t sixteenths = kBaudClock * 16 / baud;
    const uint32_t eighths = std::min((sixteenths + 1) / 2, kMaxEighths);
    encoded = (eighths >> 3) | (uint32_t{kCodeOfEighths[eighths & 7]} << 14);
    made = (kBaudClock * 16 / eighths + 1) / 2;
  }
  // A rate the chip cannot come within about 5% of is refused, with
  // libftdi's bounds, so both drivers take and refuse the same rates.
  const uint64_t want = baud, got = made;
  if (got < want ? got * 21 < want * 20 : want * 21 < got * 20) return false;
  *request = Out(kRequestBaudRate, static_cast<uint16_t>(encoded & 0xFFFF),
                 static_cast<uint16_t>(encoded >> 16));
  if (actual != nullptr) *actual = made;
  return true;
}

uint32_t BaudFromDivisor(uint16_t value, uint16_t index) {
  if (value == 0 && (index & 1) == 0) return kBaudClock;
  if (value == 1 && (index & 1) == 0) return kBaudClock * 2 / 3;
  const int code = (value >> 14) | ((index & 1) << 2);
  const uint32_t eighths = ((value & 0x3FFFu) << 3) + kEighthsOfCode[code];
  return eighths == 0 ? 0 : (kBaudClock * 16 / eighths + 1) / 2;
}

void AppendInData(const uint8_t* transfer, std::size_t length, std::vector<uint8_t>* out,
                  uint16_t* status) {
  for (std::size_t at = 0; at + kStatusBytes <= length; at += kPacketSize) {
    if (status != nullptr) *status = static_cast<uint16_t>(transfer[at] | (transfer[at + 1] << 8));
    const std::size_t end = std::min(length, at + kPacketSize);
    out->insert(out->end(), transfer + at + kStatusBytes, transfer + end);
  }
}

}  // namespace sq71::ft232r
