#include "protocol/transfer_engine.h"

#include <algorithm>
#include <cstring>

#include "protocol/frame.h"
#include "protocol/open_meter.h"
#include "ui/message_catalogue.h"

namespace sq71 {

void TransferEngine::StopTimer() {
  ui_.KillTransferTimer();
  state_.reading = 0;
}

bool TransferEngine::OpenDevice(UsbDevice* device) {
  // A Read during a download starts it over: the old timer goes first, and
  // the bar area is repainted blank.
  StopTimer();
  ui_.Invalidate(true);
  state_.total = kTransferTotal;
  state_.progress = 0;

  if (device == nullptr) {
    ui_.ShowMessage(kMsgNoMemory, MessageStyle::kError);
    return false;
  }
  switch (OpenMeter(*device, 0)) {
    case OpenOutcome::kPortError:
      ui_.ShowMessage(kMsgUsbPortError, MessageStyle::kError);
      return false;
    case OpenOutcome::kWrongIdentity:
      ui_.ShowMessage(kMsgDeviceRecycling, MessageStyle::kError);
      return false;
    case OpenOutcome::kOpened:
      break;
  }
  return true;
}

void TransferEngine::Arm(UsbDevice* device, int first) {
  ui_.SetViewEnabled(false);
  ui_.RedrawMenuBar();
  view_redrawn_ = false;

  device->SetTimeouts(kTransferTimeoutMs, kTransferTimeoutMs);
  // Nothing is known of what the link holds until the first purge.
  purge_needed_ = true;
  retries_ = 0;
  log_changed_ = false;
  answered_for_ = -1;
  records_stored_ = 0;
  // Only what the resumed log holds counts as there before any reply.
  stored_.fill(false);
  std::fill(stored_.begin(), stored_.begin() + std::max(check_record_ + 1, 0), true);
  state_.next_record = first;
  state_.busy = 0;
  state_.reading = 1;
  ui_.StartTransferTimer();
}

void TransferEngine::StartTransfer(UsbDevice* device) {
  if (!OpenDevice(device)) return;
  // Only now is the download certain to start; until here a failed Read
  // keeps the log the user already has (perhaps unsaved) and its View item.
  image_.fill(0);
  check_record_ = -1;
  Arm(device, 0);
}

void TransferEngine::ResumeTransfer(UsbDevice* device, int from) {
  if (from < 0 || from > kTransferTotal) return;
  if (!OpenDevice(device)) return;
  // What follows the records held comes afresh, as in a full download.
  std::fill(image_.begin() + static_cast<std::ptrdiff_t>(from) * kRecordSize, image_.end(), 0);
  check_record_ = from - 1;
  Arm(device, from > 0 ? from - 1 : 0);
}

void TransferEngine::TransferTick(UsbDevice* device) {
  if (state_.reading == 0 || state_.busy == 1) return;
  if (device == nullptr) {
    StopTimer();
    return;
  }
  state_.busy = 1;
  const auto slice_end = std::chrono::steady_clock::now() + slice_;
  while (FetchRecord(device) && !ui_.InputPending() &&
         std::chrono::steady_clock::now() < slice_end) {
  }
  state_.busy = 0;
  if (state_.reading == 0) {
    ui_.Invalidate(false);
    device->Close();
  }
}

bool TransferEngine::PurgeNeeded(UsbDevice* device) {
  if (policy_.purge_every_request || purge_needed_) return true;
  // Stray bytes would be taken for the start of the reply. A driver that
  // cannot tell is purged as always.
  uint32_t queued = 0;
  return device->GetQueueStatus(&queued) != FT_OK || queued > 0;
}

ReadReplyVerdict TransferEngine::Exchange(UsbDevice* device, int record, uint8_t* reply,
                                          int* number) {
  uint8_t request[kReadRequestSize];
  BuildReadRequest(record, request);
  if (PurgeNeeded(device)) {
    device->PurgeReceive();
    device->PurgeTransmit();
  }
  purge_needed_ = false;
  // A failed write shows as a missing reply; it is not judged by itself.
  device->Write(request, kReadRequestSize);

  state_.progress = record;
  // No erase: the growing bar is drawn over itself without flicker.
  ui_.Invalidate(false);

  // Zeroed so that a read which delivers nothing can never pass as ACK.
  std::memset(reply, 0, kReadReplySize);
  const FT_STATUS status = device->Read(reply, kReadReplySize);
  ReadReplyVerdict verdict = TestReadReply(status, device->bytes_read(), reply, number);
  answered_for_ = -1;
  if (verdict == ReadReplyVerdict::kGood && policy_.check_record_number && *number != record) {
    // An answer to another request (one that came too late for its own
    // read): what follows it in the queue belongs to this one.
    answered_for_ = *number;
    verdict = ReadReplyVerdict::kInvalidRecord;
  }
  // Whatever is left of a bad reply must not open the next one.
  if (verdict != ReadReplyVerdict::kGood) purge_needed_ = true;
  return verdict;
}

ReadReplyVerdict TransferEngine::Confirm(UsbDevice* device, uint8_t* reply, int* number) {
  uint8_t again[kReadReplySize];
  for (int asked = 0; asked < 2; ++asked) {
    int again_number = 0;
    const ReadReplyVerdict verdict = Exchange(device, state_.next_record, again, &again_number);
    if (verdict != ReadReplyVerdict::kGood) return verdict;
    if (std::memcmp(again, reply, kReadReplySize) == 0) return verdict;
    std::memcpy(reply, again, kReadReplySize);
    *number = again_number;
  }
  // Three replies, no two alike in a row: the bytes cannot be trusted.
  purge_needed_ = true;
  return ReadReplyVerdict::kChecksumFailure;
}

bool TransferEngine::FetchRecord(UsbDevice* device) {
  bool failed = false;
  if (state_.next_record < state_.total) {
    uint8_t reply[kReadReplySize];
    int number = 0;
    ReadReplyVerdict verdict = Exchange(device, state_.next_record, reply, &number);
    const bool glitched = verdict != ReadReplyVerdict::kGood;
    // A glitch on the line passes; a driver that fails (the device is gone)
    // does not.
    for (int left = policy_.retries;
         verdict != ReadReplyVerdict::kGood && left > 0 && device->last_status() == FT_OK &&
         !ui_.StopWanted();
         --left) {
      ++retries_;
      verdict = Exchange(device, state_.next_record, reply, &number);
    }
    if (verdict == ReadReplyVerdict::kGood && glitched && policy_.confirm_after_failure) {
      verdict = Confirm(device, reply, &number);
    }
    if (verdict == ReadReplyVerdict::kGood && state_.next_record == check_record_) {
      check_record_ = -1;
      if (number != state_.next_record ||
          std::memcmp(RecordAt(image_, number), reply + 7, kRecordSize) != 0) {
        log_changed_ = true;
        state_.reading = 0;
        ui_.KillTransferTimer();
        ui_.Invalidate(true);
        return false;
      }
    }
    if (verdict != ReadReplyVerdict::kGood) {
      const int message = verdict == ReadReplyVerdict::kNoHandshake       ? kMsgHandshake
                          : verdict == ReadReplyVerdict::kChecksumFailure ? kMsgChecksumError
                                                                          : kMsgInvalidLogEntry;
      // The box runs a nested message loop; the busy flag keeps the ticks
      // it delivers from starting another exchange.
      // Records are asked for in order, so this one and all after it never
      // came: without the marker their zeros would read as entries.
      MarkLogEnd(image_, KeptEnd());
      ui_.ShowMessage(message, MessageStyle::kError);
      state_.reading = 0;
      ui_.KillTransferTimer();
      ui_.Invalidate(true);
      failed = true;
    } else {
      // The reply, not the request, names the record.
      uint8_t* record = RecordAt(image_, number);
      std::memcpy(record, reply + 7, kRecordSize);
      stored_[static_cast<std::size_t>(number)] = true;
      ++records_stored_;
      if (record[rec::kStatus] == kEndMarker) {
        // Nothing follows the end marker: complete on this tick.
        state_.next_record = state_.total - 1;
      } else {
        ui_.SetViewEnabled(true);
        // Once per download is enough to show the change on the menu bar.
        if (!view_redrawn_) ui_.RedrawMenuBar();
        view_redrawn_ = true;
      }
    }
  }

  if (!failed) {
    ++state_.next_record;
    if (state_.next_record == state_.total) {
      // The box is shown over a full bar; the timer runs on meanwhile, and
      // the busy flag turns its ticks away.
      state_.progress = state_.total;
      ui_.Invalidate(true);
      ui_.ShowMessage(kMsgTransferComplete, MessageStyle::kInformation);
      state_.reading = 0;
      ui_.KillTransferTimer();
      ui_.Invalidate(true);
    }
  }
  return state_.reading != 0;
}

void TransferEngine::StopForLoad(UsbDevice* device) {
  if (state_.reading == 0) return;
  StopTimer();
  ui_.Invalidate(true);
  if (device != nullptr) device->Close();
}

int TransferEngine::KeptEnd() const {
  // Before its check a resumed download is still on the held records' last.
  return check_record_ >= 0 ? std::max(state_.next_record, check_record_ + 1)
                            : state_.next_record;
}

void TransferEngine::StopEarly(UsbDevice* device) {
  if (state_.reading == 0) return;
  StopTimer();
  MarkLogEnd(image_, KeptEnd());
  ui_.Invalidate(true);
  if (device != nullptr) device->Close();
}

}  // namespace sq71
