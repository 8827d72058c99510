#include "protocol/log_erase.h"

#include "protocol/frame.h"
#include "protocol/open_meter.h"
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
  switch (OpenMeter(*device, 0)) {
    case OpenOutcome::kPortError:
      ui.ShowMessage(kMsgUsbPortError, MessageStyle::kError);
      return;
    case OpenOutcome::kWrongIdentity:
      ui.ShowMessage(kMsgDeviceRecycling, MessageStyle::kError);
      return;
    case OpenOutcome::kOpened:
      break;
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
