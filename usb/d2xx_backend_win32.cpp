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
    // The loader binds FT_SetLatencyTimer too, where the driver has it.
    loaded.module = LoadD2xxLibrary(kD2xxLibraryName, &loaded.functions);
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
