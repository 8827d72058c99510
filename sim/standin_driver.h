// The driver behind the stand-in libraries (libftd2xx.so, Ftd2xx.dll): the
// scenario that SQ71_SIM names, made on first use: its simulated meters, or
// the trace it replays (one meter with the sample log when unset). C exports
// have nowhere else to keep their driver: it is the one of the process that
// loaded the library.
#ifndef SQ71_SIM_STANDIN_DRIVER_H
#define SQ71_SIM_STANDIN_DRIVER_H

#include "usb/d2xx.h"
#include "usb/driver.h"

namespace sq71::sim {

Driver& StandinDriver();
// FT_ListDevices as the driver exports it: the count, and one device's
// serial number by index.
FT_STATUS StandinListDevices(void* arg1, void* arg2, uint32_t flags);
// FT_GetLatencyTimer; a replay has none.
FT_STATUS StandinGetLatencyTimer(FT_HANDLE handle, uint8_t* ms);

}  // namespace sq71::sim

#endif
