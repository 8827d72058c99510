// The tests that decide whether a meter's reply can be used: read-record,
// erase and identify. Input: a status byte, a byte count, then the reply.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "log/log_image.h"
#include "protocol/frame.h"

namespace {

// The reply in a heap buffer of exactly the size the caller reads into, so
// that a look past its end is caught.
std::unique_ptr<uint8_t[]> Reply(const uint8_t* data, std::size_t size, std::size_t buffer) {
  auto reply = std::make_unique<uint8_t[]>(buffer);
  std::memcpy(reply.get(), data, size < buffer ? size : buffer);
  return reply;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace sq71;
  if (size < 2) return 0;
  // Mostly FT_OK, so the tests past the status are reached.
  const FT_STATUS status = data[0] < 0xF0 ? FT_OK : data[0] & 0x0F;
  const uint32_t bytes_read = data[1];
  data += 2;
  size -= 2;

  auto read_reply = Reply(data, size, kReadReplySize);
  int record = -1;
  const ReadReplyVerdict verdict = TestReadReply(status, bytes_read, read_reply.get(), &record);
  if (verdict == ReadReplyVerdict::kGood) {
    if (record < 0 || record >= kRecordCount) std::abort();
    if (status != FT_OK || bytes_read != kReadReplySize || read_reply[0] != kAck) std::abort();
    const uint8_t sum = FrameChecksum(read_reply.get() + 1, kReadReplySize - 2);
    if (read_reply[kReadReplySize - 1] != sum) std::abort();
  } else if (record != -1) {
    std::abort();  // a record number handed out for an unusable reply
  }

  const bool erased = TestEraseReply(status, bytes_read, size > 0 ? data[0] : 0);
  if (erased && (status != FT_OK || bytes_read == 0)) std::abort();

  auto identify = Reply(data, size, kIdentifyReplyMax);
  std::string name = "unchanged";
  if (TestIdentifyReply(status, bytes_read, identify.get(), &name)) {
    const std::size_t length = identify[1] * 256u + identify[2];
    if (length < 1 || length > static_cast<std::size_t>(kIdentifyLengthMax)) std::abort();
    if (name.size() > length - 1 || name.find('\0') != std::string::npos) std::abort();
    if (std::memcmp(name.data(), identify.get() + 4, name.size()) != 0) std::abort();
  } else if (name != "unchanged") {
    std::abort();
  }
  return 0;
}
