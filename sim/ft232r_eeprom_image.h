// The raw EEPROM image an FT232R carrying these fields would hold, for fakes
// of the chip that are asked for its EEPROM words rather than for the
// driver's decoded record.
#ifndef SQ71_SIM_FT232R_EEPROM_IMAGE_H
#define SQ71_SIM_FT232R_EEPROM_IMAGE_H

#include <array>
#include <cstdint>

#include "sim/simulated_meter.h"
#include "usb/ft232r_eeprom.h"

namespace sq71::sim {

using Ft232rImage = std::array<uint8_t, kFt232rEepromSize>;

// Strings that do not fit the string area are cut short; the checksum is
// right.
Ft232rImage MakeFt232rEepromImage(const EepromFields& fields);

}  // namespace sq71::sim

#endif
