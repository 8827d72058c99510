// Loads the D2XX driver library and binds the functions the program calls.
#ifndef SQ71_USB_D2XX_LOADER_WIN32_H
#define SQ71_USB_D2XX_LOADER_WIN32_H

#include <windows.h>

#include "usb/d2xx.h"

namespace sq71 {

// The library's file name, as the driver installs it.
constexpr const char* kD2xxLibraryName = "Ftd2xx.dll";

// Finds one export by name; null when the library lacks it.
using ExportLookup = FARPROC (*)(void* context, const char* name);

// Fills functions with every driver function through lookup. Returns false,
// and leaves every entry null, when any one is missing: a half-bound table
// would fail later, in the middle of a command. FT_SetLatencyTimer is the
// exception: optional, its slot stays null when the library lacks it.
bool BindD2xxFunctions(ExportLookup lookup, void* context, D2xxFunctions* functions);

// Loads library_name and binds its functions. Returns the module, or null
// when the library cannot be loaded or lacks one of the functions (the
// library is then unloaded again and functions left all null).
HMODULE LoadD2xxLibrary(const char* library_name, D2xxFunctions* functions);

}  // namespace sq71

#endif
