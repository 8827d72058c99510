// Loads the D2XX driver library and binds the functions the program calls.
#ifndef SQ71_USB_D2XX_LOADER_WIN32_H
#define SQ71_USB_D2XX_LOADER_WIN32_H

#include <windows.h>

#include <memory>

#include "usb/d2xx_driver.h"

namespace sq71 {

// The library's file name, as the driver installs it.
constexpr const char* kD2xxLibraryName = "Ftd2xx.dll";

// Loads library_name and binds its functions into a driver that owns the
// module. Null when the library cannot be loaded or lacks one of the
// functions (the library is then unloaded again).
std::unique_ptr<D2xxDriver> LoadD2xxLibrary(const char* library_name);

}  // namespace sq71

#endif
