// The FT232R EEPROM decoder over images of any size and content, as given
// and with their checksum made right (so the fields and strings are reached):
// a decode that succeeds leaves each string NUL-terminated inside its buffer,
// of printable ASCII or '?', and never writes past the buffer; one that fails
// leaves the record and its buffers as they were; the bytes past the 128 of
// the image change nothing; and a record older than version 2 gets the same
// fields but none of the FT232R ones.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "usb/d2xx.h"
#include "usb/ft232r_eeprom.h"

namespace {

using sq71::kFt232rEepromSize;

constexpr std::size_t kGuard = 16;
constexpr uint8_t kGuardByte = 0xC7;
constexpr uint8_t kFillByte = 'Z';  // unwritten buffer bytes: no NUL among them

// A record whose string buffers have the driver's sizes, each followed by
// guard bytes, and whose fields start out as a pattern no decode writes.
struct Record {
  static constexpr std::size_t kSizes[4] = {32, 16, 64, 16};

  explicit Record(uint32_t version) {
    std::memset(&data, 0xA5, sizeof data);
    data.Signature1 = 0x00000000;
    data.Signature2 = 0xFFFFFFFF;
    data.Version = version;
    for (int i = 0; i < 4; ++i) {
      buffers[i] = std::make_unique<char[]>(kSizes[i] + kGuard);
      std::memset(buffers[i].get(), kFillByte, kSizes[i]);
      std::memset(buffers[i].get() + kSizes[i], kGuardByte, kGuard);
    }
    data.Manufacturer = buffers[0].get();
    data.ManufacturerId = buffers[1].get();
    data.Description = buffers[2].get();
    data.SerialNumber = buffers[3].get();
  }

  // The fields alone, pointers cleared, for comparing two records.
  FT_PROGRAM_DATA Fields() const {
    FT_PROGRAM_DATA fields;
    std::memcpy(&fields, &data, sizeof fields);
    fields.Manufacturer = fields.ManufacturerId = fields.Description = fields.SerialNumber =
        nullptr;
    return fields;
  }

  bool BuffersEqual(const Record& other) const {
    for (int i = 0; i < 4; ++i) {
      if (std::memcmp(buffers[i].get(), other.buffers[i].get(), kSizes[i] + kGuard) != 0) {
        return false;
      }
    }
    return true;
  }

  std::unique_ptr<char[]> buffers[4];
  FT_PROGRAM_DATA data;
};

bool SameFields(const FT_PROGRAM_DATA& a, const FT_PROGRAM_DATA& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The FT232R fields, which only a record of version 2 or later gets: one run
// of bytes from UseExtOsc to Cbus4.
constexpr std::size_t kFt232rFirst = offsetof(FT_PROGRAM_DATA, UseExtOsc);
constexpr std::size_t kFt232rEnd = offsetof(FT_PROGRAM_DATA, Cbus4) + 1;

// Decodes into a fresh record and checks what any decode must leave.
FT_STATUS Decode(const uint8_t* image, std::size_t size, Record* record) {
  const Record before(record->data.Version);
  const FT_STATUS status = sq71::DecodeFt232rEeprom(image, size, &record->data);
  if (status != FT_OK) {
    if (!SameFields(record->Fields(), before.Fields()) || !record->BuffersEqual(before)) {
      std::abort();
    }
    return status;
  }
  for (int i = 0; i < 4; ++i) {
    const char* buffer = record->buffers[i].get();
    const std::size_t size_i = Record::kSizes[i];
    const void* end = std::memchr(buffer, '\0', size_i);
    if (end == nullptr) std::abort();
    for (const char* c = buffer; c != end; ++c) {
      if (*c < 0x20 || *c > 0x7E) std::abort();
    }
    if (std::memcmp(buffer + size_i, before.buffers[i].get() + size_i, kGuard) != 0) std::abort();
  }
  // The manufacturer's id: the serial number's first two characters.
  const std::size_t id_length = std::strlen(record->data.ManufacturerId);
  if (id_length != std::min<std::size_t>(2, std::strlen(record->data.SerialNumber)) ||
      std::memcmp(record->data.ManufacturerId, record->data.SerialNumber, id_length) != 0) {
    std::abort();
  }
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // As given, in libFuzzer's own buffer of exactly `size` bytes.
  Record given(2);
  const FT_STATUS given_status = Decode(data, size, &given);
  if (size < kFt232rEepromSize) {
    if (given_status != FT_EEPROM_READ_FAILED) std::abort();
    return 0;
  }
  const bool blank =
      std::all_of(data, data + kFt232rEepromSize, [](uint8_t b) { return b == 0xFF; });
  if (blank != (given_status == FT_EEPROM_NOT_PROGRAMMED)) std::abort();

  // The first 128 bytes alone, in a block of exactly that size: the same.
  std::vector<uint8_t> image(data, data + kFt232rEepromSize);
  Record alone(2);
  if (Decode(image.data(), image.size(), &alone) != given_status ||
      !SameFields(alone.Fields(), given.Fields()) || !alone.BuffersEqual(given)) {
    std::abort();
  }

  // With the checksum made right, any image but a blank one decodes.
  const uint16_t checksum = sq71::Ft232rEepromChecksum(image.data());
  image[0x7E] = static_cast<uint8_t>(checksum & 0xFF);
  image[0x7F] = static_cast<uint8_t>(checksum >> 8);
  const bool sealed_blank =
      std::all_of(image.begin(), image.end(), [](uint8_t b) { return b == 0xFF; });
  Record sealed(2);
  const FT_STATUS sealed_status = Decode(image.data(), image.size(), &sealed);
  if (sealed_status != (sealed_blank ? FT_EEPROM_NOT_PROGRAMMED : FT_OK)) std::abort();

  // A version 1 record: everything the same but the FT232R fields, which
  // keep what they held.
  Record older(1);
  if (Decode(image.data(), image.size(), &older) != sealed_status || !older.BuffersEqual(sealed)) {
    std::abort();
  }
  FT_PROGRAM_DATA expected = sealed.Fields();
  const FT_PROGRAM_DATA untouched = Record(1).Fields();
  std::memcpy(reinterpret_cast<char*>(&expected) + kFt232rFirst,
              reinterpret_cast<const char*>(&untouched) + kFt232rFirst, kFt232rEnd - kFt232rFirst);
  expected.Version = 1;
  if (!SameFields(older.Fields(), expected)) std::abort();
  return 0;
}
