#include "log/decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "log/record_builder.h"

namespace sq71 {
namespace {

using test::Record;

std::vector<std::string> Columns(const char* row) {
  std::vector<std::string> columns(1);
  for (const char* p = row; *p != '\0'; ++p) {
    if (*p == '\t') {
      columns.emplace_back();
    } else {
      columns.back() += *p;
    }
  }
  return columns;
}

// Column positions of the list row.
enum Column {
  kId,
  kName,
  kLongitude,
  kRfMarker1,
  kRfDbm,
  kRfMarker2,
  kRfDbuv,
  kRfMarker3,
  kRfDbmv,
  kLocked,
  kPilots,
  kIqSwap,
  kMerMarker,
  kMer,
  kQberMarker,
  kQber,
  kNominalFrequency,
  kMeasuredFrequency,
  kNominalSymbolRate,
  kMeasuredSymbolRate,
  kStandard,
  kCodeRate,
  kColumnCount,
};

// Decodes record 0 of a fresh image holding only that record.
DecodedEntry DecodeAlone(const LogImage& image) {
  RecordDecoder decoder;
  DecodedEntry entry{};
  EXPECT_TRUE(decoder.Decode(image, 0, &entry));
  return entry;
}

TEST(FormatLevel, TableOfValuesWithTheirLeadingSpaces) {
  struct Case {
    uint32_t code;
    const char* tenths;
    const char* dbm;
    const char* dbmv;
  };
  // 12-bit codes: 0xFFF is -1, 0x800 is -2048.
  const Case cases[] = {
      {653, " 65.3", "-43.45", "  5.30"},    {1090, "109.0", "  0.25", " 49.00"},
      {1088, "108.8", "  0.05", " 48.80"},   {0, "  0.0", "-108.75", "-60.00"},
      {0xFFF, " -0.1", "-108.85", "-60.10"}, {0x800, "-204.8", "-313.55", "-264.80"},
      {0x7FF, "204.7", " 95.95", "144.70"},
  };
  for (const Case& c : cases) {
    LevelTexts texts;
    FormatLevel(c.code, &texts);
    EXPECT_STREQ(c.tenths, texts.tenths) << c.code;
    EXPECT_STREQ(c.dbm, texts.dbm) << c.code;
    EXPECT_STREQ(c.dbmv, texts.dbmv) << c.code;
    EXPECT_STREQ(" ", texts.marker) << c.code;
  }
}

TEST(FormatLevel, MarkersAndUnusedBits) {
  LevelTexts above;
  FormatLevel(0x8000 | 291, &above);
  EXPECT_STREQ(">", above.marker);
  EXPECT_STREQ(" 29.1", above.tenths);

  LevelTexts below;
  FormatLevel(0x4000 | 291, &below);
  EXPECT_STREQ("<", below.marker);
  EXPECT_STREQ(" 29.1", below.tenths);

  // Bits 12 and 13 carry nothing.
  LevelTexts plain, with_spare_bits;
  FormatLevel(653, &plain);
  FormatLevel(0x3000 | 653, &with_spare_bits);
  EXPECT_STREQ(plain.tenths, with_spare_bits.tenths);
  EXPECT_STREQ(plain.dbm, with_spare_bits.dbm);
  EXPECT_STREQ(plain.dbmv, with_spare_bits.dbmv);
  EXPECT_STREQ(" ", with_spare_bits.marker);
}

TEST(FormatLevel, BothHighBitsMeanNoValueWhateverTheLowBitsHold) {
  for (uint32_t low : {0u, 291u, 0xFFFu}) {
    LevelTexts texts;
    FormatLevel(0xC000 | low, &texts);
    EXPECT_STREQ("", texts.tenths) << low;
    EXPECT_STREQ(" ", texts.marker) << low;
    EXPECT_STREQ(" ", texts.dbm) << low;
    EXPECT_STREQ(" ", texts.dbmv) << low;
  }
}

TEST(FormatDecimal, SignAndIntegerPartFillAtLeastThreeCharacters) {
  char text[16];
  FormatDecimal(-5, 2, text, sizeof text);
  EXPECT_STREQ(" -0.05", text);
  FormatDecimal(5, 2, text, sizeof text);
  EXPECT_STREQ("  0.05", text);
  FormatDecimal(12345, 1, text, sizeof text);
  EXPECT_STREQ("1234.5", text);
  FormatDecimal(-99, 1, text, sizeof text);
  EXPECT_STREQ(" -9.9", text);
  FormatDecimal(-100, 1, text, sizeof text);
  EXPECT_STREQ("-10.0", text);
  // Too small a buffer is cut, never overrun.
  char small[4];
  FormatDecimal(-31355, 2, small, sizeof small);
  EXPECT_STREQ("-31", small);
}

TEST(FormatExponential, AlwaysThreeExponentDigits) {
  char text[32];
  FormatExponential(250 * 1e-8, text, sizeof text);
  EXPECT_STREQ("2.500000E-006", text);
  FormatExponential(1.0, text, sizeof text);
  EXPECT_STREQ("1.000000E+000", text);
  FormatExponential(0.0, text, sizeof text);
  EXPECT_STREQ("0.000000E+000", text);
  FormatExponential(10.73741823, text, sizeof text);
  EXPECT_STREQ("1.073742E+001", text);
  FormatExponential(1e-100, text, sizeof text);
  EXPECT_STREQ("1.000000E-100", text);
  FormatExponential(1e-8, text, sizeof text);
  EXPECT_STREQ("1.000000E-008", text);
}

TEST(FormatQber, QualifiersAndZero) {
  struct Case {
    uint32_t code;
    const char* marker;
    const char* text;
  };
  const Case cases[] = {
      {250, " ", "2.500000E-006"},
      {0, "<", "1.000000E+000"},                  // no errors counted
      {0x40000000, "<", "0.000000E+000"},         // qualifier 01, count 0: not the code 0
      {0x40000000 | 100, "<", "1.000000E-006"},   // qualifier 01
      {0x80000000u | 100, ">", "1.000000E-006"},  // qualifier 10
      {0xC0000000u | 100, " ", " "},              // qualifier 11: no value
      {0x3FFFFFFF, " ", "1.073742E+001"},         // the largest count
  };
  for (const Case& c : cases) {
    QberTexts texts;
    FormatQber(c.code, &texts);
    EXPECT_STREQ(c.marker, texts.marker) << std::hex << c.code;
    EXPECT_STREQ(c.text, texts.text) << std::hex << c.code;
  }
}

TEST(CodeRateName, TablesAndTheirEnds) {
  EXPECT_STREQ("ANY", CodeRateName(0, 0));
  EXPECT_STREQ("QPSK 1/2", CodeRateName(0, 1));
  EXPECT_STREQ("QPSK 7/8", CodeRateName(0, 6));
  EXPECT_STREQ("???", CodeRateName(0, 7));
  EXPECT_STREQ("QPSK 6/7", CodeRateName(2, 5));
  EXPECT_STREQ("???", CodeRateName(2, 7));
  EXPECT_STREQ("ANY", CodeRateName(4, 0));
  EXPECT_STREQ("QPSK 1/4", CodeRateName(4, 1));
  EXPECT_STREQ("QPSK 9/10", CodeRateName(4, 11));
  EXPECT_STREQ("8PSK 3/5", CodeRateName(4, 12));
  EXPECT_STREQ("8PSK 9/10", CodeRateName(4, 17));
  EXPECT_STREQ("16APSK 2/3", CodeRateName(4, 18));
  EXPECT_STREQ("16APSK 9/10", CodeRateName(4, 23));
  EXPECT_STREQ("32APSK 3/4", CodeRateName(4, 24));
  EXPECT_STREQ("32APSK 9/10", CodeRateName(4, 28));
  EXPECT_STREQ("???", CodeRateName(4, 29));
  EXPECT_STREQ("???", CodeRateName(4, 255));
  for (uint32_t standard : {1u, 3u, 5u, 255u}) {
    for (uint32_t index = 0; index < 256; ++index) {
      EXPECT_STREQ("???", CodeRateName(standard, index)) << standard << "/" << index;
    }
  }
}

TEST(Decode, ZeroRecordAtPositionZero) {
  LogImage image{};
  RecordDecoder decoder;
  DecodedEntry entry{};
  ASSERT_TRUE(decoder.Decode(image, 0, &entry));
  EXPECT_STREQ(
      "00000-000\t                \t0.00E\t \t-108.75\t \t  0.0\t \t-60.00"
      "\t \t \t \t \t \t \t \t    0\t    0\t    0\t    0\tDVB-S1\tANY",
      entry.list_row);
  EXPECT_STREQ(
      "\"00000-000\",\"                \",\"0.00E\",\" -108.75\",\"   0.0\",\" -60.00\","
      "\" \",\" \",\" \",\"  \",\"  \",\"    0\",\"    0\",\"    0\",\"    0\",\"DVB-S1\","
      "\"ANY\"\r\n",
      entry.csv_line);
  EXPECT_EQ(kColumnCount, static_cast<int>(Columns(entry.list_row).size()));
  // A zero record after it repeats its ID and ends the pass.
  EXPECT_FALSE(decoder.Decode(image, 1, &entry));
}

TEST(Decode, FullRecordRowAndLine) {
  LogImage image{};
  Record(image, 0)
      .Id(12, 1234)
      .Name("ASTRA 1KR")
      .Longitude(1922)
      .RfLevel(653)
      .Flags(0x07)
      .Mer(0x8000 | 123)
      .Qber(250)
      .Spare(0xDEADBEEF)
      .Frequencies(11362000, 11361875)
      .SymbolRates(22000, 21998)
      .Standard(4, 13);
  const DecodedEntry entry = DecodeAlone(image);
  EXPECT_STREQ(
      "00012-1234\t       ASTRA 1KR\t19.22E\t \t-43.45\t \t 65.3\t \t  5.30\tY\tY\tY\t>\t 12.3"
      "\t \t2.500000E-006\t11362000\t11361875\t22000\t21998\tDVB-S2\t8PSK 2/3",
      entry.list_row);
  EXPECT_STREQ(
      "\"00012-1234\",\"       ASTRA 1KR\",\"19.22E\",\" -43.45\",\"  65.3\",\"   5.30\","
      "\"Y\",\"Y\",\"Y\",\"> 12.3\",\" 2.500000E-006\",\"11362000\",\"11361875\",\"22000\","
      "\"21998\",\"DVB-S2\",\"8PSK 2/3\"\r\n",
      entry.csv_line);
  EXPECT_EQ(0u, entry.status);
  EXPECT_EQ(1234u, entry.id_minor);
  EXPECT_EQ(12u, entry.id_major);
  EXPECT_STREQ("ASTRA 1KR", entry.name);
  EXPECT_EQ(1922u, entry.longitude);
  EXPECT_EQ(653u, entry.rf_level);
  EXPECT_EQ(7u, entry.flags);
  EXPECT_EQ(0x8000u | 123, entry.mer);
  EXPECT_EQ(250u, entry.qber);
  EXPECT_EQ(0xDEADBEEFu, entry.spare);
  EXPECT_EQ(11362000u, entry.nominal_frequency);
  EXPECT_EQ(11361875u, entry.measured_frequency);
  EXPECT_EQ(22000u, entry.nominal_symbol_rate);
  EXPECT_EQ(21998u, entry.measured_symbol_rate);
  EXPECT_EQ(4u, entry.standard);
  EXPECT_EQ(13u, entry.code_rate);
}

TEST(Decode, InvalidStatusAtPositionZeroLeavesKeyAndEntryAlone) {
  LogImage first{};
  Record(first, 0).Id(7, 3);
  RecordDecoder decoder;
  DecodedEntry entry{};
  ASSERT_TRUE(decoder.Decode(first, 0, &entry));

  LogImage image{};
  Record(image, 0).Status(4).Id(9, 9);
  DecodedEntry untouched;
  std::memset(&untouched, 0x5A, sizeof untouched);
  DecodedEntry probe = untouched;
  EXPECT_FALSE(decoder.Decode(image, 0, &probe));
  EXPECT_EQ(0, std::memcmp(&untouched, &probe, sizeof probe));
  EXPECT_EQ(7u, decoder.key_major());
  EXPECT_EQ(3u, decoder.key_minor());

  for (uint8_t status : {5, 200, 254, 255}) {
    Record(image, 0).Status(status);
    EXPECT_FALSE(decoder.Decode(image, 0, &probe)) << int{status};
  }
  for (uint8_t status : {0, 1, 2, 3}) {
    Record(image, 0).Status(status);
    EXPECT_TRUE(decoder.Decode(image, 0, &probe)) << int{status};
    EXPECT_EQ(status, probe.status);
  }
}

TEST(Decode, RepeatOfTheFirstIdEndsThePass) {
  LogImage image{};
  for (int i = 0; i < 5; ++i) Record(image, i).Id(100, static_cast<uint16_t>(i + 1));
  // Record 5 repeats record 0's ID; its status is valid and its other bytes differ.
  Record(image, 5).Status(2).Id(100, 1).Name("OTHER").Longitude(500).RfLevel(900);
  Record(image, 6).Id(100, 7);

  RecordDecoder decoder;
  DecodedEntry entry{};
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(decoder.Decode(image, i, &entry)) << i;
  const std::string row4 = entry.list_row;
  EXPECT_FALSE(decoder.Decode(image, 5, &entry));
  // The numbers read before the test are in; the texts are those of record 4.
  EXPECT_EQ(2u, entry.status);
  EXPECT_EQ(1u, entry.id_minor);
  EXPECT_EQ(row4, entry.list_row);

  // Only both halves together make a repeat.
  Record(image, 5).Id(100, 9);
  EXPECT_TRUE(decoder.Decode(image, 5, &entry));
  Record(image, 5).Id(101, 1);
  EXPECT_TRUE(decoder.Decode(image, 5, &entry));
}

TEST(Decode, KeyStaysFromTheLastPassUntilRecordZeroIsDecodedAgain) {
  LogImage a{};
  Record(a, 0).Id(1, 1);
  LogImage b{};
  Record(b, 0).Id(2, 2);
  Record(b, 3).Id(1, 1);

  RecordDecoder decoder;
  DecodedEntry entry{};
  ASSERT_TRUE(decoder.Decode(a, 0, &entry));
  // Without decoding b's record 0 first, a's key still applies.
  EXPECT_FALSE(decoder.Decode(b, 3, &entry));
  ASSERT_TRUE(decoder.Decode(b, 0, &entry));
  EXPECT_TRUE(decoder.Decode(b, 3, &entry));
  // A fresh decoder's key is 00000-000.
  RecordDecoder fresh;
  LogImage zero{};
  EXPECT_FALSE(fresh.Decode(zero, 7, &entry));
  EXPECT_FALSE(fresh.Decode(zero, -1, &entry));
  EXPECT_FALSE(fresh.Decode(zero, kRecordCount, &entry));
}

TEST(Decode, FlagsEachInTheirOwnColumn) {
  const struct {
    uint8_t flags;
    const char* locked;
    const char* pilots;
    const char* iq_swap;
  } cases[] = {
      {0x01, "Y", " ", " "},
      {0x02, " ", "Y", " "},
      {0x04, " ", " ", "Y"},
      {0xF8, " ", " ", " "},  // bits 3 to 7 mean nothing
  };
  for (const auto& c : cases) {
    LogImage image{};
    Record(image, 0).Flags(c.flags);
    const auto columns = Columns(DecodeAlone(image).list_row);
    EXPECT_EQ(c.locked, columns[kLocked]) << int{c.flags};
    EXPECT_EQ(c.pilots, columns[kPilots]) << int{c.flags};
    EXPECT_EQ(c.iq_swap, columns[kIqSwap]) << int{c.flags};
  }
}

TEST(Decode, MerAndQberOnlyWhenLocked) {
  LogImage image{};
  Record(image, 0).Flags(0x06).Mer(0x8000 | 95).Qber(0x40000000 | 250);
  DecodedEntry entry = DecodeAlone(image);
  auto columns = Columns(entry.list_row);
  EXPECT_EQ(" ", columns[kMerMarker]);
  EXPECT_EQ(" ", columns[kMer]);
  EXPECT_EQ(" ", columns[kQberMarker]);
  EXPECT_EQ(" ", columns[kQber]);
  EXPECT_NE(nullptr, std::strstr(entry.csv_line, "\"Y\",\"Y\",\"  \",\"  \","));

  Record(image, 0).Flags(0x01);
  entry = DecodeAlone(image);
  columns = Columns(entry.list_row);
  EXPECT_EQ(">", columns[kMerMarker]);
  EXPECT_EQ("  9.5", columns[kMer]);
  EXPECT_EQ("<", columns[kQberMarker]);
  EXPECT_EQ("2.500000E-006", columns[kQber]);
  EXPECT_NE(nullptr, std::strstr(entry.csv_line, "\">  9.5\",\"<2.500000E-006\""));

  // Locked with QBER code 0 and MER without value.
  Record(image, 0).Mer(0xC000 | 95).Qber(0);
  columns = Columns(DecodeAlone(image).list_row);
  EXPECT_EQ(" ", columns[kMerMarker]);
  EXPECT_EQ("", columns[kMer]);
  EXPECT_EQ("<", columns[kQberMarker]);
  EXPECT_EQ("1.000000E+000", columns[kQber]);
}

TEST(Decode, RfMarkerStandsBeforeEachLevelValue) {
  LogImage image{};
  Record(image, 0).RfLevel(0x8000 | 291);
  DecodedEntry entry = DecodeAlone(image);
  auto columns = Columns(entry.list_row);
  EXPECT_EQ(">", columns[kRfMarker1]);
  EXPECT_EQ(">", columns[kRfMarker2]);
  EXPECT_EQ(">", columns[kRfMarker3]);
  EXPECT_EQ("-79.65", columns[kRfDbm]);
  EXPECT_EQ(" 29.1", columns[kRfDbuv]);
  EXPECT_EQ("-30.90", columns[kRfDbmv]);
  EXPECT_NE(nullptr, std::strstr(entry.csv_line, "\">-79.65\",\"> 29.1\",\">-30.90\""));

  Record(image, 0).RfLevel(0xC000 | 291);
  entry = DecodeAlone(image);
  columns = Columns(entry.list_row);
  EXPECT_EQ(" ", columns[kRfMarker1]);
  EXPECT_EQ(" ", columns[kRfDbm]);
  EXPECT_EQ("", columns[kRfDbuv]);
  EXPECT_EQ(" ", columns[kRfDbmv]);
  EXPECT_NE(nullptr, std::strstr(entry.csv_line, "\"0.00E\",\"  \",\" \",\"  \","));
}

TEST(Decode, StandardsOutsideTheKnownThreeShowAsNumbers) {
  const struct {
    uint8_t standard;
    uint8_t index;
    const char* standard_text;
    const char* code_rate;
  } cases[] = {
      {1, 1, "1", "???"},       {3, 0, "3", "???"},
      {5, 4, "5", "???"},       {255, 0, "255", "???"},
      {0, 7, "DVB-S1", "???"},  {2, 3, "DSS", "QPSK 3/4"},
      {4, 29, "DVB-S2", "???"}, {4, 28, "DVB-S2", "32APSK 9/10"},
  };
  for (const auto& c : cases) {
    LogImage image{};
    Record(image, 0).Standard(c.standard, c.index);
    const auto columns = Columns(DecodeAlone(image).list_row);
    EXPECT_EQ(c.standard_text, columns[kStandard]) << int{c.standard};
    EXPECT_EQ(c.code_rate, columns[kCodeRate]) << int{c.standard} << "/" << int{c.index};
  }
}

TEST(Decode, NamesLongAndShort) {
  LogImage image{};
  // All 16 bytes used: no terminator in the record; the longitude follows.
  Record(image, 0).Name("ABCDEFGHIJKLMNOP").Longitude(1905);
  DecodedEntry entry = DecodeAlone(image);
  EXPECT_STREQ("ABCDEFGHIJKLMNOP", entry.name);
  auto columns = Columns(entry.list_row);
  EXPECT_EQ("ABCDEFGHIJKLMNOP", columns[kName]);
  EXPECT_EQ("19.05E", columns[kLongitude]);

  Record(image, 0).Name("abc");
  entry = DecodeAlone(image);
  EXPECT_EQ(std::string(13, ' ') + "abc", Columns(entry.list_row)[kName]);
  EXPECT_NE(nullptr, std::strstr(entry.csv_line, "\",\"             abc\",\""));

  // Bytes after the first zero are not part of the name.
  Record(image, 0).Name(std::string("ab\0cd", 5));
  EXPECT_STREQ("ab", DecodeAlone(image).name);
}

TEST(Decode, QuoteInTheNameIsDoubledInTheCsvLineOnly) {
  LogImage image{};
  Record(image, 0).Name("SAT \"X\"");
  const DecodedEntry entry = DecodeAlone(image);
  EXPECT_STREQ("SAT \"X\"", entry.name);
  EXPECT_EQ("         SAT \"X\"", Columns(entry.list_row)[kName]);
  EXPECT_NE(nullptr, std::strstr(entry.csv_line, ",\"         SAT \"\"X\"\"\",\"0.00E\","));

  // Sixteen quotes: the field doubles to 32 characters and still fits.
  Record(image, 0).Name(std::string(16, '"'));
  const DecodedEntry quotes = DecodeAlone(image);
  const std::string expected = "\"00000-000\",\"" + std::string(32, '"') + "\",\"0.00E\",";
  EXPECT_EQ(0, std::strncmp(expected.c_str(), quotes.csv_line, expected.size()));
}

TEST(Decode, EightBitNameBytesPassUnchanged) {
  LogImage image{};
  Record(image, 0).Name("T\xE9l\xE9sat\x80\xFF");
  const DecodedEntry entry = DecodeAlone(image);
  EXPECT_EQ("       T\xE9l\xE9sat\x80\xFF", Columns(entry.list_row)[kName]);
  EXPECT_NE(nullptr, std::strstr(entry.csv_line, "\"       T\xE9l\xE9sat\x80\xFF\""));
}

TEST(Decode, IdAndNumberWidths) {
  LogImage image{};
  Record(image, 0)
      .Id(65535, 65535)
      .Longitude(65535)
      .Frequencies(0xFFFFFFFF, 123456)
      .SymbolRates(7, 65535);
  const auto columns = Columns(DecodeAlone(image).list_row);
  EXPECT_EQ("65535-65535", columns[kId]);
  EXPECT_EQ("655.35E", columns[kLongitude]);
  EXPECT_EQ("4294967295", columns[kNominalFrequency]);
  EXPECT_EQ("123456", columns[kMeasuredFrequency]);
  EXPECT_EQ("    7", columns[kNominalSymbolRate]);
  EXPECT_EQ("65535", columns[kMeasuredSymbolRate]);

  LogImage small{};
  Record(small, 0).Id(12, 1234);
  EXPECT_EQ("00012-1234", Columns(DecodeAlone(small).list_row)[kId]);
  Record(small, 0).Id(0, 5);
  EXPECT_EQ("00000-005", Columns(DecodeAlone(small).list_row)[kId]);
}

TEST(Decode, WidestRecordStillFitsItsBuffers) {
  LogImage image{};
  uint8_t* r = RecordAt(image, 0);
  std::memset(r, 0xFF, kRecordSize);
  r[rec::kStatus] = 3;
  r[rec::kFlags] = 0x01;
  std::memset(r + rec::kName, '"', rec::kNameLength);
  r[rec::kQber + 3] = 0x00;  // a value rather than "no value"
  // The longest level texts: ">" with -204.8.
  for (std::size_t at : {rec::kRfLevel, rec::kMer}) {
    r[at] = 0x00;
    r[at + 1] = 0x88;
  }
  const DecodedEntry entry = DecodeAlone(image);
  const std::size_t row = std::strlen(entry.list_row);
  const std::size_t line = std::strlen(entry.csv_line);
  EXPECT_LT(row, 160u);
  EXPECT_LT(line, 220u);
  EXPECT_EQ(kColumnCount, static_cast<int>(Columns(entry.list_row).size()));
  ASSERT_GE(line, 2u);
  EXPECT_EQ('\r', entry.csv_line[line - 2]);
  EXPECT_EQ('\n', entry.csv_line[line - 1]);
}

TEST(CsvHeader, ExactText) {
  EXPECT_STREQ(
      "\"ID\",\"Transponder\",\"Longitude\",\"RF dBm\",\"RF dBuV\",\"RF dBmV\",\"Locked\","
      "\"Pilots\",\"IQ Swap\",\"MER\",\"QBER\",\"Nominal Frequency kHz\",\"Measured Frequency "
      "kHz\",\"Nominal Symbol Rate kBd\",\"Measured Symbol Rate kBd\",\"Standard\",\"Code "
      "Rate\"\r\n",
      kCsvHeader);
}

}  // namespace
}  // namespace sq71
