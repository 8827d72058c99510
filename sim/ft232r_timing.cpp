#include "sim/ft232r_timing.h"

#include <algorithm>

namespace sq71::sim {

Nanos FrameStartAtOrAfter(Nanos t) {
  const Nanos frames = t / kUsbFrameNs + (t % kUsbFrameNs > 0 ? 1 : 0);
  return frames * kUsbFrameNs;
}

Nanos Ft232rTiming::Open(Nanos now, int latency_ms) {
  const Nanos done = Control(now);
  latency_ms_ = latency_ms;
  timer_start_ = done;
  tx_free_ = done;
  line_.clear();
  gathered_.clear();
  host_.clear();
  return done;
}

Nanos Ft232rTiming::Control(Nanos now, int requests) const {
  return wire_ ? now + requests * kControlRequestNs : now;
}

Nanos Ft232rTiming::SetLatency(Nanos now, int latency_ms) {
  const Nanos done = Control(now);
  Advance(done);
  latency_ms_ = latency_ms;
  timer_start_ = done;
  return done;
}

Nanos Ft232rTiming::PurgeReceive(Nanos now) {
  const Nanos done = Control(now);
  Advance(done);
  gathered_.clear();
  host_.clear();
  return done;
}

Nanos Ft232rTiming::Write(Nanos now, std::size_t count, Nanos* line_end) {
  Advance(now);
  const Nanos at_chip = wire_ ? FrameStartAtOrAfter(now) : now;
  const Nanos byte_ns = wire_ ? kByteTimeNs : 0;
  const Nanos start = std::max(at_chip, tx_free_);
  tx_free_ = start + byte_ns * static_cast<Nanos>(count);
  if (line_end != nullptr) *line_end = tx_free_;
  return at_chip;
}

void Ft232rTiming::Reply(const std::vector<uint8_t>& bytes, Nanos request_end, Nanos delay) {
  Nanos start = request_end + delay + (wire_ ? kMeterProcessingNs : 0);
  start = std::max(start, meter_free_);
  const Nanos byte_ns = wire_ ? kByteTimeNs : 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    line_.push_back({bytes[i], start + byte_ns * static_cast<Nanos>(i + 1)});
  }
  meter_free_ = start + byte_ns * static_cast<Nanos>(bytes.size());
}

void Ft232rTiming::SendPacket(Nanos at) {
  const Nanos arrive = FrameStartAtOrAfter(at);
  for (uint8_t value : gathered_) host_.push_back({value, arrive});
  if (!gathered_.empty()) host_[host_.size() - gathered_.size()].packet_start = true;
  gathered_.clear();
  timer_start_ = at;
}

void Ft232rTiming::Advance(Nanos t) {
  if (!wire_) {
    while (!line_.empty() && line_.front().at <= t) {
      host_.push_back(line_.front());
      line_.pop_front();
    }
    return;
  }
  const Nanos latency = latency_ms_ * kNanosPerMs;
  while (true) {
    const Nanos next_byte = line_.empty() ? kNever : line_.front().at;
    const Nanos until = std::min(t, next_byte);
    const Nanos expiry = timer_start_ + latency;
    if (expiry <= until) {
      if (gathered_.empty()) {
        // Idle: only status packets, each restarting the timer.
        timer_start_ += (until - timer_start_) / latency * latency;
      } else {
        SendPacket(expiry);
      }
      continue;  // an expiry at the same moment as a byte comes first
    }
    if (next_byte > t) break;
    gathered_.push_back(line_.front().value);
    line_.pop_front();
    if (gathered_.size() == kUsbPacketDataBytes) SendPacket(next_byte);
  }
}

Nanos Ft232rTiming::NextEvent() const {
  Nanos next = line_.empty() ? kNever : line_.front().at;
  if (wire_ && !gathered_.empty()) next = std::min(next, timer_start_ + latency_ms_ * kNanosPerMs);
  return next;
}

Nanos Ft232rTiming::WhenHostHolds(std::size_t count, Nanos now) {
  Advance(now);
  if (count == 0) return now;
  if (host_.size() >= count) return host_[count - 1].at;
  Ft232rTiming ahead = *this;
  while (ahead.host_.size() < count) {
    const Nanos next = ahead.NextEvent();
    if (next == kNever) return kNever;
    ahead.Advance(next);
  }
  return ahead.host_[count - 1].at;
}

Nanos Ft232rTiming::WhenAllDelivered(Nanos now) {
  Advance(now);
  Ft232rTiming ahead = *this;
  for (Nanos next = ahead.NextEvent(); next != kNever; next = ahead.NextEvent()) {
    ahead.Advance(next);
  }
  return ahead.host_.empty() ? now : std::max(now, ahead.host_.back().at);
}

std::size_t Ft232rTiming::HostHolds(Nanos now) {
  Advance(now);
  std::size_t held = 0;
  for (const Byte& b : host_) {
    if (b.at > now) break;
    ++held;
  }
  return held;
}

std::size_t Ft232rTiming::Take(Nanos now, uint8_t* out, std::size_t wanted) {
  Advance(now);
  std::size_t got = 0;
  while (got < wanted && !host_.empty() && host_.front().at <= now) {
    out[got++] = host_.front().value;
    host_.pop_front();
  }
  return got;
}

Nanos Ft232rTiming::NextPacketAt(Nanos now) {
  Advance(now);
  if (!host_.empty()) return host_.front().at;
  const Nanos data = WhenHostHolds(1, now);
  if (!wire_) return data;
  // The timer's next expiry sends a packet, with data or without.
  return std::min(data, FrameStartAtOrAfter(timer_start_ + latency_ms_ * kNanosPerMs));
}

std::vector<std::vector<uint8_t>> Ft232rTiming::TakePackets(Nanos now, std::size_t max_packets) {
  Advance(now);
  std::vector<std::vector<uint8_t>> packets;
  while (packets.size() < max_packets && !host_.empty() && host_.front().at <= now) {
    std::vector<uint8_t> packet;
    do {
      packet.push_back(host_.front().value);
      host_.pop_front();
    } while (packet.size() < kUsbPacketDataBytes && !host_.empty() && host_.front().at <= now &&
             !host_.front().packet_start);
    const bool full = packet.size() == kUsbPacketDataBytes;
    packets.push_back(std::move(packet));
    if (!full) break;
  }
  return packets;
}

}  // namespace sq71::sim
