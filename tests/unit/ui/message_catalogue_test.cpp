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

TEST(MessageCatalogue, TextsAsTheUserSeesThem) {
  EXPECT_STREQ("Error - Handshake not received", MessageText(kMsgHandshake));
  EXPECT_STREQ("Transfer Complete!", MessageText(kMsgTransferComplete));
  EXPECT_STREQ("Warning, can't load USB driver (ftd2xx.dll)", MessageText(kMsgNoDriver));
  EXPECT_STREQ("USB Port Error", MessageText(kMsgUsbPortError));
  EXPECT_STREQ("Confirm file overwrite?", MessageText(kMsgConfirmOverwrite));
  EXPECT_STREQ("Error - Invalid data file", MessageText(kMsgInvalidDataFile));
  EXPECT_STREQ("Can't save program image", MessageText(kMsgCantSaveImage));
  EXPECT_STREQ("Can't read system registry, COM setting will not be saved",
               MessageText(kMsgRegistry));
  EXPECT_STREQ("Checksum error", MessageText(kMsgChecksumError));
  EXPECT_STREQ("Please confirm that you wish to erase the meter log data?",
               MessageText(kMsgConfirmErase));
  EXPECT_STREQ("Meter log data erased", MessageText(kMsgLogErased));
  EXPECT_STREQ("Invalid log entry", MessageText(kMsgInvalidLogEntry));
  EXPECT_STREQ("No logging data present", MessageText(kMsgNoLogData));
  EXPECT_STREQ("About...", MessageText(kMsgAboutTitle));
  EXPECT_STREQ("Enter Filename", MessageText(kMsgEnterFilename));
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
