#include "usb/d2xx_driver.h"

#include <cstdint>

namespace sq71 {

D2xxDriver::~D2xxDriver() {
  if (unload_ != nullptr && module_ != nullptr) unload_(module_);
}

FT_STATUS D2xxDriver::CountDevices(uint32_t* count) {
  return f_.ListDevices(count, nullptr, FT_LIST_NUMBER_ONLY);
}

std::string D2xxDriver::Where(int index) {
  if (index < 0) return "";
  // Larger than the driver's 16 characters: a driver that writes a longer
  // string must not run past the buffer.
  char serial[64] = {};
  const FT_STATUS status = f_.ListDevices(reinterpret_cast<void*>(static_cast<uintptr_t>(index)),
                                          serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
  serial[sizeof(serial) - 1] = '\0';
  return status == FT_OK ? serial : "";
}

FT_STATUS D2xxDriver::SetLatencyTimer(FT_HANDLE handle, uint8_t ms) {
  // Optional in the library: without it the chip keeps its own timer.
  if (f_.SetLatencyTimer == nullptr) return FT_NOT_SUPPORTED;
  return f_.SetLatencyTimer(handle, ms);
}

FT_STATUS D2xxDriver::GetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes) {
  // Optional likewise: without it every request is purged first.
  if (f_.GetQueueStatus == nullptr) return FT_NOT_SUPPORTED;
  return f_.GetQueueStatus(handle, rx_bytes);
}

}  // namespace sq71
