#include "usb/d2xx_backend.h"

#include <cstdint>

namespace sq71 {

std::string D2xxSerialNumber(const D2xxFunctions& d2xx, int index) {
  if (d2xx.ListDevices == nullptr || index < 0) return "";
  // Larger than the driver's 16 characters: a driver that writes a longer
  // string must not run past the buffer.
  char serial[64] = {};
  const FT_STATUS status = d2xx.ListDevices(reinterpret_cast<void*>(static_cast<uintptr_t>(index)),
                                            serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
  serial[sizeof(serial) - 1] = '\0';
  return status == FT_OK ? serial : "";
}

}  // namespace sq71
