// Stand-in for FTDI's Ftd2xx.dll, serving the simulated meters to the Windows
// program under the driver's own export names. The bus is
// configured on the first call from the scenario file named by SQ71_SIM (one
// meter with the sample log when unset), or the trace it replays; a scenario
// error leaves no devices attached and is reported on stderr and in the trace
// file.
#include <windows.h>

#include "sim/standin_driver.h"
#include "usb/d2xx.h"

#define SQ71_EXPORT extern "C" __declspec(dllexport)

namespace {

sq71::Driver& Bus() { return sq71::sim::StandinDriver(); }

}  // namespace

SQ71_EXPORT FT_STATUS FT_API FT_Open(int index, FT_HANDLE* handle) {
  return Bus().Open(index, handle);
}
SQ71_EXPORT FT_STATUS FT_API FT_Close(FT_HANDLE handle) { return Bus().Close(handle); }
SQ71_EXPORT FT_STATUS FT_API FT_Read(FT_HANDLE handle, void* buffer, uint32_t wanted,
                                     uint32_t* returned) {
  return Bus().Read(handle, buffer, wanted, returned);
}
SQ71_EXPORT FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t count,
                                      uint32_t* written) {
  return Bus().Write(handle, buffer, count, written);
}
SQ71_EXPORT FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, uint32_t baud) {
  return Bus().SetBaudRate(handle, baud);
}
SQ71_EXPORT FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t word_length,
                                                       uint8_t stop_bits, uint8_t parity) {
  return Bus().SetDataCharacteristics(handle, word_length, stop_bits, parity);
}
SQ71_EXPORT FT_STATUS FT_API FT_SetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t xon,
                                               uint8_t xoff) {
  return Bus().SetFlowControl(handle, flow, xon, xoff);
}
SQ71_EXPORT FT_STATUS FT_API FT_SetDtr(FT_HANDLE handle) { return Bus().SetDtr(handle); }
SQ71_EXPORT FT_STATUS FT_API FT_ClrDtr(FT_HANDLE handle) { return Bus().ClrDtr(handle); }
SQ71_EXPORT FT_STATUS FT_API FT_Purge(FT_HANDLE handle, uint32_t mask) {
  return Bus().Purge(handle, mask);
}
SQ71_EXPORT FT_STATUS FT_API FT_SetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t write_ms) {
  return Bus().SetTimeouts(handle, read_ms, write_ms);
}
SQ71_EXPORT FT_STATUS FT_API FT_ListDevices(void* arg1, void* arg2, uint32_t flags) {
  return sq71::sim::StandinListDevices(arg1, arg2, flags);
}
SQ71_EXPORT FT_STATUS FT_API FT_EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) {
  return Bus().EE_Read(handle, data);
}
SQ71_EXPORT FT_STATUS FT_API FT_SetLatencyTimer(FT_HANDLE handle, uint8_t ms) {
  return Bus().SetLatencyTimer(handle, ms);
}
SQ71_EXPORT FT_STATUS FT_API FT_GetLatencyTimer(FT_HANDLE handle, uint8_t* ms) {
  return sq71::sim::StandinGetLatencyTimer(handle, ms);
}
// The stand-in's own version, 0.1.0: no driver FTDI ever shipped.
SQ71_EXPORT FT_STATUS FT_API FT_GetLibraryVersion(uint32_t* version) {
  if (version == nullptr) return FT_INVALID_PARAMETER;
  *version = 0x00000100;
  return FT_OK;
}
SQ71_EXPORT FT_STATUS FT_API FT_GetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes) {
  return Bus().GetQueueStatus(handle, rx_bytes);
}
