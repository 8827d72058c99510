// The simulated D2XX driver: the driver functions the program calls, served
// over one process-wide bus of simulated meters, each behind a model of an
// FT232R chip.
//
// Timing: ft232r_timing.h models when things happen; in wire mode every call
// lasts as long as the model says, on the wall clock. FT_Read returns when
// the wanted count has been delivered or its read time-out has passed (FT_OK
// with fewer bytes). A read time-out of 0 waits as long as bytes are still
// coming, never for bytes that are not.
//
// The meter only understands its line at 115200 baud, 8 data bits, 1 stop
// bit, no parity; FT_Open leaves the chip at 9600 baud, so an unconfigured
// line gets no replies. A device is opened by one handle at a time. A device
// pulled out (the unplug fault) fails every call on its handle with
// FT_IO_ERROR and is no longer listed or opened.
//
// Trace: one line per driver call, per frame written and read, and per
// request the meter handles, e.g.
//   FT_Open index=0 -> 0 handle=1
//   FT_Write handle=1 count=8 -> 0 written=8
//   WRITE 02 00 04 4C 52 00 05 E1
//   METER 0 LR 5: reply 72 bytes
//   FT_Read handle=1 wanted=72 -> 0 read=72
//   READ 72 06 00 44 4C 52 00 05 ...
// kept in memory for tests and, when configured, written to a file and
// flushed line by line.
#ifndef SQ71_SIM_SIM_DRIVER_H
#define SQ71_SIM_SIM_DRIVER_H

#include <string>
#include <vector>

#include "sim/ft232r_timing.h"
#include "sim/scenario.h"
#include "usb/d2xx.h"

namespace sq71::sim {

// Replaces the whole bus with the scenario's devices, timing and trace file.
// Handles from before become invalid; the in-memory trace starts afresh.
void ConfigureBus(const Scenario& scenario);

// Configures from the scenario file named by SQ71_SIM, or DefaultScenario()
// when it is unset or empty. On an error the bus has no devices, the error is
// written to stderr and to the trace file if the scenario got as far as
// naming one, and false is returned with the message in *error.
bool ConfigureBusFromEnvironment(std::string* error);

int MeterCount();
// The meter at an index (null past the end), for tests to inspect or change.
// Valid until the bus is configured again.
SimulatedMeter* MeterAt(int index);

std::vector<std::string> TraceLines();
void ClearTrace();
// Whether trace lines are kept in memory too (the stand-in DLL keeps only
// the file).
void SetMemoryTrace(bool on);

// The driver table over the bus.
const D2xxFunctions& SimD2xxFunctions();

// The driver functions themselves, for the stand-in DLL to export.
FT_STATUS FT_API SimOpen(int index, FT_HANDLE* handle);
FT_STATUS FT_API SimClose(FT_HANDLE handle);
FT_STATUS FT_API SimRead(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* returned);
FT_STATUS FT_API SimWrite(FT_HANDLE handle, void* buffer, uint32_t count, uint32_t* written);
FT_STATUS FT_API SimSetBaudRate(FT_HANDLE handle, uint32_t baud);
FT_STATUS FT_API SimSetDataCharacteristics(FT_HANDLE handle, uint8_t word_length, uint8_t stop_bits,
                                           uint8_t parity);
FT_STATUS FT_API SimSetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t xon, uint8_t xoff);
FT_STATUS FT_API SimSetDtr(FT_HANDLE handle);
FT_STATUS FT_API SimClrDtr(FT_HANDLE handle);
FT_STATUS FT_API SimPurge(FT_HANDLE handle, uint32_t mask);
FT_STATUS FT_API SimSetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t write_ms);
FT_STATUS FT_API SimListDevices(void* arg1, void* arg2, uint32_t flags);
FT_STATUS FT_API SimEE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data);
FT_STATUS FT_API SimSetLatencyTimer(FT_HANDLE handle, uint8_t ms);
FT_STATUS FT_API SimGetLatencyTimer(FT_HANDLE handle, uint8_t* ms);
FT_STATUS FT_API SimGetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes);

}  // namespace sq71::sim

#endif
