// Loads the D2XX driver library and binds the functions the program calls.
#ifndef SQ71_USB_D2XX_LOADER_WIN32_H
#define SQ71_USB_D2XX_LOADER_WIN32_H

#include <windows.h>

#include <memory>

#include "usb/d2xx_driver.h"

namespace sq71 {

// The library's file name, as the driver installs it.
constexpr const char* kD2xxLibraryName = "Ftd2xx.dll";

// Limits the folders that libraries loaded later are searched in to the
// program's folder and System32 (SetDefaultDllDirectories), where Windows has
// the call. Made once at start, before any library is loaded.
void RestrictLibrarySearch();

// Loads a library by file name from the program's folder or System32 only,
// never from the current folder or PATH; a full path is loaded as named.
// Null when neither holds it.
HMODULE LoadLibraryFromSafePlaces(const char* library_name);

// Loads library_name (from the safe places above) and binds its functions
// into a driver that owns the module. Null when the library cannot be loaded
// or lacks one of the functions (the library is then unloaded again).
std::unique_ptr<D2xxDriver> LoadD2xxLibrary(const char* library_name);

}  // namespace sq71

#endif
