#include "app/app_state_win32.h"

#include "resources/strings.h"

namespace sq71 {

LogImage g_log_image{};
int g_quiet = 0;
char g_caption[kCaptionSize] = TXT_CAPTION_DEFAULT;
char g_class_name[kCaptionSize] = TXT_CAPTION;
HINSTANCE g_instance = nullptr;
HWND g_main_window = nullptr;
Driver* g_driver = nullptr;
UsbDevice* g_device = nullptr;
TransferState g_transfer;
RecordDecoder g_decoder;
char g_log_name[kLogNameSize] = "";

}  // namespace sq71
