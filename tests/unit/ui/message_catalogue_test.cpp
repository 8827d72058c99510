#include "ui/message_catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "ui/ui.h"

namespace sq71 {
namespace {

TEST(MessageCatalogue, HoldsTheTwentySevenStringIdsInCatalogueOrder) {
  const int expected_ids[kMessageCount] = {110, 112, 124, 128, 130, 142, 146, 152, 168,
                                           214, 216, 218, 220, 222, 236, 138, 148, 150,
                                           156, 132, 144, 120, 223, 224, 225, 226, 227};
  std::set<int> distinct;
  for (int i = 0; i < kMessageCount; ++i) {
    EXPECT_EQ(expected_ids[i], CatalogueLookup(i).string_id) << "message " << i;
    distinct.insert(CatalogueLookup(i).string_id);
  }
  EXPECT_EQ(27u, distinct.size());
}

TEST(MessageCatalogue, EveryTextAsTheUserSeesIt) {
  // Written out here rather than taken from the string header, so a slip in
  // that header cannot pass by comparing it with itself.
  const char* const expected[kMessageCount] = {
      "Error - Ack not received",
      "Error: Not enough memory to create ComAccess object!",
      "Error - Handshake not received",
      "Transfer Complete!",
      "Invalid binary file",
      "Can't load program image",
      "About...",
      "Cancel",
      "Warning, can't load USB driver (ftd2xx.dll)",
      "USB Devices",
      "USB Port Error",
      "You must install the USB driver first!",
      "The device has been upgraded and is recycling. You may need to disconnect then reconnect "
      "the USB lead.",
      "No devices found",
      nullptr,  // its string id names no string
      "File loaded successfully",
      "Enter Filename",
      "Enter file and path",
      "Confirm file overwrite?",
      "Error - Invalid data file",
      "Can't save program image",
      "Can't read system registry, COM setting will not be saved",
      "Checksum error",
      "Please confirm that you wish to erase the meter log data?",
      "Meter log data erased",
      "Invalid log entry",
      "No logging data present",
  };
  for (int i = 0; i < kMessageCount; ++i) {
    const char* text = CatalogueLookup(i).text;
    if (expected[i] == nullptr) {
      EXPECT_EQ(nullptr, text) << "message " << i;
    } else {
      ASSERT_NE(nullptr, text) << "message " << i;
      EXPECT_STREQ(expected[i], text) << "message " << i;
    }
  }
}

TEST(MessageCatalogue, MessageFourteenHasNoText) {
  EXPECT_EQ(nullptr, CatalogueLookup(kMsgMissing).text);
  char buffer[kMessageBufferSize];
  buffer[0] = 'x';
  EXPECT_EQ(0, CopyMessageText(kMsgMissing, buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);
  for (int i = 0; i < kMessageCount; ++i) {
    if (i != kMsgMissing) {
      EXPECT_GT(std::strlen(MessageText(i)), 0u) << "message " << i;
    }
  }
}

TEST(MessageCatalogue, LongestTextFitsTheMessageBufferWhole) {
  const std::string twelve = MessageText(kMsgDeviceRecycling);
  EXPECT_EQ(
      "The device has been upgraded and is recycling. You may need to disconnect then "
      "reconnect the USB lead.",
      twelve);
  char buffer[kMessageBufferSize];
  EXPECT_EQ(static_cast<int>(twelve.size()),
            CopyMessageText(kMsgDeviceRecycling, buffer, sizeof buffer));
  EXPECT_EQ(twelve, buffer);
}

TEST(MessageCatalogue, CopyCutsToTheBufferLikeLoadString) {
  char buffer[6];
  EXPECT_EQ(5, CopyMessageText(kMsgUsbPortError, buffer, sizeof buffer));
  EXPECT_STREQ("USB P", buffer);
}

TEST(MessageStyles, CarryTheExactWin32Flags) {
  EXPECT_EQ(0x2010u, static_cast<uint32_t>(MessageStyle::kError));
  EXPECT_EQ(0x2040u, static_cast<uint32_t>(MessageStyle::kInformation));
  EXPECT_EQ(0x2023u, static_cast<uint32_t>(MessageStyle::kQuestion));
}

}  // namespace
}  // namespace sq71
