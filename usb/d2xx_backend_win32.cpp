#include <windows.h>

#include "usb/d2xx_backend.h"
#include "usb/d2xx_loader_win32.h"

namespace sq71 {

bool LoadD2xxDriver(D2xxFunctions* functions, std::string* error) {
  // The program's own loader, FT_SetLatencyTimer included where the driver
  // has it.
  if (LoadD2xxLibrary(kD2xxLibraryName, functions) != nullptr) return true;
  *error = std::string(kD2xxLibraryName) + " cannot be loaded or lacks a driver function";
  return false;
}

}  // namespace sq71
