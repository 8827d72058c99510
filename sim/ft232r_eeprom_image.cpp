#include "sim/ft232r_eeprom_image.h"

#include <algorithm>
#include <string>

namespace sq71::sim {
namespace {

constexpr std::size_t kStringsStart = 0x18;
constexpr std::size_t kStringsEnd = 0x7E - 3;  // room for the PnP triple

// Writes a string descriptor at *next and its pointer pair at `where`.
void PutString(Ft232rImage& image, std::size_t where, const std::string& text, std::size_t* next) {
  const std::size_t room = (kStringsEnd - *next - 2) / 2;
  const std::size_t chars = std::min(text.size(), room);
  const std::size_t length = 2 + 2 * chars;
  image[where] = static_cast<uint8_t>(0x80 | *next);
  image[where + 1] = static_cast<uint8_t>(length);
  image[*next] = static_cast<uint8_t>(length);
  image[*next + 1] = 0x03;
  for (std::size_t i = 0; i < chars; ++i) {
    image[*next + 2 + 2 * i] = static_cast<uint8_t>(text[i]);
    image[*next + 3 + 2 * i] = 0;
  }
  *next += length;
}

}  // namespace

Ft232rImage MakeFt232rEepromImage(const EepromFields& fields) {
  Ft232rImage image{};
  image[0x02] = static_cast<uint8_t>(fields.vendor_id & 0xFF);
  image[0x03] = static_cast<uint8_t>(fields.vendor_id >> 8);
  image[0x04] = static_cast<uint8_t>(fields.product_id & 0xFF);
  image[0x05] = static_cast<uint8_t>(fields.product_id >> 8);
  image[0x07] = 0x06;  // bcdDevice 6.00: an FT232R
  image[0x08] = static_cast<uint8_t>(0x80 | (fields.self_powered == 1 ? 0x40 : 0));
  image[0x09] = static_cast<uint8_t>(std::min(fields.max_power / 2, 0xFF));
  image[0x0A] = 0x08;  // serial number enabled
  image[0x0B] = static_cast<uint8_t>((fields.invert_txd != 0 ? 0x01 : 0) |
                                     (fields.invert_rxd != 0 ? 0x02 : 0) |
                                     (fields.invert_dtr != 0 ? 0x10 : 0));
  image[0x0D] = 0x02;  // USB 2.00
  std::size_t next = kStringsStart;
  PutString(image, 0x0E, fields.manufacturer, &next);
  PutString(image, 0x10, fields.description, &next);
  PutString(image, 0x12, fields.serial_number, &next);
  image[next] = 0x02;
  image[next + 1] = 0x03;
  image[next + 2] = static_cast<uint8_t>(fields.pnp);
  image[0x14] = 0x23;  // CBUS0 TXLED, CBUS1 RXLED
  image[0x15] = 0x10;  // CBUS2 TXDEN, CBUS3 PWRON
  image[0x16] = static_cast<uint8_t>(fields.cbus4 & 0x0F);
  const uint16_t checksum = Ft232rEepromChecksum(image.data());
  image[0x7E] = static_cast<uint8_t>(checksum & 0xFF);
  image[0x7F] = static_cast<uint8_t>(checksum >> 8);
  return image;
}

}  // namespace sq71::sim
