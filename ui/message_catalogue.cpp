#include "ui/message_catalogue.h"

#include <cstring>

#include "resources/strings.h"

namespace sq71 {
namespace {

// Indexed by message number; the order is the catalogue's own, not the order
// of the string ids.
constexpr CatalogueEntry kCatalogue[kMessageCount] = {
    {IDS_ACK_NOT_RECEIVED, TXT_ACK_NOT_RECEIVED},
    {IDS_NO_MEMORY, TXT_NO_MEMORY},
    {IDS_HANDSHAKE, TXT_HANDSHAKE},
    {IDS_TRANSFER_COMPLETE, TXT_TRANSFER_COMPLETE},
    {IDS_INVALID_BINARY_FILE, TXT_INVALID_BINARY_FILE},
    {IDS_CANT_LOAD_IMAGE, TXT_CANT_LOAD_IMAGE},
    {IDS_ABOUT_TITLE, TXT_ABOUT_TITLE},
    {IDS_CANCEL, TXT_CANCEL},
    {IDS_NO_DRIVER, TXT_NO_DRIVER},
    {IDS_USB_DEVICES, TXT_USB_DEVICES},
    {IDS_USB_PORT_ERROR, TXT_USB_PORT_ERROR},
    {IDS_INSTALL_DRIVER, TXT_INSTALL_DRIVER},
    {IDS_DEVICE_RECYCLING, TXT_DEVICE_RECYCLING},
    {IDS_NO_DEVICES, TXT_NO_DEVICES},
    {IDS_MISSING, nullptr},
    {IDS_FILE_LOADED, TXT_FILE_LOADED},
    {IDS_ENTER_FILENAME, TXT_ENTER_FILENAME},
    {IDS_ENTER_FILE_AND_PATH, TXT_ENTER_FILE_AND_PATH},
    {IDS_CONFIRM_OVERWRITE, TXT_CONFIRM_OVERWRITE},
    {IDS_INVALID_DATA_FILE, TXT_INVALID_DATA_FILE},
    {IDS_CANT_SAVE_IMAGE, TXT_CANT_SAVE_IMAGE},
    {IDS_REGISTRY, TXT_REGISTRY},
    {IDS_CHECKSUM_ERROR, TXT_CHECKSUM_ERROR},
    {IDS_CONFIRM_ERASE, TXT_CONFIRM_ERASE},
    {IDS_LOG_ERASED, TXT_LOG_ERASED},
    {IDS_INVALID_LOG_ENTRY, TXT_INVALID_LOG_ENTRY},
    {IDS_NO_LOG_DATA, TXT_NO_LOG_DATA},
};

}  // namespace

const CatalogueEntry& CatalogueLookup(int number) { return kCatalogue[number]; }

const char* MessageText(int number) {
  const char* text = kCatalogue[number].text;
  return text != nullptr ? text : "";
}

int CopyMessageText(int number, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  const char* text = MessageText(number);
  std::size_t n = std::strlen(text);
  if (n > static_cast<std::size_t>(size - 1)) n = static_cast<std::size_t>(size - 1);
  std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

}  // namespace sq71
