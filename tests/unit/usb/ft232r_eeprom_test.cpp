// Decoding raw FT232R EEPROM images into the driver's record.
#include "usb/ft232r_eeprom.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/ft232r_eeprom_image.h"

namespace sq71 {
namespace {

// A meter's chip as FT_Prog leaves it: bus powered with remote wake-up,
// 90 mA, DTR inverted, CBUS4 SLEEP, and its three strings. Checksum 0x065A.
constexpr std::array<uint8_t, 128> kGoodImage = {
    0x00, 0x40, 0x03, 0x04, 0x01, 0x60, 0x00, 0x06, 0xA0, 0x2D, 0x08, 0x10, 0x00, 0x02, 0x98, 0x1A,
    0xB2, 0x18, 0xCA, 0x12, 0x23, 0x10, 0x05, 0x00, 0x1A, 0x03, 0x43, 0x00, 0x6F, 0x00, 0x72, 0x00,
    0x76, 0x00, 0x61, 0x00, 0x6C, 0x00, 0x65, 0x00, 0x20, 0x00, 0x44, 0x00, 0x61, 0x00, 0x74, 0x00,
    0x61, 0x00, 0x18, 0x03, 0x53, 0x00, 0x51, 0x00, 0x2D, 0x00, 0x37, 0x00, 0x31, 0x00, 0x20, 0x00,
    0x4D, 0x00, 0x65, 0x00, 0x74, 0x00, 0x65, 0x00, 0x72, 0x00, 0x12, 0x03, 0x43, 0x00, 0x44, 0x00,
    0x37, 0x00, 0x31, 0x00, 0x30, 0x00, 0x30, 0x00, 0x30, 0x00, 0x31, 0x00, 0x02, 0x03, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x5A, 0x06,
};

// A record with string buffers of exactly the driver's sizes on the heap, so
// the sanitizer build catches a write past any of them.
struct Record {
  Record() {
    data.Signature2 = 0xFFFFFFFF;
    data.Version = 2;
    data.Manufacturer = manufacturer.get();
    data.ManufacturerId = manufacturer_id.get();
    data.Description = description.get();
    data.SerialNumber = serial_number.get();
  }
  std::unique_ptr<char[]> manufacturer = std::make_unique<char[]>(32);
  std::unique_ptr<char[]> manufacturer_id = std::make_unique<char[]>(16);
  std::unique_ptr<char[]> description = std::make_unique<char[]>(64);
  std::unique_ptr<char[]> serial_number = std::make_unique<char[]>(16);
  FT_PROGRAM_DATA data{};
};

// The image in a heap block of exactly 128 bytes (reads past it are caught),
// with its checksum made right again after a test's changes.
std::vector<uint8_t> Sealed(std::array<uint8_t, 128> image) {
  const uint16_t checksum = Ft232rEepromChecksum(image.data());
  image[0x7E] = static_cast<uint8_t>(checksum & 0xFF);
  image[0x7F] = static_cast<uint8_t>(checksum >> 8);
  return std::vector<uint8_t>(image.begin(), image.end());
}

TEST(Ft232rEepromTest, GoodImageDecodes) {
  Record r;
  ASSERT_EQ(FT_OK, DecodeFt232rEeprom(kGoodImage.data(), kGoodImage.size(), &r.data));
  EXPECT_EQ(0x0403, r.data.VendorId);
  EXPECT_EQ(0x6001, r.data.ProductId);
  EXPECT_EQ(90, r.data.MaxPower);
  EXPECT_EQ(0, r.data.SelfPowered);
  EXPECT_EQ(1, r.data.RemoteWakeup);
  EXPECT_EQ(0, r.data.PnP);
  EXPECT_STREQ("Corvale Data", r.data.Manufacturer);
  EXPECT_STREQ("SQ-71 Meter", r.data.Description);
  EXPECT_STREQ("CD710001", r.data.SerialNumber);
  EXPECT_STREQ("CD", r.data.ManufacturerId);
  EXPECT_EQ(1, r.data.SerNumEnableR);
  EXPECT_EQ(0, r.data.InvertTXD);
  EXPECT_EQ(0, r.data.InvertRXD);
  EXPECT_EQ(1, r.data.InvertDTR);
  EXPECT_EQ(0, r.data.InvertRTS);
  EXPECT_EQ(3, r.data.Cbus0);
  EXPECT_EQ(2, r.data.Cbus1);
  EXPECT_EQ(0, r.data.Cbus2);
  EXPECT_EQ(1, r.data.Cbus3);
  EXPECT_EQ(5, r.data.Cbus4);
}

// Every field the identity check looks at, set away from the meter's values
// in an image made from the simulator's fields, comes back as set.
TEST(Ft232rEepromTest, IdentityFieldsRoundTrip) {
  sim::EepromFields fields;
  fields.description = "FT232R USB UART";
  fields.pnp = 1;
  fields.self_powered = 1;
  fields.invert_dtr = 0;
  fields.invert_rxd = 1;
  fields.invert_txd = 1;
  fields.cbus4 = 3;
  const sim::Ft232rImage image = sim::MakeFt232rEepromImage(fields);
  Record r;
  ASSERT_EQ(FT_OK, DecodeFt232rEeprom(image.data(), image.size(), &r.data));
  EXPECT_STREQ("FT232R USB UART", r.data.Description);
  EXPECT_EQ(1, r.data.PnP);
  EXPECT_EQ(1, r.data.SelfPowered);
  EXPECT_EQ(0, r.data.InvertDTR);
  EXPECT_EQ(1, r.data.InvertRXD);
  EXPECT_EQ(1, r.data.InvertTXD);
  EXPECT_EQ(3, r.data.Cbus4);
}

TEST(Ft232rEepromTest, BlankShortOrCorruptImageIsAFailedReadAndLeavesTheRecord) {
  std::array<uint8_t, 128> blank;
  blank.fill(0xFF);
  std::array<uint8_t, 128> corrupt = kGoodImage;
  corrupt[0x0B] ^= 0x10;  // DTR no longer inverted, checksum not updated
  struct Case {
    const char* name;
    const uint8_t* image;
    std::size_t size;
    FT_STATUS expected;
  } cases[] = {
      {"blank", blank.data(), blank.size(), FT_EEPROM_NOT_PROGRAMMED},
      {"corrupt", corrupt.data(), corrupt.size(), FT_EEPROM_READ_FAILED},
      {"short", kGoodImage.data(), 126, FT_EEPROM_READ_FAILED},
  };
  for (const Case& c : cases) {
    Record r;
    r.data.Cbus4 = 9;
    EXPECT_EQ(c.expected, DecodeFt232rEeprom(c.image, c.size, &r.data)) << c.name;
    EXPECT_EQ(0, r.data.VendorId) << c.name;
    EXPECT_EQ(9, r.data.Cbus4) << c.name;
    EXPECT_STREQ("", r.data.Description) << c.name;
  }
}

// Descriptors that point past the string area, claim a length their header
// does not have, or are no string descriptors read as empty strings; the
// other strings and fields still decode.
TEST(Ft232rEepromTest, StringsOutOfRangeReadAsEmpty) {
  struct Case {
    const char* name;
    uint8_t offset;
    uint8_t length;
    bool header_there;  // a matching descriptor header where the pair points
  } cases[] = {
      {"past the end", 0xF0, 0x20, true},  // 0x70 + 32 runs past the image
      {"over the checksum", 0xF0, 0x10, true},
      {"longest length", 0x98, 0xFF, false},
      {"length below the header", 0x98, 0x01, false},
      {"header disagrees", 0x98, 0x1C, false},
      {"not a string descriptor", 0x99, 0x18, false},
  };
  for (const Case& c : cases) {
    std::array<uint8_t, 128> image = kGoodImage;
    if (c.header_there) {
      image[c.offset & 0x7F] = c.length;
      image[(c.offset & 0x7F) + 1] = 0x03;
    }
    image[0x10] = c.offset;  // the description's pointer pair
    image[0x11] = c.length;
    image[0x12] = c.offset;  // and the serial number's, which the PnP flag follows
    image[0x13] = c.length;
    const std::vector<uint8_t> sealed = Sealed(image);
    Record r;
    ASSERT_EQ(FT_OK, DecodeFt232rEeprom(sealed.data(), sealed.size(), &r.data)) << c.name;
    EXPECT_STREQ("", r.data.Description) << c.name;
    EXPECT_STREQ("", r.data.SerialNumber) << c.name;
    EXPECT_STREQ("", r.data.ManufacturerId) << c.name;
    EXPECT_STREQ("Corvale Data", r.data.Manufacturer) << c.name;
    EXPECT_EQ(5, r.data.Cbus4) << c.name;
  }
}

// A serial number longer than the record's 16-byte buffer is cut to 15
// characters, never written past it; other characters than ASCII show as '?'.
TEST(Ft232rEepromTest, LongAndForeignStringsStayInTheirBuffers) {
  sim::EepromFields fields;
  fields.serial_number = "CD71000123456789ABCDEF";
  fields.manufacturer =
      "Corvale \x01"
      "Data";
  const std::vector<uint8_t> image = Sealed(sim::MakeFt232rEepromImage(fields));
  Record r;
  ASSERT_EQ(FT_OK, DecodeFt232rEeprom(image.data(), image.size(), &r.data));
  EXPECT_STREQ("CD7100012345678", r.data.SerialNumber);
  EXPECT_STREQ("Corvale ?Data", r.data.Manufacturer);
  EXPECT_STREQ("SQ-71 Meter", r.data.Description);
}

}  // namespace
}  // namespace sq71
