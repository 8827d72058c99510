// The message catalogue: message numbers 0 to 26 and the string ids and texts
// behind them.
#ifndef SQ71_UI_MESSAGE_CATALOGUE_H
#define SQ71_UI_MESSAGE_CATALOGUE_H

#include <cstddef>

namespace sq71 {

// Message numbers used by the code.
enum Message : int {
  kMsgAckNotReceived = 0,
  kMsgNoMemory = 1,
  kMsgHandshake = 2,
  kMsgTransferComplete = 3,
  kMsgInvalidBinaryFile = 4,
  kMsgCantLoadImage = 5,
  kMsgAboutTitle = 6,
  kMsgCancel = 7,
  kMsgNoDriver = 8,
  kMsgUsbDevices = 9,
  kMsgUsbPortError = 10,
  kMsgInstallDriver = 11,
  kMsgDeviceRecycling = 12,
  kMsgNoDevices = 13,
  kMsgMissing = 14,
  kMsgFileLoaded = 15,
  kMsgEnterFilename = 16,
  kMsgEnterFileAndPath = 17,
  kMsgConfirmOverwrite = 18,
  kMsgInvalidDataFile = 19,
  kMsgCantSaveImage = 20,
  kMsgRegistry = 21,
  kMsgChecksumError = 22,
  kMsgConfirmErase = 23,
  kMsgLogErased = 24,
  kMsgInvalidLogEntry = 25,
  kMsgNoLogData = 26,
};

constexpr int kMessageCount = 27;
// Every message text is loaded into a buffer of this many characters.
constexpr std::size_t kMessageBufferSize = 512;

struct CatalogueEntry {
  int string_id;
  const char* text;  // null for a string id the string table does not hold
};

// The catalogue entry of a message number (0 to 26).
const CatalogueEntry& CatalogueLookup(int number);

// The text of a message number, or "" when its string does not exist.
const char* MessageText(int number);

// Copies a message text into a caller's buffer the way LoadStringA does:
// cut to size - 1 characters and terminated; returns the characters copied.
int CopyMessageText(int number, char* buffer, int size);

}  // namespace sq71

#endif
