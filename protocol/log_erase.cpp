#include "protocol/log_erase.h"

#include "protocol/frame.h"
#include "protocol/open_meter.h"
#include "ui/message_catalogue.h"

namespace sq71 {

EraseOutcome EraseLogCommand(UsbDevice* device, Messages& ui, TransferEngine* download) {
  // No, Cancel and closing the box all leave the meter alone.
  if (ui.AskQuestion(kMsgConfirmErase) != kAnswerYes) return EraseOutcome::kDeclined;
  if (download != nullptr) download->StopEarly(device);
  return EraseMeterLog(device, ui);
}

EraseOutcome EraseMeterLog(UsbDevice* device, Messages& ui) {
  if (ui.StopWanted()) return EraseOutcome::kStopped;
  if (device == nullptr) {
    ui.ShowMessage(kMsgNoMemory, MessageStyle::kError);
    return EraseOutcome::kNotSent;
  }
  switch (OpenMeter(*device, 0)) {
    case OpenOutcome::kPortError:
      ui.ShowMessage(kMsgUsbPortError, MessageStyle::kError);
      return EraseOutcome::kNotSent;
    case OpenOutcome::kWrongIdentity:
      ui.ShowMessage(kMsgDeviceRecycling, MessageStyle::kError);
      return EraseOutcome::kNotSent;
    case OpenOutcome::kOpened:
      break;
  }
  // Only the receive side is purged: nothing of ours is waiting to go out.
  device->PurgeReceive();
  device->SetTimeouts(kEraseTimeoutMs, kEraseTimeoutMs);

  uint8_t request[kEraseRequestSize];
  BuildEraseRequest(request);
  // The last moment to stop with the meter's log untouched: the open took a
  // while (the EEPROM alone is 64 requests).
  if (ui.StopWanted()) {
    device->Close();
    return EraseOutcome::kStopped;
  }
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
  return EraseOutcome::kSent;
}

}  // namespace sq71
