#include "usb/d2xx_loader_win32.h"

namespace sq71 {
namespace {

void* LookupInModule(void* context, const char* name) {
  // GetProcAddress hands back a generic function pointer.
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(context), name));
}

}  // namespace

HMODULE LoadD2xxLibrary(const char* library_name, D2xxFunctions* functions) {
  *functions = D2xxFunctions{};
  HMODULE module = LoadLibraryA(library_name);
  if (module == nullptr) return nullptr;
  // A library without every function we call is not a driver we can use:
  // it counts as one that cannot be loaded.
  if (!BindD2xxFunctions(LookupInModule, module, functions)) {
    FreeLibrary(module);
    return nullptr;
  }
  return module;
}

}  // namespace sq71
