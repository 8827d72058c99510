#include "sim/sample_log.h"

#include <algorithm>
#include <cstring>

namespace sq71::sim {
namespace {

// Level and error-rate code qualifiers.
constexpr uint16_t kBelow = 0x4000;  // "<": below the meter's range
constexpr uint16_t kAbove = 0x8000;  // ">": above the meter's range
constexpr uint16_t kNoLevel = 0xC000;
constexpr uint32_t kQberBelow = 0x40000000;
constexpr uint32_t kQberAbove = 0x80000000;

constexpr uint8_t kLocked = 0x01;
constexpr uint8_t kPilots = 0x02;
constexpr uint8_t kIqSwap = 0x04;

constexpr uint8_t kDvbS1 = 0;
constexpr uint8_t kDss = 2;
constexpr uint8_t kDvbS2 = 4;

// Code-rate indices used below (DVB-S1 table, then DVB-S2 MODCOD numbers).
constexpr uint8_t kS1Qpsk12 = 1;
constexpr uint8_t kS1Qpsk23 = 2;
constexpr uint8_t kS1Qpsk34 = 3;
constexpr uint8_t kS1Qpsk56 = 4;
constexpr uint8_t kS1Qpsk78 = 6;
constexpr uint8_t kS2Qpsk23 = 6;
constexpr uint8_t kS2Qpsk34 = 7;
constexpr uint8_t kS2Qpsk910 = 11;
constexpr uint8_t kS2Psk8_23 = 13;
constexpr uint8_t kS2Psk8_34 = 14;
constexpr uint8_t kS2Psk8_56 = 15;
constexpr uint8_t kS2Psk8_89 = 16;
constexpr uint8_t kS2Psk8_910 = 17;

// The LNB's local oscillator (kHz) the meter used, kept in the spare field.
constexpr uint32_t kLoLow = 9750000;
constexpr uint32_t kLoHigh = 10600000;

struct Entry {
  uint8_t status;
  uint16_t id_major;
  uint16_t id_minor;
  const char* name;
  uint16_t longitude;  // hundredths of a degree east
  uint16_t rf_level;   // tenths of dBuV plus qualifier bits
  uint8_t flags;
  uint16_t mer;   // tenths of dB plus qualifier bits
  uint32_t qber;  // units of 1e-8 plus qualifier bits
  uint32_t nominal_khz;
  int32_t offset_khz;  // measured minus nominal
  uint16_t nominal_kbd;
  int16_t sr_offset;  // measured minus nominal
  uint8_t standard;
  uint8_t code_rate;
};

// Two sessions (ID major 1207 and 1208), the minor number counting the
// measurements of each. Unlocked entries carry the nominal transponder data
// and no measured frequency or symbol rate.
constexpr Entry kEntries[] = {
    {0, 1207, 1, "Astra 1KR", 1920, 712, kLocked, 128, 250, 11494000, -250, 22000, -1, kDvbS1,
     kS1Qpsk56},
    {0, 1207, 2, "Astra 1KR", 1920, 705, kLocked, 131, 120, 11538000, -312, 22000, 0, kDvbS1,
     kS1Qpsk56},
    {0, 1207, 3, "Astra 1L", 1920, 688, kLocked | kPilots, 112, 0, 11362000, 187, 22000, 0, kDvbS2,
     kS2Psk8_23},
    {0, 1207, 4, "Astra 1M", 1920, 694, kLocked, 117, 38, 12187500, -437, 27500, -2, kDvbS1,
     kS1Qpsk34},
    {1, 1207, 5, "Astra 1N", 1920, 731, kLocked | kPilots, 109, kQberBelow | 1, 11914500, 62, 27500,
     1, kDvbS2, kS2Psk8_910},
    {0, 1207, 6, "Astra 1KR TP 101", 1920, 698, kLocked, 125, 410, 10743750, -125, 22000, 0, kDvbS1,
     kS1Qpsk56},
    {0, 1207, 7, "Astra 1M", 1920, 660, kLocked | kPilots | kIqSwap, 96, 1870, 12603250, 500, 22000,
     -3, kDvbS2, kS2Psk8_34},
    {2, 1207, 8, "Astra 1L", 1920, kBelow | 300, 0, 0, 0, 11953500, 0, 27500, -27500, kDvbS1,
     kS1Qpsk34},
    {0, 1207, 9, "Hotbird 13C", 1300, 745, kLocked | kPilots, 114, 95, 10992000, -375, 27500, -1,
     kDvbS2, kS2Psk8_23},
    {0, 1207, 10, "Hotbird 13C", 1300, 752, kLocked, 139, 0, 11034000, 250, 27500, 0, kDvbS1,
     kS1Qpsk34},
    {0, 1207, 11, "Hotbird 13B", 1300, 739, kLocked, 133, 14, 11766000, -62, 27500, 0, kDvbS1,
     kS1Qpsk23},
    {0, 1207, 12, "Hotbird 13E", 1300, 721, kLocked | kPilots, 118, 520, 12597000, 125, 29900, 2,
     kDvbS2, kS2Psk8_56},
    {3, 1207, 13, "Hotbird 13E", 1300, kAbove | 1000, kLocked, 88, kQberAbove | 100000, 11679000,
     812, 27500, 4, kDvbS1, kS1Qpsk34},
    {0, 1207, 14, "Hotbird 13B", 1300, 741, kLocked, 127, 7, 12475000, -187, 27500, 0, kDvbS1,
     kS1Qpsk34},
    {0, 1207, 15, "Hotbird 13C", 1300, 736, kLocked | kPilots | kIqSwap, 121, 61, 11200000, 0,
     27500, -1, kDvbS2, kS2Qpsk34},
    {0, 1207, 16, "Hotbird 13E", 1300, kNoLevel, 0, 0, 0, 10815000, 0, 27500, -27500, kDvbS1,
     kS1Qpsk34},
    {0, 1207, 17, "Astra 2E", 2820, 668, kLocked | kPilots, 107, 330, 10847000, 437, 23000, 0,
     kDvbS2, kS2Psk8_89},
    {0, 1207, 18, "Astra 2F", 2820, 672, kLocked, 124, 22, 11426500, -250, 27500, 0, kDvbS1,
     kS1Qpsk23},
    {0, 1207, 19, "Astra 2G", 2820, 655, kLocked | kPilots, 101, 1450, 10773000, 312, 23000, -2,
     kDvbS2, kS2Psk8_89},
    {0, 1207, 20, "Astra 2E", 2820, 649, kLocked, 119, 48, 11778000, -125, 27500, 1, kDvbS1,
     kS1Qpsk23},
    {0, 1207, 21, "Astra 2F", 2820, 677, kLocked | kPilots, kBelow | 20, kQberAbove | 2500000,
     11623000, 687, 23000, -5, kDvbS2, kS2Psk8_89},
    {0, 1208, 1, "Astra 3B", 2350, 702, kLocked | kPilots, 122, 17, 11739000, -62, 29900, 0, kDvbS2,
     kS2Psk8_23},
    {0, 1208, 2, "Astra 3B", 2350, 697, kLocked, 126, 3, 12070000, 125, 27500, 0, kDvbS1,
     kS1Qpsk34},
    {0, 1208, 3, "Astra 3B", 2350, 684, kLocked | kPilots, 110, 210, 11525000, 250, 27500, -1,
     kDvbS2, kS2Psk8_34},
    {0, 1208, 4, "Astra 3B", 2350, 613, 0, 0, 0, 10803000, 0, 22000, -22000, kDvbS2, kS2Qpsk910},
    {0, 1208, 5, "Eutelsat 9B", 900, 716, kLocked | kPilots, 115, 140, 11747000, -375, 27500, 0,
     kDvbS2, kS2Psk8_23},
    {0, 1208, 6, "Eutelsat 9B", 900, 709, kLocked, 134, 9, 12149000, 187, 27500, 1, kDvbS1,
     kS1Qpsk34},
    {0, 1208, 7, "Eutelsat 7C", 700, 693, kLocked, 141, 0, 10721000, -250, 27500, 0, kDvbS1,
     kS1Qpsk78},
    {0, 1208, 8, "Eutelsat 7C", 700, 687, kLocked | kPilots, 99, 780, 11492000, 562, 30000, -3,
     kDvbS2, kS2Qpsk23},
    {0, 1208, 9, "Thor 5", 35920, 726, kLocked, 136, 11, 11325000, -125, 24500, 0, kDvbS1,
     kS1Qpsk78},
    {0, 1208, 10, "Thor 6", 35920, 718, kLocked | kPilots, 113, 66, 12073000, 312, 30000, 0, kDvbS2,
     kS2Psk8_23},
    {0, 1208, 11, "Hispasat 30W5", 33000, 640, kLocked, 116, 2900, 11731000, -437, 27500, -2,
     kDvbS1, kS1Qpsk34},
    {0, 1208, 12, "DirecTV 101W", 25900, 598, kLocked, 92, 4100, 12457000, 125, 20000, 0, kDss,
     kS1Qpsk23},
    {0, 1208, 13, "Astra 1KR", 1920, 707, kLocked, 129, 180, 11494000, -187, 22000, 0, kDvbS1,
     kS1Qpsk56},
    {0, 1208, 14, "Astra 1N", 1920, 724, kLocked | kPilots, 120, 44, 11817000, 125, 27500, 0,
     kDvbS2, kS2Psk8_910},
    {0, 1208, 15, "Hotbird 13C", 1300, 748, kLocked, 130, 29, 11137000, -62, 27500, 0, kDvbS1,
     kS1Qpsk12},
};
static_assert(sizeof(kEntries) / sizeof(kEntries[0]) == kSampleEntryCount);

void WriteLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void WriteLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void WriteEntry(const Entry& e, uint8_t* r) {
  r[rec::kStatus] = e.status;
  WriteLe16(r + rec::kIdMinor, e.id_minor);
  WriteLe16(r + rec::kIdMajor, e.id_major);
  // Names shorter than the field are zero-padded; a 16-character one fills it.
  std::memcpy(r + rec::kName, e.name, std::min(std::strlen(e.name), rec::kNameLength));
  WriteLe16(r + rec::kLongitude, e.longitude);
  WriteLe16(r + rec::kRfLevel, e.rf_level);
  r[rec::kFlags] = e.flags;
  WriteLe16(r + rec::kMer, e.mer);
  WriteLe32(r + rec::kQber, e.qber);
  WriteLe32(r + rec::kSpare, e.nominal_khz >= 11700000 ? kLoHigh : kLoLow);
  WriteLe32(r + rec::kNominalFrequency, e.nominal_khz);
  const bool locked = (e.flags & kLocked) != 0;
  WriteLe32(r + rec::kMeasuredFrequency,
            locked ? static_cast<uint32_t>(static_cast<int64_t>(e.nominal_khz) + e.offset_khz) : 0);
  WriteLe16(r + rec::kNominalSymbolRate, e.nominal_kbd);
  WriteLe16(r + rec::kMeasuredSymbolRate, static_cast<uint16_t>(e.nominal_kbd + e.sr_offset));
  r[rec::kStandard] = e.standard;
  r[rec::kCodeRate] = e.code_rate;
}

}  // namespace

void WriteEndMarker(uint8_t* record) { std::memset(record, kEndMarker, kRecordSize); }

LogImage MakeEmptyLog() {
  LogImage image{};
  WriteEndMarker(RecordAt(image, 0));
  return image;
}

LogImage MakeSampleLog() {
  LogImage image{};
  for (int i = 0; i < kSampleEntryCount; ++i) WriteEntry(kEntries[i], RecordAt(image, i));
  WriteEndMarker(RecordAt(image, kSampleEntryCount));
  return image;
}

}  // namespace sq71::sim
