#include "app/meter_commands_win32.h"

#include "app/app_state_win32.h"
#include "app/device_list_dialog_win32.h"
#include "app/main_window_ui_win32.h"
#include "protocol/log_erase.h"

namespace sq71 {

TransferEngine& Engine() {
  static TransferEngine engine(g_transfer, g_log_image, MainUi());
  return engine;
}

void RunReadCommand() {
  g_log_name[0] = '\0';
  Engine().StartTransfer(g_device);
}

void RunEraseLogCommand() { EraseLogCommand(g_device, MainUi(), &Engine()); }

void RunVersionCommand(HWND main) {
  if (g_driver != nullptr) ShowDeviceList(g_instance, main, *g_driver);
}

void RunTransferTick() { Engine().TransferTick(g_device); }

}  // namespace sq71
