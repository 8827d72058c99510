#include <windows.h>

#include "usb/d2xx_driver.h"
#include "usb/d2xx_loader_win32.h"

namespace sq71 {

std::unique_ptr<D2xxDriver> LoadD2xxDriver(std::string* error) {
  std::unique_ptr<D2xxDriver> driver = LoadD2xxLibrary(kD2xxLibraryName);
  if (driver == nullptr) {
    *error = std::string(kD2xxLibraryName) + " cannot be loaded or lacks a driver function";
  }
  return driver;
}

}  // namespace sq71
