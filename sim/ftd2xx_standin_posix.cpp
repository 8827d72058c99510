// Stand-in for FTDI's libftd2xx.so / libftd2xx.dylib, serving the simulated
// meters under the driver's own function names, so the command-line tool's
// d2xx backend can be run without FTDI's library or a meter. The bus is
// configured on the first call from the scenario file named by SQ71_SIM (one
// meter with the sample log when unset); a scenario error leaves no devices
// attached and is reported on stderr and in the trace file.
#include <mutex>
#include <string>

#include "sim/sim_driver.h"
#include "usb/d2xx.h"

#define SQ71_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void EnsureBus() {
  static std::once_flag once;
  std::call_once(once, [] {
    sq71::sim::SetMemoryTrace(false);
    std::string error;
    sq71::sim::ConfigureBusFromEnvironment(&error);
  });
}

}  // namespace

SQ71_EXPORT FT_STATUS FT_Open(int index, FT_HANDLE* handle) {
  EnsureBus();
  return sq71::sim::SimOpen(index, handle);
}
SQ71_EXPORT FT_STATUS FT_Close(FT_HANDLE handle) {
  EnsureBus();
  return sq71::sim::SimClose(handle);
}
SQ71_EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* returned) {
  EnsureBus();
  return sq71::sim::SimRead(handle, buffer, wanted, returned);
}
SQ71_EXPORT FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, uint32_t count, uint32_t* written) {
  EnsureBus();
  return sq71::sim::SimWrite(handle, buffer, count, written);
}
SQ71_EXPORT FT_STATUS FT_SetBaudRate(FT_HANDLE handle, uint32_t baud) {
  EnsureBus();
  return sq71::sim::SimSetBaudRate(handle, baud);
}
SQ71_EXPORT FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t word_length,
                                                uint8_t stop_bits, uint8_t parity) {
  EnsureBus();
  return sq71::sim::SimSetDataCharacteristics(handle, word_length, stop_bits, parity);
}
SQ71_EXPORT FT_STATUS FT_SetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t xon,
                                        uint8_t xoff) {
  EnsureBus();
  return sq71::sim::SimSetFlowControl(handle, flow, xon, xoff);
}
SQ71_EXPORT FT_STATUS FT_SetDtr(FT_HANDLE handle) {
  EnsureBus();
  return sq71::sim::SimSetDtr(handle);
}
SQ71_EXPORT FT_STATUS FT_ClrDtr(FT_HANDLE handle) {
  EnsureBus();
  return sq71::sim::SimClrDtr(handle);
}
SQ71_EXPORT FT_STATUS FT_Purge(FT_HANDLE handle, uint32_t mask) {
  EnsureBus();
  return sq71::sim::SimPurge(handle, mask);
}
SQ71_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t write_ms) {
  EnsureBus();
  return sq71::sim::SimSetTimeouts(handle, read_ms, write_ms);
}
SQ71_EXPORT FT_STATUS FT_ListDevices(void* arg1, void* arg2, uint32_t flags) {
  EnsureBus();
  return sq71::sim::SimListDevices(arg1, arg2, flags);
}
SQ71_EXPORT FT_STATUS FT_EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) {
  EnsureBus();
  return sq71::sim::SimEE_Read(handle, data);
}
SQ71_EXPORT FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, uint8_t ms) {
  EnsureBus();
  return sq71::sim::SimSetLatencyTimer(handle, ms);
}
SQ71_EXPORT FT_STATUS FT_GetLatencyTimer(FT_HANDLE handle, uint8_t* ms) {
  EnsureBus();
  return sq71::sim::SimGetLatencyTimer(handle, ms);
}
SQ71_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes) {
  EnsureBus();
  return sq71::sim::SimGetQueueStatus(handle, rx_bytes);
}
