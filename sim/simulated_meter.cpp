#include "sim/simulated_meter.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "protocol/frame.h"
#include "sim/sample_log.h"

namespace sq71::sim {

MeterConfig::MeterConfig() : log(MakeSampleLog()) {}

std::string DescribeFault(const Fault& fault) {
  std::string text;
  switch (fault.when) {
    case FaultWhen::kRecord:
      text.append("record ").append(std::to_string(fault.key));
      break;
    case FaultWhen::kExchange:
      text.append("exchange ").append(std::to_string(fault.key));
      break;
    case FaultWhen::kErase:
      text.append("erase");
      break;
    case FaultWhen::kIdentify:
      text.append("identify");
      break;
  }
  bool with_value = true;
  switch (fault.action) {
    case FaultAction::kNoReply:
      text.append(" no_reply");
      with_value = false;
      break;
    case FaultAction::kShortReply:
      text.append(" short_reply");
      with_value = fault.value >= 0;
      break;
    case FaultAction::kNak:
      text.append(" nak");
      with_value = false;
      break;
    case FaultAction::kBadChecksum:
      text.append(" bad_checksum");
      with_value = false;
      break;
    case FaultAction::kRecordNumber:
      text.append(" record_number");
      break;
    case FaultAction::kDelay:
      text.append(" delay");
      break;
    case FaultAction::kLate:
      text.append(" late");
      break;
    case FaultAction::kUnplug:
      text.append(" unplug");
      with_value = false;
      break;
    case FaultAction::kStray:
      text.append(" stray");
      break;
  }
  if (with_value) text.append(" ").append(std::to_string(fault.value));
  if (fault.once) text.append(" once");
  return text;
}

SimulatedMeter::SimulatedMeter(MeterConfig config) : config_(std::move(config)) {}

std::vector<MeterReply> SimulatedMeter::Receive(const uint8_t* bytes, std::size_t count) {
  input_.insert(input_.end(), bytes, bytes + count);
  std::vector<MeterReply> replies;
  std::size_t pos = 0;
  while (true) {
    while (pos < input_.size() && input_[pos] != kFrameStart) ++pos;
    if (input_.size() - pos < 3) break;
    // Requests are short: the high length byte is always 0. Anything else
    // was not a frame start after all, so look for the next one.
    if (input_[pos + 1] != 0x00) {
      ++pos;
      continue;
    }
    const int n = input_[pos + 2];
    if (input_.size() - pos < static_cast<std::size_t>(n) + 4) break;
    replies.push_back(Answer(input_.data() + pos, n));
    pos += static_cast<std::size_t>(n) + 4;
  }
  input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(pos));
  return replies;
}

MeterReply SimulatedMeter::Answer(const uint8_t* frame, int n) {
  MeterReply reply;
  if (frame[3 + n] != FrameChecksum(frame + 1, n + 2)) {
    reply.request = "frame with a bad checksum ignored";
    return reply;
  }
  const uint8_t* command = frame + 3;
  enum { kIdentify, kErase, kRead } kind;
  int record = -1;
  if (n == 1 && command[0] == 'I') {
    kind = kIdentify;
    // Built as strings: assigning these short literals trips a false
    // -Wrestrict warning in GCC 12.
    reply.request = std::string(1, 'I');
  } else if (n == 2 && command[0] == 'L' && command[1] == 'E') {
    kind = kErase;
    reply.request = std::string("LE", 2);
  } else if (n == 4 && command[0] == 'L' && command[1] == 'R') {
    kind = kRead;
    record = command[2] * 256 + command[3];
    reply.request = "LR " + std::to_string(record);
  } else {
    reply.request = "frame with an unknown command ignored";
    return reply;
  }
  reply.accepted = true;
  const int exchange = ++exchanges_;

  std::vector<const Fault*> faults;
  spent_.resize(config_.faults.size(), false);
  for (std::size_t i = 0; i < config_.faults.size(); ++i) {
    const Fault& f = config_.faults[i];
    const bool applies = (f.when == FaultWhen::kRecord && kind == kRead && f.key == record) ||
                         (f.when == FaultWhen::kExchange && f.key == exchange) ||
                         (f.when == FaultWhen::kErase && kind == kErase) ||
                         (f.when == FaultWhen::kIdentify && kind == kIdentify);
    if (!applies || spent_[i]) continue;
    if (f.once) spent_[i] = true;
    faults.push_back(&f);
  }
  bool silent = false;
  bool nak = false;
  for (const Fault* f : faults) {
    if (f->action == FaultAction::kNoReply || f->action == FaultAction::kUnplug) silent = true;
    if (f->action == FaultAction::kNak) nak = true;
  }

  switch (kind) {
    case kIdentify:
      reply.bytes = IdentifyReply();
      break;
    case kErase:
      // A refused or lost erase leaves the log alone.
      if (!silent && !nak) {
        config_.log = LogImage{};
        WriteEndMarker(RecordAt(config_.log, 0));
        ++erases_;
        reply.erase = true;
      }
      reply.bytes = {kAck};
      break;
    case kRead: {
      // The meter only holds records 0 to 1023 and does not answer past them.
      if (record >= kRecordCount) {
        reply.request += " (no such record, no reply)";
        return reply;
      }
      int named = record;
      for (const Fault* f : faults) {
        if (f->action == FaultAction::kRecordNumber) named = f->value;
      }
      reply.bytes = ReadRecordReply(named, named < kRecordCount ? named : record);
      break;
    }
  }

  for (const Fault* f : faults) {
    reply.faults.push_back(DescribeFault(*f));
    switch (f->action) {
      case FaultAction::kNoReply:
      case FaultAction::kRecordNumber:
        break;
      case FaultAction::kNak:
        reply.bytes[0] = kNak;
        break;
      case FaultAction::kBadChecksum:
        if (kind != kErase) reply.bytes.back() = static_cast<uint8_t>(reply.bytes.back() + 1);
        break;
      case FaultAction::kDelay:
        reply.delay_ms += f->value;
        break;
      case FaultAction::kLate:
        reply.late_ms = std::max(reply.late_ms, 0) + f->value;
        break;
      case FaultAction::kUnplug:
        reply.unplug = true;
        break;
      case FaultAction::kShortReply:
      case FaultAction::kStray:
        break;  // applied last, after every byte has its final value
    }
  }
  for (const Fault* f : faults) {
    if (f->action != FaultAction::kShortReply) continue;
    const std::size_t keep = f->value < 0
                                 ? reply.bytes.size() - 1
                                 : std::min(reply.bytes.size(), static_cast<std::size_t>(f->value));
    reply.bytes.resize(std::min(keep, reply.bytes.size()));
  }
  if (silent) reply.bytes.clear();
  // Noise after the reply (or alone, where there is none) that nobody asked for.
  for (const Fault* f : faults) {
    if (f->action == FaultAction::kStray && !reply.unplug) {
      reply.bytes.insert(reply.bytes.end(), static_cast<std::size_t>(f->value), kStrayByte);
    }
  }
  return reply;
}

// 06, then the payload length 68 (00 44) and the command letters "LR"
// echoed (or whatever the configuration puts in these four bytes), the
// record number high byte first, the 64 record bytes, and the checksum of
// everything after the ACK.
std::vector<uint8_t> SimulatedMeter::ReadRecordReply(int number, int record_for_data) const {
  std::vector<uint8_t> bytes(kReadReplySize);
  bytes[0] = kAck;
  std::copy(config_.record_reply_open.begin(), config_.record_reply_open.end(), bytes.begin() + 1);
  bytes[5] = static_cast<uint8_t>((number >> 8) & 0xFF);
  bytes[6] = static_cast<uint8_t>(number & 0xFF);
  std::memcpy(bytes.data() + 7, RecordAt(config_.log, record_for_data), kRecordSize);
  bytes[kReadReplySize - 1] = FrameChecksum(bytes.data() + 1, kReadReplySize - 2);
  return bytes;
}

// 06, the payload length L high byte first, the command letter "I" echoed as
// the first payload byte, the name (L - 1 bytes), the checksum of bytes 1 to
// L + 2.
std::vector<uint8_t> SimulatedMeter::IdentifyReply() const {
  const std::size_t name_length = std::min<std::size_t>(config_.name.size(), 0xFFFE);
  const std::size_t length = name_length + 1;
  std::vector<uint8_t> bytes(length + 4);
  bytes[0] = kAck;
  bytes[1] = static_cast<uint8_t>(length >> 8);
  bytes[2] = static_cast<uint8_t>(length & 0xFF);
  bytes[3] = config_.identify_reply_open;
  std::memcpy(bytes.data() + 4, config_.name.data(), name_length);
  bytes[length + 3] = FrameChecksum(bytes.data() + 1, static_cast<int>(length + 2));
  return bytes;
}

}  // namespace sq71::sim
