#include "log/decoder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace sq71 {
namespace {

constexpr const char* kDvbS1CodeRates[] = {
    "ANY", "QPSK 1/2", "QPSK 2/3", "QPSK 3/4", "QPSK 5/6", "QPSK 6/7", "QPSK 7/8",
};

// Indices 1 to 28 are the DVB-S2 MODCOD numbers, in the standard's order.
constexpr const char* kDvbS2CodeRates[] = {
    "ANY",        "QPSK 1/4",   "QPSK 1/3",   "QPSK 2/5",   "QPSK 1/2",    "QPSK 3/5",
    "QPSK 2/3",   "QPSK 3/4",   "QPSK 4/5",   "QPSK 5/6",   "QPSK 8/9",    "QPSK 9/10",
    "8PSK 3/5",   "8PSK 2/3",   "8PSK 3/4",   "8PSK 5/6",   "8PSK 8/9",    "8PSK 9/10",
    "16APSK 2/3", "16APSK 3/4", "16APSK 4/5", "16APSK 5/6", "16APSK 8/9",  "16APSK 9/10",
    "32APSK 3/4", "32APSK 4/5", "32APSK 5/6", "32APSK 8/9", "32APSK 9/10",
};

constexpr uint32_t kStandardDvbS1 = 0;
constexpr uint32_t kStandardDss = 2;
constexpr uint32_t kStandardDvbS2 = 4;

constexpr uint32_t kLevelAbove = 0x8000;  // value shown with ">"
constexpr uint32_t kLevelBelow = 0x4000;  // value shown with "<"

constexpr uint32_t kQberCountMask = 0x3FFFFFFF;

void SetText(char* text, std::size_t size, const char* value) {
  std::snprintf(text, size, "%s", value);
}

// Doubles every double quote so the name cannot end its CSV field early.
void EscapeCsvField(const char* in, char* out, std::size_t size) {
  std::size_t o = 0;
  for (const char* p = in; *p != '\0' && o + 1 < size; ++p) {
    if (*p == '"') {
      if (o + 2 >= size) break;
      out[o++] = '"';
    }
    out[o++] = *p;
  }
  out[o] = '\0';
}

}  // namespace

int FormatDecimal(int32_t x, int fraction_digits, char* text, std::size_t size) {
  const uint32_t divisor = fraction_digits == 1 ? 10 : 100;
  const uint32_t magnitude =
      x < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(x)) : static_cast<uint32_t>(x);
  // The sign goes with the integer part, also when that is 0 ("-0.1"). Sized
  // for "-" and the nine digits of the largest quotient, so the compiler can
  // see that the whole text fits a 16-byte field.
  char whole[12];
  std::snprintf(whole, sizeof whole, "%s%u", x < 0 ? "-" : "", magnitude / divisor);
  if (divisor == 10) return std::snprintf(text, size, "%3s.%01u", whole, magnitude % 10);
  return std::snprintf(text, size, "%3s.%02u", whole, magnitude % 100);
}

void FormatLevel(uint32_t code, LevelTexts* texts) {
  if ((code & (kLevelAbove | kLevelBelow)) == (kLevelAbove | kLevelBelow)) {
    // No value: the dBm and dBmV texts keep whatever they held.
    texts->tenths[0] = '\0';
    SetText(texts->marker, sizeof texts->marker, " ");
    return;
  }
  if (code & kLevelAbove) SetText(texts->marker, sizeof texts->marker, ">");
  if (code & kLevelBelow) SetText(texts->marker, sizeof texts->marker, "<");
  // Bits 0-11 as a 12-bit two's-complement number; bits 12 and 13 are unused.
  int32_t v = static_cast<int32_t>(code & 0x0FFF);
  if (v & 0x0800) v -= 0x1000;
  FormatDecimal(v, 1, texts->tenths, sizeof texts->tenths);
  FormatDecimal(10 * v - 10875, 2, texts->dbm, sizeof texts->dbm);
  FormatDecimal(10 * v - 6000, 2, texts->dbmv, sizeof texts->dbmv);
}

int FormatExponential(double value, char* text, std::size_t size) {
  char raw[64];
  std::snprintf(raw, sizeof raw, "%.6E", value);
  // glibc writes at least two exponent digits, msvcrt three: settle on three.
  char* e = std::strchr(raw, 'E');
  if (e == nullptr) return std::snprintf(text, size, "%s", raw);
  const int exponent = std::atoi(e + 1);
  *e = '\0';
  return std::snprintf(text, size, "%sE%c%03d", raw, exponent < 0 ? '-' : '+', std::abs(exponent));
}

void FormatQber(uint32_t code, QberTexts* texts) {
  const uint32_t count = code & kQberCountMask;
  FormatExponential(static_cast<double>(count) * 1e-8, texts->text, sizeof texts->text);
  switch (code >> 30) {
    case 1:
      SetText(texts->marker, sizeof texts->marker, "<");
      break;
    case 2:
      SetText(texts->marker, sizeof texts->marker, ">");
      break;
    case 3:
      SetText(texts->text, sizeof texts->text, " ");
      break;
    default:
      break;
  }
  // The meter reports "no errors seen" as 0: show it as below the largest ratio.
  if (code == 0) {
    SetText(texts->marker, sizeof texts->marker, "<");
    FormatExponential(1.0, texts->text, sizeof texts->text);
  }
}

const char* CodeRateName(uint32_t standard, uint32_t index) {
  if (standard == kStandardDvbS1 || standard == kStandardDss) {
    if (index < std::size(kDvbS1CodeRates)) return kDvbS1CodeRates[index];
  } else if (standard == kStandardDvbS2) {
    if (index < std::size(kDvbS2CodeRates)) return kDvbS2CodeRates[index];
  }
  return "???";
}

bool RecordDecoder::Decode(const LogImage& image, int n, DecodedEntry* entry) {
  if (n < 0 || n >= kRecordCount || entry == nullptr) return false;
  const uint8_t* r = RecordAt(image, n);
  if (r[rec::kStatus] > 3) return false;

  entry->status = r[rec::kStatus];
  entry->id_minor = ReadLe16(r + rec::kIdMinor);
  entry->id_major = ReadLe16(r + rec::kIdMajor);
  if (n == 0) {
    key_minor_ = entry->id_minor;
    key_major_ = entry->id_major;
  } else if (entry->id_minor == key_minor_ && entry->id_major == key_major_) {
    // A record repeating record 0's ID is no new measurement: it and all
    // after it lie past the end of the log.
    return false;
  }

  std::size_t len = 0;
  while (len < rec::kNameLength && r[rec::kName + len] != 0) ++len;
  std::memcpy(entry->name, r + rec::kName, len);
  entry->name[len] = '\0';

  entry->longitude = ReadLe16(r + rec::kLongitude);
  char longitude[16];
  std::snprintf(longitude, sizeof longitude, "%u.%02u", entry->longitude / 100,
                entry->longitude % 100);

  entry->rf_level = ReadLe16(r + rec::kRfLevel);
  LevelTexts rf;
  FormatLevel(entry->rf_level, &rf);

  entry->flags = r[rec::kFlags];
  const bool locked = (entry->flags & kFlagLocked) != 0;
  const char* locked_text = locked ? "Y" : " ";
  const char* pilots_text = (entry->flags & kFlagPilots) ? "Y" : " ";
  const char* iq_swap_text = (entry->flags & kFlagIqSwap) ? "Y" : " ";

  // MER and QBER mean nothing without lock.
  entry->mer = ReadLe16(r + rec::kMer);
  entry->qber = ReadLe32(r + rec::kQber);
  LevelTexts mer;
  QberTexts qber;
  if (locked) {
    FormatLevel(entry->mer, &mer);
    FormatQber(entry->qber, &qber);
  }

  entry->spare = ReadLe32(r + rec::kSpare);
  entry->nominal_frequency = ReadLe32(r + rec::kNominalFrequency);
  entry->measured_frequency = ReadLe32(r + rec::kMeasuredFrequency);
  entry->nominal_symbol_rate = ReadLe16(r + rec::kNominalSymbolRate);
  entry->measured_symbol_rate = ReadLe16(r + rec::kMeasuredSymbolRate);
  entry->standard = r[rec::kStandard];
  entry->code_rate = r[rec::kCodeRate];

  char standard[16];
  switch (entry->standard) {
    case kStandardDvbS1:
      SetText(standard, sizeof standard, "DVB-S1");
      break;
    case kStandardDss:
      SetText(standard, sizeof standard, "DSS");
      break;
    case kStandardDvbS2:
      SetText(standard, sizeof standard, "DVB-S2");
      break;
    default:
      std::snprintf(standard, sizeof standard, "%u", entry->standard);
      break;
  }
  const char* code_rate = CodeRateName(entry->standard, entry->code_rate);

  std::snprintf(
      entry->list_row, sizeof entry->list_row,
      "%05u-%03u\t%16s\t%sE\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%5u\t%5u\t"
      "%5u\t%5u\t%s\t%s",
      entry->id_major, entry->id_minor, entry->name, longitude, rf.marker, rf.dbm, rf.marker,
      rf.tenths, rf.marker, rf.dbmv, locked_text, pilots_text, iq_swap_text, mer.marker, mer.tenths,
      qber.marker, qber.text, entry->nominal_frequency, entry->measured_frequency,
      entry->nominal_symbol_rate, entry->measured_symbol_rate, standard, code_rate);

  // The name is the one field that can hold a quote; pad it first so the
  // field's value is the same 16 characters the list shows.
  char padded_name[sizeof entry->name];
  std::snprintf(padded_name, sizeof padded_name, "%16s", entry->name);
  char csv_name[2 * sizeof entry->name];
  EscapeCsvField(padded_name, csv_name, sizeof csv_name);
  std::snprintf(entry->csv_line, sizeof entry->csv_line,
                "\"%05u-%03u\",\"%s\",\"%sE\",\"%s%s\",\"%s%s\",\"%s%s\",\"%s\",\"%s\",\"%s\","
                "\"%s%s\",\"%s%s\",\"%5u\",\"%5u\",\"%5u\",\"%5u\",\"%s\",\"%s\"\r\n",
                entry->id_major, entry->id_minor, csv_name, longitude, rf.marker, rf.dbm, rf.marker,
                rf.tenths, rf.marker, rf.dbmv, locked_text, pilots_text, iq_swap_text, mer.marker,
                mer.tenths, qber.marker, qber.text, entry->nominal_frequency,
                entry->measured_frequency, entry->nominal_symbol_rate, entry->measured_symbol_rate,
                standard, code_rate);
  return true;
}

}  // namespace sq71
