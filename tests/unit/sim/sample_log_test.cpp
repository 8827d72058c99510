#include "sim/sample_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>

namespace sq71::sim {
namespace {

TEST(SampleLog, CheckedInFileIsTheGeneratedLog) {
  const std::string path = std::string(SQ71_TEST_DATA_DIR) + "/sample.ulg";
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, f) << path;
  LogImage file{};
  const std::size_t got = std::fread(file.data(), 1, file.size(), f);
  const bool longer = std::fgetc(f) != EOF;
  std::fclose(f);
  EXPECT_EQ(kLogImageSize, got);
  EXPECT_FALSE(longer);
  EXPECT_TRUE(file == MakeSampleLog()) << "regenerate with make_sample_log data/sample.ulg";
}

TEST(SampleLog, EntriesThenEndMarkerThenZeros) {
  const LogImage log = MakeSampleLog();
  EXPECT_EQ(kSampleEntryCount, EntryCount(log, nullptr));
  const uint8_t* marker = RecordAt(log, kSampleEntryCount);
  for (std::size_t i = 0; i < kRecordSize; ++i) EXPECT_EQ(0xFF, marker[i]);
  for (int r = kSampleEntryCount + 1; r < kRecordCount; ++r) {
    const uint8_t* rec = RecordAt(log, r);
    for (std::size_t i = 0; i < kRecordSize; ++i) ASSERT_EQ(0, rec[i]) << r;
  }
}

// The decoder ends a pass at a record that repeats record 0's ID, and the
// CSV and view tests want every kind of field to show up.
TEST(SampleLog, CoversWhatTheDecoderShows) {
  const LogImage log = MakeSampleLog();
  std::set<std::pair<int, int>> ids;
  std::set<int> standards;
  bool name16 = false, below = false, above = false, no_level = false, unlocked = false,
       pilots = false, iq_swap = false, qber_below = false, qber_zero = false;
  for (int r = 0; r < kSampleEntryCount; ++r) {
    const uint8_t* rec = RecordAt(log, r);
    EXPECT_LE(rec[rec::kStatus], 3) << r;
    ids.insert({ReadLe16(rec + rec::kIdMajor), ReadLe16(rec + rec::kIdMinor)});
    name16 |= std::memchr(rec + rec::kName, 0, rec::kNameLength) == nullptr;
    const uint16_t rf = ReadLe16(rec + rec::kRfLevel);
    below |= (rf & 0xC000) == 0x4000;
    above |= (rf & 0xC000) == 0x8000;
    no_level |= (rf & 0xC000) == 0xC000;
    const uint8_t flags = rec[rec::kFlags];
    unlocked |= (flags & 1) == 0;
    pilots |= (flags & 2) != 0;
    iq_swap |= (flags & 4) != 0;
    const uint32_t qber = ReadLe32(rec + rec::kQber);
    if ((flags & 1) != 0) {
      qber_below |= (qber >> 30) == 1;
      qber_zero |= qber == 0;
    }
    standards.insert(rec[rec::kStandard]);
    const uint32_t nominal = ReadLe32(rec + rec::kNominalFrequency);
    EXPECT_GE(nominal, 10700000u) << r;  // Ku band downlinks, in kHz
    EXPECT_LE(nominal, 12750000u) << r;
  }
  EXPECT_EQ(static_cast<std::size_t>(kSampleEntryCount), ids.size());
  EXPECT_TRUE(name16 && below && above && no_level && unlocked && pilots && iq_swap && qber_below &&
              qber_zero);
  EXPECT_TRUE(standards.count(0) && standards.count(4));
}

TEST(SampleLog, EmptyLogHasTheEndMarkerFirst) {
  const LogImage log = MakeEmptyLog();
  EXPECT_EQ(0, EntryCount(log, nullptr));
  EXPECT_EQ(0, RecordAt(log, 1)[0]);
}

}  // namespace
}  // namespace sq71::sim
