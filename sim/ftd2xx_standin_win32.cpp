// Stand-in for FTDI's Ftd2xx.dll. Exports the driver functions the program
// binds by name. This first version has no devices attached.
#include <windows.h>

#include "usb/d2xx.h"

#define SQ71_EXPORT extern "C" __declspec(dllexport)

SQ71_EXPORT FT_STATUS FT_API FT_Open(int, FT_HANDLE* handle) {
  if (handle != nullptr) *handle = nullptr;
  return FT_DEVICE_NOT_FOUND;
}
SQ71_EXPORT FT_STATUS FT_API FT_Close(FT_HANDLE) { return FT_INVALID_HANDLE; }
SQ71_EXPORT FT_STATUS FT_API FT_Read(FT_HANDLE, void*, uint32_t, uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  return FT_INVALID_HANDLE;
}
SQ71_EXPORT FT_STATUS FT_API FT_Write(FT_HANDLE, void*, uint32_t, uint32_t* written) {
  if (written != nullptr) *written = 0;
  return FT_INVALID_HANDLE;
}
SQ71_EXPORT FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE, uint32_t) { return FT_INVALID_HANDLE; }
SQ71_EXPORT FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE, uint8_t, uint8_t, uint8_t) {
  return FT_INVALID_HANDLE;
}
SQ71_EXPORT FT_STATUS FT_API FT_SetFlowControl(FT_HANDLE, uint16_t, uint8_t, uint8_t) {
  return FT_INVALID_HANDLE;
}
SQ71_EXPORT FT_STATUS FT_API FT_SetDtr(FT_HANDLE) { return FT_INVALID_HANDLE; }
SQ71_EXPORT FT_STATUS FT_API FT_ClrDtr(FT_HANDLE) { return FT_INVALID_HANDLE; }
SQ71_EXPORT FT_STATUS FT_API FT_Purge(FT_HANDLE, uint32_t) { return FT_INVALID_HANDLE; }
SQ71_EXPORT FT_STATUS FT_API FT_SetTimeouts(FT_HANDLE, uint32_t, uint32_t) {
  return FT_INVALID_HANDLE;
}
SQ71_EXPORT FT_STATUS FT_API FT_ListDevices(void* arg1, void*, uint32_t flags) {
  if ((flags & FT_LIST_NUMBER_ONLY) != 0 && arg1 != nullptr) *static_cast<uint32_t*>(arg1) = 0;
  return FT_OK;
}
SQ71_EXPORT FT_STATUS FT_API FT_EE_Read(FT_HANDLE, FT_PROGRAM_DATA*) { return FT_INVALID_HANDLE; }
