#include "report/report_entries.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace sq71 {
namespace {

// Windows-1252's 0x80-0x9F; 0 where the code page defines no character.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void AppendCp1252(unsigned char byte, std::string* out) {
  char32_t c = byte;
  if (byte >= 0x80 && byte < 0xA0)
    c = kHighControls[byte - 0x80] ? kHighControls[byte - 0x80] : 0xFFFD;
  AppendUtf8(c, out);
}

// The length of the valid UTF-8 sequence at s[i], or 0 when there is none
// (overlong forms and surrogates included).
std::size_t Utf8SequenceAt(const std::string& s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = b(i);
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  if (b(i + 1) < low || b(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
  }
  return length;
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// A marker column and its value column as one text: "<29.1", "65.3", "".
std::string Marked(const std::string& marker, const std::string& value) {
  const std::string shown = Trimmed(value);
  if (shown.empty() || (marker != "<" && marker != ">")) return shown;
  return marker + shown;
}

// The texts of the entry's list row. The name is the one column whose bytes
// may hold a tab, so the columns are taken from both ends around it.
ViewTexts TextsOf(const DecodedEntry& entry) {
  std::vector<std::string> columns;
  std::string row = entry.list_row;
  std::size_t start = 0;
  for (std::size_t tab; (tab = row.find('\t', start)) != std::string::npos; start = tab + 1) {
    columns.push_back(row.substr(start, tab - start));
  }
  columns.push_back(row.substr(start));
  constexpr std::size_t kAfterName = 20;
  ViewTexts t;
  if (columns.size() < kAfterName + 2) return t;
  const std::string* c = columns.data() + (columns.size() - kAfterName);
  t.id = columns[0];
  t.longitude = Trimmed(c[0]);
  if (!t.longitude.empty() && t.longitude.back() == 'E') t.longitude.pop_back();
  t.rf_dbm = Marked(c[1], c[2]);
  t.rf_dbuv = Marked(c[3], c[4]);
  t.rf_dbmv = Marked(c[5], c[6]);
  t.locked = Trimmed(c[7]);
  t.pilots = Trimmed(c[8]);
  t.iq_swap = Trimmed(c[9]);
  t.mer = Marked(c[10], c[11]);
  t.qber = Marked(c[12], c[13]);
  t.nominal_frequency = Trimmed(c[14]);
  t.measured_frequency = Trimmed(c[15]);
  t.nominal_symbol_rate = Trimmed(c[16]);
  t.measured_symbol_rate = Trimmed(c[17]);
  t.standard = Trimmed(c[18]);
  t.code_rate = Trimmed(c[19]);
  return t;
}

}  // namespace

std::string Cp1252ToUtf8(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) AppendCp1252(static_cast<unsigned char>(c), &out);
  return out;
}

std::string Cp1252ForTerminal(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte == 0x7F ||
               (byte >= 0x80 && byte < 0xA0 && kHighControls[byte - 0x80] == 0)) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      AppendCp1252(byte, &out);
    }
  }
  return out;
}

std::string ValidUtf8(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceAt(text, i);
    if (length == 0) {
      AppendCp1252(static_cast<unsigned char>(text[i]), &out);
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

std::string SignedHundredths(int hundredths) {
  char text[24];
  const int magnitude = std::abs(hundredths);
  std::snprintf(text, sizeof text, "%s%d.%02d",
                hundredths < 0   ? "-"
                : hundredths > 0 ? "+"
                                 : "",
                magnitude / 100, magnitude % 100);
  return text;
}

std::vector<ReportEntry> CollectEntries(const LogImage& image, int count, RecordDecoder* decoder,
                                        const Thresholds& thresholds) {
  std::vector<ReportEntry> entries;
  count = std::clamp(count, 0, kRecordCount);
  DecodedEntry decoded;
  for (int i = 0; i < count && decoder->Decode(image, i, &decoded); ++i) {
    ReportEntry& e = entries.emplace_back();
    e.record = i;
    e.decoded = decoded;
    e.name = Cp1252ToUtf8(decoded.name);
    e.texts = TextsOf(decoded);
    e.rf = LevelValueOf(decoded.rf_level);
    if ((decoded.flags & kFlagLocked) != 0) e.mer = LevelValueOf(decoded.mer);
    e.margin = MarginOf(decoded, thresholds);
  }
  return entries;
}

}  // namespace sq71
