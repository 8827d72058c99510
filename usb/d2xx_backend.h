// FTDI's own D2XX driver library as a backend: Ftd2xx.dll on Windows,
// libftd2xx.so / libftd2xx.dylib on Linux and macOS (same function names),
// loaded at run time by name so that the installed driver is the one used.
#ifndef SQ71_USB_D2XX_BACKEND_H
#define SQ71_USB_D2XX_BACKEND_H

#include <string>

#include "usb/backend.h"
#include "usb/d2xx.h"

namespace sq71 {

// Loads the library (once per process; later calls reuse it) and fills *out
// as the "d2xx" backend; FT_SetLatencyTimer is bound when the library has it.
// Returns false with the reason in *error when the library cannot be loaded
// or lacks one of the functions every command needs.
bool MakeD2xxBackend(Backend* out, std::string* error);

// Loads the platform's library by name and binds its functions; false with
// the reason in *error when that fails. One per platform (d2xx_backend_win32,
// d2xx_dlopen_posix); MakeD2xxBackend calls it once.
bool LoadD2xxDriver(D2xxFunctions* functions, std::string* error);

// The serial number the driver lists for device `index` (without opening
// it), or "" when it lists none.
std::string D2xxSerialNumber(const D2xxFunctions& d2xx, int index);

}  // namespace sq71

#endif
