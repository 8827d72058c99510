#include "usb/ft232r_eeprom.h"

#include <algorithm>

namespace sq71 {
namespace {

constexpr std::size_t kChecksumOffset = 0x7E;

uint16_t WordAt(const uint8_t* image, std::size_t offset) {
  return static_cast<uint16_t>(image[offset] | (image[offset + 1] << 8));
}

// Copies the string whose descriptor the pointer byte pair at `where` names
// into `out` (of `size` bytes, always NUL-terminated). The offset byte carries
// the chip's 0x80 flag; the length byte counts the descriptor's header too.
// Characters outside ASCII become '?'; a descriptor that strays outside the
// string area, or whose own header disagrees, gives an empty string.
void CopyString(const uint8_t* image, std::size_t where, char* out, std::size_t size) {
  if (out == nullptr) return;
  out[0] = '\0';
  const std::size_t offset = image[where] & 0x7F;
  const std::size_t length = image[where + 1];
  if (length < 2 || offset + length > kChecksumOffset) return;
  if (image[offset] != length || image[offset + 1] != 0x03) return;
  const std::size_t chars = std::min((length - 2) / 2, size - 1);
  for (std::size_t i = 0; i < chars; ++i) {
    const uint16_t c = WordAt(image, offset + 2 + 2 * i);
    out[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  }
  out[chars] = '\0';
}

// The chip keeps a "02 03 pnp" triple right after the serial number's
// descriptor. Absent or out of range: not set.
uint16_t PnpFlag(const uint8_t* image) {
  const std::size_t serial_end = (image[0x12] & 0x7F) + std::size_t{image[0x13]};
  if (image[0x13] < 2 || serial_end + 3 > kChecksumOffset) return 0;
  if (image[serial_end] != 0x02 || image[serial_end + 1] != 0x03) return 0;
  return image[serial_end + 2];
}

}  // namespace

uint16_t Ft232rEepromChecksum(const uint8_t image[kFt232rEepromSize]) {
  uint16_t checksum = 0xAAAA;
  for (std::size_t offset = 0; offset < kChecksumOffset; offset += 2) {
    checksum ^= WordAt(image, offset);
    checksum = static_cast<uint16_t>((checksum << 1) | (checksum >> 15));
  }
  return checksum;
}

FT_STATUS DecodeFt232rEeprom(const uint8_t* image, std::size_t size, FT_PROGRAM_DATA* data) {
  if (image == nullptr || data == nullptr || size < kFt232rEepromSize) {
    return FT_EEPROM_READ_FAILED;
  }
  if (std::all_of(image, image + kFt232rEepromSize, [](uint8_t b) { return b == 0xFF; })) {
    return FT_EEPROM_NOT_PROGRAMMED;
  }
  if (Ft232rEepromChecksum(image) != WordAt(image, kChecksumOffset)) {
    return FT_EEPROM_READ_FAILED;
  }

  data->VendorId = WordAt(image, 0x02);
  data->ProductId = WordAt(image, 0x04);
  data->SelfPowered = (image[0x08] >> 6) & 1;
  data->RemoteWakeup = (image[0x08] >> 5) & 1;
  data->MaxPower = static_cast<uint16_t>(image[0x09] * 2);
  data->PnP = PnpFlag(image);
  CopyString(image, 0x0E, data->Manufacturer, 32);
  CopyString(image, 0x10, data->Description, 64);
  CopyString(image, 0x12, data->SerialNumber, 16);
  // The driver gives the serial number's first two characters as the
  // manufacturer's id.
  if (data->ManufacturerId != nullptr) {
    data->ManufacturerId[0] = '\0';
    if (data->SerialNumber != nullptr) {
      std::size_t n = 0;
      while (n < 2 && data->SerialNumber[n] != '\0') {
        data->ManufacturerId[n] = data->SerialNumber[n];
        ++n;
      }
      data->ManufacturerId[n] = '\0';
    }
  }

  if (data->Version >= 2) {
    const uint8_t invert = image[0x0B];
    data->UseExtOsc = (image[0x00] >> 1) & 1;
    data->HighDriveIOs = (image[0x00] >> 2) & 1;
    data->EndpointSize = 64;
    data->PullDownEnableR = (image[0x0A] >> 2) & 1;
    data->SerNumEnableR = (image[0x0A] >> 3) & 1;
    data->InvertTXD = invert & 1;
    data->InvertRXD = (invert >> 1) & 1;
    data->InvertRTS = (invert >> 2) & 1;
    data->InvertCTS = (invert >> 3) & 1;
    data->InvertDTR = (invert >> 4) & 1;
    data->InvertDSR = (invert >> 5) & 1;
    data->InvertDCD = (invert >> 6) & 1;
    data->InvertRI = (invert >> 7) & 1;
    data->Cbus0 = image[0x14] & 0x0F;
    data->Cbus1 = image[0x14] >> 4;
    data->Cbus2 = image[0x15] & 0x0F;
    data->Cbus3 = image[0x15] >> 4;
    data->Cbus4 = image[0x16] & 0x0F;
  }
  return FT_OK;
}

}  // namespace sq71
