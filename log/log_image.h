// The log image: the program's copy of the meter's measurement log, 1024
// records of 64 bytes, held, sent and stored in one and the same layout.
#ifndef SQ71_LOG_LOG_IMAGE_H
#define SQ71_LOG_LOG_IMAGE_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "ui/ui.h"

namespace sq71 {

constexpr std::size_t kRecordSize = 64;
constexpr int kRecordCount = 1024;
constexpr std::size_t kLogImageSize = kRecordSize * kRecordCount;  // 65,536
constexpr uint8_t kEndMarker = 255;

using LogImage = std::array<uint8_t, kLogImageSize>;

// Byte offsets inside a log record. Multi-byte numbers are unsigned
// little-endian.
namespace rec {
constexpr std::size_t kStatus = 0;
constexpr std::size_t kIdMinor = 1;
constexpr std::size_t kIdMajor = 3;
constexpr std::size_t kName = 5;
constexpr std::size_t kNameLength = 16;
constexpr std::size_t kLongitude = 21;
constexpr std::size_t kRfLevel = 23;
constexpr std::size_t kFlags = 25;
constexpr std::size_t kMer = 26;
constexpr std::size_t kQber = 28;
constexpr std::size_t kSpare = 32;
constexpr std::size_t kNominalFrequency = 36;
constexpr std::size_t kMeasuredFrequency = 40;
constexpr std::size_t kNominalSymbolRate = 44;
constexpr std::size_t kMeasuredSymbolRate = 46;
constexpr std::size_t kStandard = 48;
constexpr std::size_t kCodeRate = 49;
}  // namespace rec

inline const uint8_t* RecordAt(const LogImage& image, int n) {
  return image.data() + static_cast<std::size_t>(n) * kRecordSize;
}
inline uint8_t* RecordAt(LogImage& image, int n) {
  return image.data() + static_cast<std::size_t>(n) * kRecordSize;
}

inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The number of records before the first end marker (0 to 1024). When it is 0
// and a View item is given, View is greyed; otherwise the item is not touched.
// Pass null where there is no menu (the Log Entries list).
int EntryCount(const LogImage& image, ViewItem* view);

// Ends the log at record n: writes a whole end-marker record there (64 bytes of
// 255, as an erased meter holds) when n is below 1024. A download that stops
// early calls it with the first record that never came, so the zeros after the
// real records are not counted as entries.
void MarkLogEnd(LogImage& image, int n);

}  // namespace sq71

#endif
