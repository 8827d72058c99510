#include "protocol/frame.h"

#include <algorithm>

namespace sq71 {

uint8_t FrameChecksum(const uint8_t* bytes, int count) {
  uint8_t x = 0;
  for (int i = 0; i < count; ++i) x ^= bytes[i];
  return static_cast<uint8_t>((0x100 - x) & 0xFF);
}

namespace {

// Fills the frame header and appends the checksum; `n` command bytes must
// already be at out + 3.
void FinishFrame(uint8_t* out, int n) {
  out[0] = kFrameStart;
  out[1] = 0x00;
  out[2] = static_cast<uint8_t>(n);
  out[3 + n] = FrameChecksum(out + 1, n + 2);
}

}  // namespace

void BuildIdentifyRequest(uint8_t out[kIdentifyRequestSize]) {
  out[3] = 'I';
  FinishFrame(out, 1);
}

void BuildEraseRequest(uint8_t out[kEraseRequestSize]) {
  out[3] = 'L';
  out[4] = 'E';
  FinishFrame(out, 2);
}

void BuildReadRequest(int record, uint8_t out[kReadRequestSize]) {
  out[3] = 'L';
  out[4] = 'R';
  out[5] = static_cast<uint8_t>((record >> 8) & 0xFF);
  out[6] = static_cast<uint8_t>(record & 0xFF);
  FinishFrame(out, 4);
}

ReadReplyVerdict TestReadReply(FT_STATUS status, uint32_t bytes_read, const uint8_t* reply,
                               int* record_number) {
  if (status != FT_OK || reply[0] != kAck || bytes_read != kReadReplySize) {
    return ReadReplyVerdict::kNoHandshake;
  }
  if (reply[kReadReplySize - 1] != FrameChecksum(reply + 1, kReadReplySize - 2)) {
    return ReadReplyVerdict::kChecksumFailure;
  }
  const int number = reply[5] * 256 + reply[6];
  if (number >= 1024) return ReadReplyVerdict::kInvalidRecord;
  if (record_number != nullptr) *record_number = number;
  return ReadReplyVerdict::kGood;
}

bool TestEraseReply(FT_STATUS status, uint32_t bytes_read, uint8_t first_byte) {
  return status == FT_OK && bytes_read != 0 && first_byte == kAck;
}

bool TestIdentifyReply(FT_STATUS status, uint32_t bytes_read, uint8_t* reply, std::string* name) {
  if (status != FT_OK || bytes_read == 0 || reply[0] != kAck) return false;
  const int length = reply[1] * 256 + reply[2];
  // Outside 1..96 the name or the checksum would lie past the buffer.
  if (length < 1 || length > kIdentifyLengthMax) return false;
  if (reply[length + 3] != FrameChecksum(reply + 1, length + 2)) return false;
  reply[length + 3] = 0;
  if (name != nullptr) {
    const uint8_t* text = reply + 4;
    const uint8_t* end = std::find(text, static_cast<const uint8_t*>(reply + length + 3), 0);
    name->assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(end - text));
  }
  return true;
}

}  // namespace sq71
