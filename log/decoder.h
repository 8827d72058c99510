// Record decoding: one log record into its numbers, the list row the Log
// Entries view shows and the CSV line the export writes.
#ifndef SQ71_LOG_DECODER_H
#define SQ71_LOG_DECODER_H

#include <cstddef>
#include <cstdint>

#include "log/log_image.h"

namespace sq71 {

// One decoded log record. The caller keeps one and reuses it for every record
// of a pass.
struct DecodedEntry {
  uint32_t status;
  uint32_t id_minor;
  uint32_t id_major;
  char name[17];       // cut at the first zero byte, always terminated
  uint32_t longitude;  // hundredths of a degree east
  uint32_t rf_level;   // the 16-bit level code
  uint32_t flags;
  uint32_t mer;   // the 16-bit level code
  uint32_t qber;  // the 32-bit code
  uint32_t spare;
  uint32_t nominal_frequency;     // kHz
  uint32_t measured_frequency;    // kHz
  uint32_t nominal_symbol_rate;   // kBd
  uint32_t measured_symbol_rate;  // kBd
  uint32_t standard;
  uint32_t code_rate;
  char list_row[256];  // tab-separated, no line end
  char csv_line[512];  // quoted, comma-separated, ends in CR LF
};

// The first line of every CSV file.
inline constexpr char kCsvHeader[] =
    "\"ID\",\"Transponder\",\"Longitude\",\"RF dBm\",\"RF dBuV\",\"RF dBmV\",\"Locked\","
    "\"Pilots\",\"IQ Swap\",\"MER\",\"QBER\",\"Nominal Frequency kHz\","
    "\"Measured Frequency kHz\",\"Nominal Symbol Rate kBd\",\"Measured Symbol Rate kBd\","
    "\"Standard\",\"Code Rate\"\r\n";

// Bits of the flags byte.
constexpr uint32_t kFlagLocked = 0x01;
constexpr uint32_t kFlagPilots = 0x02;
constexpr uint32_t kFlagIqSwap = 0x04;

// Writes x, held in tenths (fraction_digits 1) or hundredths (2), as a decimal:
// sign and integer part right-aligned in at least three characters, a point
// and the fraction digits. -1 tenths gives " -0.1". Returns the length.
int FormatDecimal(int32_t x, int fraction_digits, char* text, std::size_t size);

// The texts of a 16-bit level code (RF level or MER). Each starts as one space;
// the formatter overwrites what the code calls for.
struct LevelTexts {
  char tenths[16] = " ";  // the value itself: dBuV for RF, dB for MER
  char marker[2] = " ";   // "<", ">" or a space
  char dbm[16] = " ";     // level less 108.75
  char dbmv[16] = " ";    // level less 60.00
};

// Fills the texts from a level code: bits 0-11 the value in tenths as a 12-bit
// two's-complement number; bit 15 alone ">", bit 14 alone "<"; both: no value
// (empty tenths text, dBm and dBmV left as they were).
void FormatLevel(uint32_t code, LevelTexts* texts);

// The QBER marker and text of a QBER code, for a locked entry.
struct QberTexts {
  char marker[2] = " ";
  char text[32] = " ";
};
void FormatQber(uint32_t code, QberTexts* texts);

// Writes value as printf's "%.6E" would, but always with a sign and exactly
// three exponent digits ("2.500000E-006"), whatever the C library's habit.
int FormatExponential(double value, char* text, std::size_t size);

// The name of a code rate: standards 0 and 2 use the DVB-S1/DSS table,
// standard 4 the DVB-S2 table; anything else, or an index past the table, "???".
const char* CodeRateName(uint32_t standard, uint32_t index);

// Decodes records of one log image. It keeps the ID of record 0 (the first-record
// key) between calls: a later record with the same ID ends the pass. Decode
// records 0, 1, 2, ... in order and stop at the first false.
class RecordDecoder {
 public:
  // True when record n is an entry and *entry is complete. False for a status
  // above 3 (entry untouched) or for n > 0 repeating record 0's ID (entry then
  // holds the new status and ID but the previous texts).
  bool Decode(const LogImage& image, int n, DecodedEntry* entry);

  uint32_t key_minor() const { return key_minor_; }
  uint32_t key_major() const { return key_major_; }

 private:
  uint32_t key_minor_ = 0;
  uint32_t key_major_ = 0;
};

}  // namespace sq71

#endif
