#include "report/margins.h"

#include <gtest/gtest.h>

#include <vector>

#include "log/record_builder.h"
#include "report/report_entries.h"

namespace sq71 {
namespace {

using test::Record;

constexpr uint16_t kBelow = 0x4000, kAbove = 0x8000, kNoValue = 0xC000;

struct Case {
  uint8_t standard, code_rate, flags;
  uint16_t mer;
  bool has_required;
  int required;
  bool has_margin;
  int margin;
  char marker;
  Verdict verdict;
};

// Worked by hand from the tables: margin = MER - required Es/N0.
const Case kCases[] = {
    {4, 7, 1, 128, true, 403, true, 877, ' ', Verdict::kGood},             // QPSK 3/4
    {4, 28, 1, 160, true, 1605, true, -5, ' ', Verdict::kPoor},            // 32APSK 9/10
    {4, 1, 1, 0xFF6, true, -235, true, 135, ' ', Verdict::kMarginal},      // QPSK 1/4, MER -1.0
    {4, 16, 1, kBelow | 20, true, 1069, true, -869, '<', Verdict::kPoor},  // 8PSK 8/9
    {4, 21, 1, 146, true, 1161, true, 299, ' ', Verdict::kMarginal},       // 16APSK 5/6
    {0, 6, 1, 95, true, 848, true, 102, ' ', Verdict::kMarginal},          // DVB-S 7/8
    {0, 1, 1, kAbove | 200, true, 415, true, 1585, '>', Verdict::kGood},   // DVB-S 1/2
    {0, 3, 3, 991, true, 691, true, 9219, ' ', Verdict::kGood},            // DVB-S 3/4
    {0, 2, 1, kNoValue, true, 589, false, 0, ' ', Verdict::kNoReference},  // no MER value
    {0, 4, 0, 120, false, 0, false, 0, ' ', Verdict::kNoLock},             // not locked
    {0, 5, 1, 120, false, 0, false, 0, ' ', Verdict::kNoReference},        // DVB-S 6/7
    {2, 2, 1, 120, false, 0, false, 0, ' ', Verdict::kNoReference},        // DSS
    {4, 0, 1, 120, false, 0, false, 0, ' ', Verdict::kNoReference},        // ANY
    {4, 29, 1, 120, false, 0, false, 0, ' ', Verdict::kNoReference},       // ???
    // Bounds: a verdict only where every value the bound allows gets it.
    {4, 4, 1, kBelow | 20, true, 100, true, 100, '<', Verdict::kPoor},      // QPSK 1/2 <2.0
    {4, 1, 1, kBelow | 30, true, -235, true, 535, '<', Verdict::kUncertain},  // QPSK 1/4 <3.0
    {4, 4, 1, kAbove | 40, true, 100, true, 300, '>', Verdict::kGood},      // QPSK 1/2 >4.0
    {4, 4, 1, kAbove | 39, true, 100, true, 290, '>', Verdict::kUncertain},  // QPSK 1/2 >3.9
};

std::vector<ReportEntry> Collect(const Thresholds& thresholds) {
  LogImage image{};
  int n = 0;
  for (const Case& c : kCases) {
    Record(image, n)
        .Id(1, static_cast<uint16_t>(n + 1))
        .Flags(c.flags)
        .Mer(c.mer)
        .Standard(c.standard, c.code_rate);
    ++n;
  }
  MarkLogEnd(image, n);
  RecordDecoder decoder;
  return CollectEntries(image, n, &decoder, thresholds);
}

TEST(MarginsTest, RequiredEsN0MarginAndVerdictAsWorkedByHand) {
  const std::vector<ReportEntry> entries = Collect(Thresholds());
  ASSERT_EQ(entries.size(), std::size(kCases));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Case& c = kCases[i];
    const LinkMargin& m = entries[i].margin;
    SCOPED_TRACE(entries[i].texts.standard + " " + entries[i].texts.code_rate);
    EXPECT_EQ(m.has_required, c.has_required);
    if (c.has_required) {
      EXPECT_EQ(m.required, c.required);
    }
    EXPECT_EQ(m.has_margin, c.has_margin);
    if (c.has_margin) {
      EXPECT_EQ(m.margin, c.margin);
      EXPECT_EQ(m.marker, c.marker);
    }
    EXPECT_STREQ(VerdictWord(m.verdict), VerdictWord(c.verdict));
  }
}

TEST(MarginsTest, ThresholdsMoveTheVerdicts) {
  // 8.77, -0.05, 1.35 and -8.69 dB against good from 1.35, marginal from -0.05.
  const std::vector<ReportEntry> entries = Collect({135, -5});
  EXPECT_EQ(entries[0].margin.verdict, Verdict::kGood);
  EXPECT_EQ(entries[1].margin.verdict, Verdict::kMarginal);
  EXPECT_EQ(entries[2].margin.verdict, Verdict::kGood);
  EXPECT_EQ(entries[3].margin.verdict, Verdict::kPoor);
}

}  // namespace
}  // namespace sq71
