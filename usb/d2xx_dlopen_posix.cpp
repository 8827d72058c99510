#include <dlfcn.h>

#include <mutex>

#include "usb/d2xx_backend.h"

namespace sq71 {
namespace {

// The library's name as FTDI installs it, found through the loader's usual
// search (LD_LIBRARY_PATH, the cache, /usr/local/lib, ...).
#if defined(__APPLE__)
constexpr const char* kD2xxSharedLibraryName = "libftd2xx.dylib";
#else
constexpr const char* kD2xxSharedLibraryName = "libftd2xx.so";
#endif

struct Loaded {
  void* module = nullptr;
  D2xxFunctions functions;
  std::string error;
};

template <typename Fn>
bool Bind(void* module, const char* name, Fn* slot, std::string* missing) {
  void* address = dlsym(module, name);
  *slot = reinterpret_cast<Fn>(address);
  if (address == nullptr && missing->empty()) *missing = name;
  return address != nullptr;
}

Loaded LoadOnce() {
  Loaded loaded;
  // RTLD_LOCAL: the driver's own symbols must not stand in for anyone else's.
  void* module = dlopen(kD2xxSharedLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = dlerror();
    loaded.error = reason != nullptr ? reason : kD2xxSharedLibraryName;
    return loaded;
  }
  D2xxFunctions& f = loaded.functions;
  std::string missing;
  bool ok = true;
  ok &= Bind(module, "FT_Open", &f.Open, &missing);
  ok &= Bind(module, "FT_Close", &f.Close, &missing);
  ok &= Bind(module, "FT_Read", &f.Read, &missing);
  ok &= Bind(module, "FT_Write", &f.Write, &missing);
  ok &= Bind(module, "FT_SetBaudRate", &f.SetBaudRate, &missing);
  ok &= Bind(module, "FT_SetDataCharacteristics", &f.SetDataCharacteristics, &missing);
  ok &= Bind(module, "FT_SetFlowControl", &f.SetFlowControl, &missing);
  ok &= Bind(module, "FT_SetDtr", &f.SetDtr, &missing);
  ok &= Bind(module, "FT_ClrDtr", &f.ClrDtr, &missing);
  ok &= Bind(module, "FT_Purge", &f.Purge, &missing);
  ok &= Bind(module, "FT_SetTimeouts", &f.SetTimeouts, &missing);
  ok &= Bind(module, "FT_ListDevices", &f.ListDevices, &missing);
  ok &= Bind(module, "FT_EE_Read", &f.EE_Read, &missing);
  if (!ok) {
    // A half-bound table would fail later, in the middle of a command.
    dlclose(module);
    loaded.functions = D2xxFunctions{};
    loaded.error = std::string(kD2xxSharedLibraryName) + " has no " + missing;
    return loaded;
  }
  std::string optional;
  Bind(module, "FT_SetLatencyTimer", &f.SetLatencyTimer, &optional);
  loaded.module = module;
  return loaded;
}

const Loaded& TheLibrary() {
  static std::once_flag once;
  static Loaded loaded;
  std::call_once(once, [] { loaded = LoadOnce(); });
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
    *error = loaded.error;
    return false;
  }
  out->name = "d2xx";
  out->functions = loaded.functions;
  out->where = SerialNumberAt;
  out->partial_identity = false;
  return true;
}

}  // namespace sq71
