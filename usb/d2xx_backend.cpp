#include "usb/d2xx_backend.h"

#include <cstdint>
#include <mutex>

namespace sq71 {
namespace {

struct Loaded {
  bool ok = false;
  D2xxFunctions functions;
  std::string error;
};

// The library stays loaded for the life of the process.
const Loaded& TheLibrary() {
  static std::once_flag once;
  static Loaded loaded;
  std::call_once(once, [] { loaded.ok = LoadD2xxDriver(&loaded.functions, &loaded.error); });
  return loaded;
}

std::string SerialNumberAt(int index) {
  const Loaded& loaded = TheLibrary();
  return loaded.ok ? D2xxSerialNumber(loaded.functions, index) : "";
}

}  // namespace

bool MakeD2xxBackend(Backend* out, std::string* error) {
  const Loaded& loaded = TheLibrary();
  if (!loaded.ok) {
    *error = loaded.error;
    return false;
  }
  out->name = "d2xx";
  out->functions = loaded.functions;
  out->where = SerialNumberAt;
  out->partial_identity = false;
  return true;
}

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
