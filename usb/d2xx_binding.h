// Binding the driver functions the program calls from a loaded D2XX library,
// by name: the same for Ftd2xx.dll (GetProcAddress) and libftd2xx (dlsym).
#ifndef SQ71_USB_D2XX_BINDING_H
#define SQ71_USB_D2XX_BINDING_H

#include "usb/d2xx.h"

namespace sq71 {

// Finds one export by name; null when the library lacks it.
using ExportLookup = void* (*)(void* context, const char* name);

// Fills functions with every driver function through lookup. Returns false,
// and leaves every entry null, when any one is missing: a half-bound table
// would fail later, in the middle of a command; *missing (when given) then
// names the first one. FT_SetLatencyTimer, FT_GetQueueStatus and
// FT_GetLibraryVersion are the exceptions: optional, their slots stay null
// when the library lacks them.
bool BindD2xxFunctions(ExportLookup lookup, void* context, D2xxFunctions* functions,
                       const char** missing = nullptr);

}  // namespace sq71

#endif
