#include "protocol/log_erase.h"

#include "protocol/frame.h"
#include "ui/message_catalogue.h"

namespace sq71 {

void EraseLogCommand(UsbDevice* device, Messages& ui, TransferEngine* download) {
  // No, Cancel and closing the box all leave the meter alone.
  if (ui.AskQuestion(kMsgConfirmErase) != kAnswerYes) return;
  if (download != nullptr) download->StopEarly(device);
  EraseMeterLog(device, ui);
}

void EraseMeterLog(UsbDevice* device, Messages& ui) {
  if (device == nullptr) {
    ui.ShowMessage(kMsgNoMemory, MessageStyle::kError);
    return;
  }
  device->Close();
  if (device->Configure(0, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE) != FT_OK) {
    // The open may have worked and a later setting failed.
    device->Close();
    ui.ShowMessage(kMsgUsbPortError, MessageStyle::kError);
    return;
  }
  // Best effort: a driver that refuses is only slower.
  device->SetLatencyTimer(kLatencyTimerMs);
  device->CheckEepromIdentity();
  if (device->identity_changed()) {
    device->Close();
    ui.ShowMessage(kMsgDeviceRecycling, MessageStyle::kError);
    return;
  }
  // Only the receive side is purged: nothing of ours is waiting to go out.
  device->PurgeReceive();
  device->SetTimeouts(kEraseTimeoutMs, kEraseTimeoutMs);

  uint8_t request[kEraseRequestSize];
  BuildEraseRequest(request);
  // A failed write shows as a missing ACK; it is not judged by itself.
  device->Write(request, kEraseRequestSize);

  uint8_t reply = 0;
  const FT_STATUS status = device->Read(&reply, 1);
  const bool acked = TestEraseReply(status, device->bytes_read(), reply);
  // Closed before the box: a device held open would keep the device listing
  // (Version) from opening the meter until the next Read.
  device->Close();
  if (acked) {
    ui.ShowMessage(kMsgLogErased, MessageStyle::kInformation);
  } else {
    ui.ShowMessage(kMsgHandshake, MessageStyle::kError);
  }
}

}  // namespace sq71
