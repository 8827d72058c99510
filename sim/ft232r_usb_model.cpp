#include "sim/ft232r_usb_model.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "sim/precise_sleep.h"

namespace sq71::sim {

namespace fr = ft232r;
using fr::UsbStatus;

std::string Describe(const SeenRequest& r) {
  char text[32];
  std::snprintf(text, sizeof text, "%02X %02X %04X %04X", r.request_type, r.request, r.value,
                r.index);
  return text;
}

Ft232rUsbModel::Ft232rUsbModel(MeterConfig meter, UsbModelTiming timing)
    : meter_(std::move(meter)),
      eeprom_(MakeFt232rEepromImage(meter_.config().eeprom)),
      config_(timing),
      timing_(timing.wire) {
  timing_.Open(0, timing.latency_ms);
}

bool Ft232rUsbModel::Control(Nanos now, const fr::ControlRequest& r, std::vector<uint8_t>* in,
                             Nanos* done) {
  requests_.push_back({r.request_type, r.request, r.value, r.index});
  in->clear();
  Nanos finished = timing_.Control(now);
  bool ok = true;
  if (r.request_type == fr::kVendorOut) {
    switch (r.request) {
      case fr::kRequestReset:
        if (r.value == fr::kResetChip) {
          // The line back to its power-on state; nothing received survives.
          baud_ = 9600;
          line_ = 0x0008;
          finished = timing_.Open(now, timing_.latency_ms());
        } else if (r.value == fr::kPurgeReceive) {
          finished = timing_.PurgeReceive(now);
        } else if (r.value != fr::kPurgeTransmit) {
          ok = false;
        }
        // Requests leave the chip as they come, so a transmit purge finds
        // nothing to drop.
        break;
      case fr::kRequestModemControl:
        // The high byte says which lines the low byte sets.
        if ((r.value & 0x0100) != 0) dtr_ = (r.value & 0x01) != 0;
        break;
      case fr::kRequestFlowControl:
        break;
      case fr::kRequestBaudRate:
        baud_ = fr::BaudFromDivisor(r.value, r.index);
        break;
      case fr::kRequestData:
        line_ = r.value;
        break;
      case fr::kRequestSetLatency:
        // The chip takes 1 to 255; 0 it refuses.
        if ((r.value & 0xFF) == 0) {
          ok = false;
        } else {
          finished = timing_.SetLatency(now, r.value & 0xFF);
        }
        break;
      default:
        ok = false;
    }
  } else if (r.request_type == fr::kVendorIn && r.request == fr::kRequestGetLatency) {
    in->push_back(static_cast<uint8_t>(timing_.latency_ms()));
  } else if (r.request_type == fr::kVendorIn && r.request == fr::kRequestReadEeprom &&
             !meter_.config().eeprom_read_fails) {
    // The 64 words repeat through the addresses above them.
    const std::size_t at = (r.index % fr::kEepromWords) * 2u;
    ++eeprom_word_reads_;
    in->assign({eeprom_[at], eeprom_[at + 1]});
  } else {
    ok = false;
  }
  if (in->size() > r.length) in->resize(r.length);
  if (done != nullptr) *done = finished;
  return ok;
}

// 115200 baud within the chip's divisor error, 8 data bits, no parity,
// 1 stop bit: the only line the meter understands.
bool Ft232rUsbModel::LineUnderstood() const {
  return std::abs(static_cast<int>(baud_) - 115200) < 115200 / 33 && line_ == 0x0008;
}

Nanos Ft232rUsbModel::BulkOut(Nanos now, const uint8_t* bytes, std::size_t count) {
  Nanos request_end = 0;
  const Nanos at_chip = timing_.Write(now, count, &request_end);
  if (!LineUnderstood()) return at_chip;
  for (const MeterReply& reply : meter_.Receive(bytes, count)) {
    if (reply.unplug || (unplug_at_ > 0 && reply.accepted && meter_.exchanges() >= unplug_at_)) {
      unplugged_ = true;
      break;
    }
    if (reply.bytes.empty()) continue;
    int delay_ms = reply.delay_ms;
    if (reply.erase && timing_.wire()) delay_ms += config_.erase_ms;
    if (reply.late_ms >= 0) delay_ms += config_.late_after_ms + reply.late_ms;
    timing_.Reply(reply.bytes, request_end, delay_ms * kNanosPerMs);
  }
  return at_chip;
}

Nanos Ft232rUsbModel::NextInAt(Nanos now) { return timing_.NextPacketAt(now); }

std::vector<uint8_t> Ft232rUsbModel::TakeIn(Nanos now, std::size_t capacity) {
  std::vector<uint8_t> transfer;
  const std::size_t most = std::max<std::size_t>(1, capacity / fr::kPacketSize);
  const auto packets = timing_.TakePackets(now, most);
  for (const std::vector<uint8_t>& packet : packets) {
    transfer.push_back(kModemStatus);
    transfer.push_back(kLineStatus);
    transfer.insert(transfer.end(), packet.begin(), packet.end());
  }
  if (packets.empty()) transfer = {kModemStatus, kLineStatus};
  if (transfer.size() > capacity) transfer.resize(capacity);
  return transfer;
}

SimUsbTransport::SimUsbTransport(MeterConfig meter, UsbModelTiming timing)
    : model_(std::move(meter), timing), origin_(std::chrono::steady_clock::now()) {}

Nanos SimUsbTransport::Now() const {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                              origin_)
      .count();
}

void SimUsbTransport::Wait(Nanos t) const {
  if (t > Now()) SleepUntil(origin_ + std::chrono::nanoseconds(t));
}

UsbStatus SimUsbTransport::Usable() const {
  if (model_.unplugged()) return UsbStatus::kGone;
  return open_ ? UsbStatus::kOk : UsbStatus::kError;
}

std::string SimUsbTransport::serial_number() const {
  return model_.meter().config().eeprom.serial_number;
}

UsbStatus SimUsbTransport::Open() {
  if (model_.unplugged()) return UsbStatus::kGone;
  // A chip that will not open is one a system driver holds.
  if (model_.meter().config().refuse_open) return UsbStatus::kBusy;
  open_ = true;
  return UsbStatus::kOk;
}

UsbStatus SimUsbTransport::ControlOut(const fr::ControlRequest& request) {
  const UsbStatus usable = Usable();
  if (usable != UsbStatus::kOk) return usable;
  std::vector<uint8_t> in;
  Nanos done = 0;
  const bool ok = model_.Control(Now(), request, &in, &done);
  Wait(done);
  return ok ? UsbStatus::kOk : UsbStatus::kStall;
}

UsbStatus SimUsbTransport::ControlIn(const fr::ControlRequest& request, uint8_t* data,
                                     std::size_t* got) {
  *got = 0;
  const UsbStatus usable = Usable();
  if (usable != UsbStatus::kOk) return usable;
  std::vector<uint8_t> in;
  Nanos done = 0;
  const bool ok = model_.Control(Now(), request, &in, &done);
  Wait(done);
  if (!ok) return UsbStatus::kStall;
  std::copy(in.begin(), in.end(), data);
  *got = in.size();
  return UsbStatus::kOk;
}

UsbStatus SimUsbTransport::BulkOut(const uint8_t* data, std::size_t count, std::size_t* sent) {
  *sent = 0;
  const UsbStatus usable = Usable();
  if (usable != UsbStatus::kOk) return usable;
  const Nanos at_chip = model_.BulkOut(Now(), data, count);
  // The request that pulled the cable got no further than the bus.
  if (model_.unplugged()) return UsbStatus::kGone;
  Wait(at_chip);
  *sent = count;
  return UsbStatus::kOk;
}

UsbStatus SimUsbTransport::BulkIn(uint8_t* data, std::size_t capacity, std::size_t* got,
                                  uint32_t timeout_ms) {
  *got = 0;
  const UsbStatus usable = Usable();
  if (usable != UsbStatus::kOk) return usable;
  const Nanos now = Now();
  const Nanos next = model_.NextInAt(now);
  const Nanos deadline = now + static_cast<Nanos>(timeout_ms) * kNanosPerMs;
  if (next > deadline) {
    // Nothing will ever come in instant mode: no need to wait for it.
    if (next != kNever) Wait(deadline);
    return UsbStatus::kTimeout;
  }
  Wait(next);
  const std::vector<uint8_t> transfer = model_.TakeIn(std::max(now, next), capacity);
  std::copy(transfer.begin(), transfer.end(), data);
  *got = transfer.size();
  return UsbStatus::kOk;
}

}  // namespace sq71::sim
