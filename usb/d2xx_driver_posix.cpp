#include <dlfcn.h>

#include "usb/d2xx_binding.h"
#include "usb/d2xx_driver.h"

namespace sq71 {
namespace {

// The library's name as FTDI installs it, found through the loader's usual
// search (LD_LIBRARY_PATH, the cache, /usr/local/lib, ...).
#if defined(__APPLE__)
constexpr const char* kD2xxSharedLibraryName = "libftd2xx.dylib";
#else
constexpr const char* kD2xxSharedLibraryName = "libftd2xx.so";
#endif

void* LookupSymbol(void* module, const char* name) { return dlsym(module, name); }

void Unload(void* module) { dlclose(module); }

}  // namespace

std::unique_ptr<D2xxDriver> LoadD2xxDriver(std::string* error) {
  // RTLD_LOCAL: the driver's own symbols must not stand in for anyone else's.
  void* module = dlopen(kD2xxSharedLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : kD2xxSharedLibraryName;
    return nullptr;
  }
  D2xxFunctions functions;
  const char* missing = nullptr;
  if (!BindD2xxFunctions(LookupSymbol, module, &functions, &missing)) {
    dlclose(module);
    *error = std::string(kD2xxSharedLibraryName) + " has no " + missing;
    return nullptr;
  }
  return std::make_unique<D2xxDriver>(functions, module, Unload);
}

}  // namespace sq71
