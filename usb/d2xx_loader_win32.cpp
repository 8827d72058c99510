#include "usb/d2xx_loader_win32.h"

#include "usb/d2xx_binding.h"

namespace sq71 {
namespace {

void* LookupInModule(void* context, const char* name) {
  // GetProcAddress hands back a generic function pointer.
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(context), name));
}

void Unload(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

}  // namespace

std::unique_ptr<D2xxDriver> LoadD2xxLibrary(const char* library_name) {
  HMODULE module = LoadLibraryA(library_name);
  if (module == nullptr) return nullptr;
  // A library without every function we call is not a driver we can use:
  // it counts as one that cannot be loaded.
  D2xxFunctions functions;
  if (!BindD2xxFunctions(LookupInModule, module, &functions)) {
    FreeLibrary(module);
    return nullptr;
  }
  return std::make_unique<D2xxDriver>(functions, module, Unload);
}

}  // namespace sq71
