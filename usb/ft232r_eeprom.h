// The FT232R's EEPROM as the chip stores it (128 bytes, little-endian words),
// decoded into the driver's EEPROM record. Backends that can only read the
// raw words (libftdi1) use this to serve FT_EE_Read; nothing here touches a
// device, and nothing outside the given bytes is ever read.
#ifndef SQ71_USB_FT232R_EEPROM_H
#define SQ71_USB_FT232R_EEPROM_H

#include <cstddef>
#include <cstdint>

#include "usb/d2xx.h"

namespace sq71 {

constexpr std::size_t kFt232rEepromSize = 128;

// The chip's checksum over the first 63 words: start at 0xAAAA, and for each
// word XOR it in and rotate left by one. Stored in the last word (0x7E).
uint16_t Ft232rEepromChecksum(const uint8_t image[kFt232rEepromSize]);

// Fills `data` from a raw image of `size` bytes, as FT_EE_Read would:
// vendor and product ids, power settings, pin inversions, CBUS functions and
// (into the buffers the record points at, taken to have the driver's usual
// sizes of 32, 16, 64 and 16 bytes; null ones are skipped) the strings. The
// FT232R fields are only written for a record of version 2 or later.
// Returns FT_EEPROM_NOT_PROGRAMMED for a blank (all 0xFF) image and
// FT_EEPROM_READ_FAILED for a short image or a wrong checksum, leaving
// `data` untouched. A string whose descriptor does not lie wholly inside the
// image, or is not a string descriptor, reads as empty.
FT_STATUS DecodeFt232rEeprom(const uint8_t* image, std::size_t size, FT_PROGRAM_DATA* data);

}  // namespace sq71

#endif
