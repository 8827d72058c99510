// Builds log records field by field for the log tests.
#ifndef SQ71_TESTS_UNIT_LOG_RECORD_BUILDER_H
#define SQ71_TESTS_UNIT_LOG_RECORD_BUILDER_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "log/log_image.h"

namespace sq71::test {

class Record {
 public:
  Record(LogImage& image, int n) : r_(RecordAt(image, n)) {}

  Record& Status(uint8_t status) {
    r_[rec::kStatus] = status;
    return *this;
  }
  Record& Id(uint16_t major, uint16_t minor) {
    Put16(rec::kIdMajor, major);
    Put16(rec::kIdMinor, minor);
    return *this;
  }
  // Up to 16 bytes; the rest of the field is zeroed.
  Record& Name(const std::string& name) {
    std::memset(r_ + rec::kName, 0, rec::kNameLength);
    std::memcpy(r_ + rec::kName, name.data(), std::min(name.size(), rec::kNameLength));
    return *this;
  }
  Record& Longitude(uint16_t hundredths) { return Put16(rec::kLongitude, hundredths); }
  Record& RfLevel(uint16_t code) { return Put16(rec::kRfLevel, code); }
  Record& Flags(uint8_t flags) {
    r_[rec::kFlags] = flags;
    return *this;
  }
  Record& Mer(uint16_t code) { return Put16(rec::kMer, code); }
  Record& Qber(uint32_t code) { return Put32(rec::kQber, code); }
  Record& Spare(uint32_t value) { return Put32(rec::kSpare, value); }
  Record& Frequencies(uint32_t nominal, uint32_t measured) {
    Put32(rec::kNominalFrequency, nominal);
    return Put32(rec::kMeasuredFrequency, measured);
  }
  Record& SymbolRates(uint16_t nominal, uint16_t measured) {
    Put16(rec::kNominalSymbolRate, nominal);
    return Put16(rec::kMeasuredSymbolRate, measured);
  }
  Record& Standard(uint8_t standard, uint8_t code_rate) {
    r_[rec::kStandard] = standard;
    r_[rec::kCodeRate] = code_rate;
    return *this;
  }

 private:
  Record& Put16(std::size_t at, uint16_t v) {
    r_[at] = static_cast<uint8_t>(v);
    r_[at + 1] = static_cast<uint8_t>(v >> 8);
    return *this;
  }
  Record& Put32(std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) r_[at + i] = static_cast<uint8_t>(v >> (8 * i));
    return *this;
  }

  uint8_t* r_;
};

}  // namespace sq71::test

#endif
