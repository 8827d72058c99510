// Loads the D2XX driver library and binds the functions the program calls.
#ifndef SQ71_USB_D2XX_LOADER_WIN32_H
#define SQ71_USB_D2XX_LOADER_WIN32_H

#include <windows.h>

#include "usb/d2xx.h"
#include "usb/d2xx_binding.h"

namespace sq71 {

// The library's file name, as the driver installs it.
constexpr const char* kD2xxLibraryName = "Ftd2xx.dll";

// Loads library_name and binds its functions. Returns the module, or null
// when the library cannot be loaded or lacks one of the functions (the
// library is then unloaded again and functions left all null).
HMODULE LoadD2xxLibrary(const char* library_name, D2xxFunctions* functions);

}  // namespace sq71

#endif
