#include "log/log_image.h"

#include <gtest/gtest.h>

#include <vector>

namespace sq71 {
namespace {

class ViewRecorder : public ViewItem {
 public:
  void SetViewEnabled(bool enabled) override { calls.push_back(enabled); }
  void RedrawMenuBar() override { ++redraws; }
  std::vector<bool> calls;
  int redraws = 0;
};

TEST(EntryCount, ZeroImageHasNoEndMarkerSoAllRecordsCount) {
  LogImage image{};
  ViewRecorder view;
  EXPECT_EQ(1024, EntryCount(image, &view));
  EXPECT_TRUE(view.calls.empty());
}

TEST(EntryCount, StopsAtTheFirstEndMarker) {
  for (int k : {0, 10, 1023}) {
    LogImage image{};
    RecordAt(image, k)[rec::kStatus] = kEndMarker;
    if (k + 5 < kRecordCount) RecordAt(image, k + 5)[rec::kStatus] = kEndMarker;
    EXPECT_EQ(k, EntryCount(image, nullptr)) << "marker at " << k;
  }
}

TEST(EntryCount, InvalidStatusBeforeTheMarkerStillCounts) {
  LogImage image{};
  RecordAt(image, 5)[rec::kStatus] = 7;
  RecordAt(image, 10)[rec::kStatus] = kEndMarker;
  EXPECT_EQ(10, EntryCount(image, nullptr));
}

TEST(EntryCount, GreysViewOnlyWhenThereAreNoEntries) {
  LogImage image{};
  RecordAt(image, 0)[rec::kStatus] = kEndMarker;
  ViewRecorder view;
  EXPECT_EQ(0, EntryCount(image, &view));
  ASSERT_EQ(1u, view.calls.size());
  EXPECT_FALSE(view.calls[0]);
  EXPECT_EQ(0, view.redraws);  // the menu bar is not redrawn

  RecordAt(image, 0)[rec::kStatus] = 0;
  RecordAt(image, 1)[rec::kStatus] = kEndMarker;
  ViewRecorder untouched;
  EXPECT_EQ(1, EntryCount(image, &untouched));
  EXPECT_TRUE(untouched.calls.empty());
}

TEST(MarkLogEnd, WritesAWholeMarkerRecordOnlyInsideTheImage) {
  LogImage image{};
  image.fill(0x5A);
  const LogImage untouched = image;
  MarkLogEnd(image, kRecordCount);
  MarkLogEnd(image, -1);
  EXPECT_EQ(untouched, image) << "no record there, nothing written";

  MarkLogEnd(image, 7);
  EXPECT_EQ(7, EntryCount(image, nullptr));
  for (std::size_t i = 0; i < kLogImageSize; ++i) {
    const bool in_marker = i >= 7 * kRecordSize && i < 8 * kRecordSize;
    ASSERT_EQ(in_marker ? kEndMarker : 0x5A, image[i]) << "byte " << i;
  }
}

TEST(LogRecordLayout, LittleEndianReaders) {
  const uint8_t bytes[4] = {0x34, 0x12, 0xCD, 0xAB};
  EXPECT_EQ(0x1234u, ReadLe16(bytes));
  EXPECT_EQ(0xABCD1234u, ReadLe32(bytes));
  EXPECT_EQ(65536u, kLogImageSize);
}

}  // namespace
}  // namespace sq71
