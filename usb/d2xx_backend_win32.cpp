#include <windows.h>

#include <mutex>

#include "usb/d2xx_backend.h"
#include "usb/d2xx_loader_win32.h"

namespace sq71 {
namespace {

struct Loaded {
  HMODULE module = nullptr;
  D2xxFunctions functions;
};

const Loaded& TheLibrary() {
  static std::once_flag once;
  static Loaded loaded;
  std::call_once(once, [] {
    loaded.module = LoadD2xxLibrary(kD2xxLibraryName, &loaded.functions);
    if (loaded.module != nullptr && loaded.functions.SetLatencyTimer == nullptr) {
      // Optional: older drivers may lack it, and the chip then keeps its own.
      loaded.functions.SetLatencyTimer = reinterpret_cast<FT_SetLatencyTimerFn>(
          reinterpret_cast<void*>(GetProcAddress(loaded.module, "FT_SetLatencyTimer")));
    }
  });
  return loaded;
}

std::string SerialNumberAt(int index) {
  const Loaded& loaded = TheLibrary();
  return loaded.module != nullptr ? D2xxSerialNumber(loaded.functions, index) : "";
}

}  // namespace

bool MakeD2xxBackend(Backend* out, std::string* error) {
  const Loaded& loaded = TheLibrary();
  if (loaded.module == nullptr) {
    *error = std::string(kD2xxLibraryName) + " cannot be loaded or lacks a driver function";
    return false;
  }
  out->name = "d2xx";
  out->functions = loaded.functions;
  out->where = SerialNumberAt;
  out->partial_identity = false;
  return true;
}

}  // namespace sq71
