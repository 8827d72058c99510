#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/progress_bar.h"

namespace sq71 {
namespace {

TEST(QuietFlagScan, SelectedWhereverPlusQStands) {
  EXPECT_EQ(1, ScanQuietFlag("+Q"));
  EXPECT_EQ(1, ScanQuietFlag("file.ulg +Q"));
  EXPECT_EQ(1, ScanQuietFlag("abc+Qdef"));
  EXPECT_EQ(1, ScanQuietFlag("+x +Q"));
}

TEST(QuietFlagScan, NotSelectedByNearMisses) {
  EXPECT_EQ(0, ScanQuietFlag("+q"));
  EXPECT_EQ(0, ScanQuietFlag("+ Q"));
  EXPECT_EQ(0, ScanQuietFlag("++Q"));  // the second '+' is only looked at as a 'Q'
  EXPECT_EQ(0, ScanQuietFlag("+"));
  EXPECT_EQ(0, ScanQuietFlag(""));
  EXPECT_EQ(0, ScanQuietFlag(nullptr));
  EXPECT_EQ(0, ScanQuietFlag("Q+"));
}

TEST(QuietFlagScan, TrailingPlusNeverReadsPastTheText) {
  // The text is followed by a 'Q' in memory beyond its terminator: a scan
  // that stepped past the NUL would find it.
  char buffer[8];
  std::memcpy(buffer, "ab+\0Q+Q", 8);
  EXPECT_EQ(0, ScanQuietFlag(buffer));
  std::memcpy(buffer, "+\0+QQQQ", 8);
  EXPECT_EQ(0, ScanQuietFlag(buffer));
}

TEST(ProgressBar, FillGrowsAcrossTheFrame) {
  EXPECT_EQ(10, ProgressFillRight(0, 1024));
  EXPECT_EQ(112, ProgressFillRight(512, 1024));
  EXPECT_EQ(215, ProgressFillRight(1024, 1024));
  EXPECT_EQ(10, ProgressFillRight(4, 1024));  // 4 * 205 / 1024 truncates to 0
}

}  // namespace
}  // namespace sq71
