// Our own declarations of the part of FTDI's D2XX driver API that the program
// uses: types, constants, the EEPROM record and a table of the functions, so
// the same code can run on the real driver (bound at run time), on the
// simulated meter, or on a test's fake.
#ifndef SQ71_USB_D2XX_H
#define SQ71_USB_D2XX_H

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define FT_API __stdcall
#else
#define FT_API
#endif

typedef void* FT_HANDLE;
typedef uint32_t FT_STATUS;

enum : FT_STATUS {
  FT_OK = 0,
  FT_INVALID_HANDLE = 1,
  FT_DEVICE_NOT_FOUND = 2,
  FT_DEVICE_NOT_OPENED = 3,
  FT_IO_ERROR = 4,
  FT_INSUFFICIENT_RESOURCES = 5,
  FT_INVALID_PARAMETER = 6,
  FT_INVALID_BAUD_RATE = 7,
  FT_DEVICE_NOT_OPENED_FOR_ERASE = 8,
  FT_DEVICE_NOT_OPENED_FOR_WRITE = 9,
  FT_FAILED_TO_WRITE_DEVICE = 10,
  FT_EEPROM_READ_FAILED = 11,
  FT_EEPROM_WRITE_FAILED = 12,
  FT_EEPROM_ERASE_FAILED = 13,
  FT_EEPROM_NOT_PRESENT = 14,
  FT_EEPROM_NOT_PROGRAMMED = 15,
  FT_INVALID_ARGS = 16,
  FT_NOT_SUPPORTED = 17,
  FT_OTHER_ERROR = 18,
  FT_DEVICE_LIST_NOT_READY = 19,
};

constexpr uint8_t FT_BITS_8 = 8;
constexpr uint8_t FT_BITS_7 = 7;
constexpr uint8_t FT_STOP_BITS_1 = 0;
constexpr uint8_t FT_STOP_BITS_2 = 2;
constexpr uint8_t FT_PARITY_NONE = 0;
constexpr uint8_t FT_PARITY_ODD = 1;
constexpr uint8_t FT_PARITY_EVEN = 2;
constexpr uint8_t FT_PARITY_MARK = 3;
constexpr uint8_t FT_PARITY_SPACE = 4;

constexpr uint16_t FT_FLOW_NONE = 0x0000;
constexpr uint16_t FT_FLOW_RTS_CTS = 0x0100;
constexpr uint16_t FT_FLOW_DTR_DSR = 0x0200;
constexpr uint16_t FT_FLOW_XON_XOFF = 0x0400;

constexpr uint32_t FT_PURGE_RX = 1;
constexpr uint32_t FT_PURGE_TX = 2;

constexpr uint32_t FT_LIST_NUMBER_ONLY = 0x80000000u;
constexpr uint32_t FT_LIST_BY_INDEX = 0x40000000u;
constexpr uint32_t FT_LIST_ALL = 0x20000000u;
// With FT_LIST_BY_INDEX: what to list (arg1 the index, arg2 a buffer of 16
// characters for a serial number, 64 for a description).
constexpr uint32_t FT_OPEN_BY_SERIAL_NUMBER = 1;
constexpr uint32_t FT_OPEN_BY_DESCRIPTION = 2;

constexpr uint8_t FT_232R_CBUS_SLEEP = 5;

// The driver's EEPROM record, declared whole (version 5 layout) so that the
// driver can never write past it whatever version it is asked for.
struct FT_PROGRAM_DATA {
  uint32_t Signature1;  // 0x00000000
  uint32_t Signature2;  // 0xFFFFFFFF
  uint32_t Version;
  uint16_t VendorId;
  uint16_t ProductId;
  char* Manufacturer;
  char* ManufacturerId;
  char* Description;
  char* SerialNumber;
  uint16_t MaxPower;
  uint16_t PnP;
  uint16_t SelfPowered;
  uint16_t RemoteWakeup;
  // FT232B extensions.
  uint8_t Rev4;
  uint8_t IsoIn;
  uint8_t IsoOut;
  uint8_t PullDownEnable;
  uint8_t SerNumEnable;
  uint8_t USBVersionEnable;
  uint16_t USBVersion;
  // FT2232 extensions (version 1).
  uint8_t Rev5;
  uint8_t IsoInA;
  uint8_t IsoInB;
  uint8_t IsoOutA;
  uint8_t IsoOutB;
  uint8_t PullDownEnable5;
  uint8_t SerNumEnable5;
  uint8_t USBVersionEnable5;
  uint16_t USBVersion5;
  uint8_t AIsHighCurrent;
  uint8_t BIsHighCurrent;
  uint8_t IFAIsFifo;
  uint8_t IFAIsFifoTar;
  uint8_t IFAIsFastSer;
  uint8_t AIsVCP;
  uint8_t IFBIsFifo;
  uint8_t IFBIsFifoTar;
  uint8_t IFBIsFastSer;
  uint8_t BIsVCP;
  // FT232R extensions (version 2).
  uint8_t UseExtOsc;
  uint8_t HighDriveIOs;
  uint8_t EndpointSize;
  uint8_t PullDownEnableR;
  uint8_t SerNumEnableR;
  uint8_t InvertTXD;
  uint8_t InvertRXD;
  uint8_t InvertRTS;
  uint8_t InvertCTS;
  uint8_t InvertDTR;
  uint8_t InvertDSR;
  uint8_t InvertDCD;
  uint8_t InvertRI;
  uint8_t Cbus0;
  uint8_t Cbus1;
  uint8_t Cbus2;
  uint8_t Cbus3;
  uint8_t Cbus4;
  uint8_t RIsD2XX;
  // FT2232H extensions (version 3).
  uint8_t PullDownEnable7;
  uint8_t SerNumEnable7;
  uint8_t ALSlowSlew;
  uint8_t ALSchmittInput;
  uint8_t ALDriveCurrent;
  uint8_t AHSlowSlew;
  uint8_t AHSchmittInput;
  uint8_t AHDriveCurrent;
  uint8_t BLSlowSlew;
  uint8_t BLSchmittInput;
  uint8_t BLDriveCurrent;
  uint8_t BHSlowSlew;
  uint8_t BHSchmittInput;
  uint8_t BHDriveCurrent;
  uint8_t IFAIsFifo7;
  uint8_t IFAIsFifoTar7;
  uint8_t IFAIsFastSer7;
  uint8_t AIsVCP7;
  uint8_t IFBIsFifo7;
  uint8_t IFBIsFifoTar7;
  uint8_t IFBIsFastSer7;
  uint8_t BIsVCP7;
  uint8_t PowerSaveEnable;
  // FT4232H extensions (version 4).
  uint8_t PullDownEnable8;
  uint8_t SerNumEnable8;
  uint8_t ASlowSlew;
  uint8_t ASchmittInput;
  uint8_t ADriveCurrent;
  uint8_t BSlowSlew;
  uint8_t BSchmittInput;
  uint8_t BDriveCurrent;
  uint8_t CSlowSlew;
  uint8_t CSchmittInput;
  uint8_t CDriveCurrent;
  uint8_t DSlowSlew;
  uint8_t DSchmittInput;
  uint8_t DDriveCurrent;
  uint8_t ARIIsTXDEN;
  uint8_t BRIIsTXDEN;
  uint8_t CRIIsTXDEN;
  uint8_t DRIIsTXDEN;
  uint8_t AIsVCP8;
  uint8_t BIsVCP8;
  uint8_t CIsVCP8;
  uint8_t DIsVCP8;
  // FT232H extensions (version 5).
  uint8_t PullDownEnableH;
  uint8_t SerNumEnableH;
  uint8_t ACSlowSlewH;
  uint8_t ACSchmittInputH;
  uint8_t ACDriveCurrentH;
  uint8_t ADSlowSlewH;
  uint8_t ADSchmittInputH;
  uint8_t ADDriveCurrentH;
  uint8_t Cbus0H;
  uint8_t Cbus1H;
  uint8_t Cbus2H;
  uint8_t Cbus3H;
  uint8_t Cbus4H;
  uint8_t Cbus5H;
  uint8_t Cbus6H;
  uint8_t Cbus7H;
  uint8_t Cbus8H;
  uint8_t Cbus9H;
  uint8_t IsFifoH;
  uint8_t IsFifoTarH;
  uint8_t IsFastSerH;
  uint8_t IsFT1248H;
  uint8_t FT1248CpolH;
  uint8_t FT1248LsbH;
  uint8_t FT1248FlowControlH;
  uint8_t IsVCPH;
  uint8_t PowerSaveEnableH;
};

// The driver lays the record out with default packing; these offsets must
// match it for both pointer sizes.
#define SQ71_CHECK_OFFSET(field, off32, off64) \
  static_assert(offsetof(FT_PROGRAM_DATA, field) == (sizeof(void*) == 4 ? (off32) : (off64)), \
                "FT_PROGRAM_DATA." #field " offset")
SQ71_CHECK_OFFSET(Signature2, 4, 4);
SQ71_CHECK_OFFSET(Version, 8, 8);
SQ71_CHECK_OFFSET(VendorId, 12, 12);
SQ71_CHECK_OFFSET(ProductId, 14, 14);
SQ71_CHECK_OFFSET(Manufacturer, 16, 16);
SQ71_CHECK_OFFSET(ManufacturerId, 20, 24);
SQ71_CHECK_OFFSET(Description, 24, 32);
SQ71_CHECK_OFFSET(SerialNumber, 28, 40);
SQ71_CHECK_OFFSET(MaxPower, 32, 48);
SQ71_CHECK_OFFSET(RemoteWakeup, 38, 54);
SQ71_CHECK_OFFSET(Rev4, 40, 56);
SQ71_CHECK_OFFSET(USBVersion, 46, 62);
SQ71_CHECK_OFFSET(Rev5, 48, 64);
SQ71_CHECK_OFFSET(USBVersion5, 56, 72);
SQ71_CHECK_OFFSET(AIsHighCurrent, 58, 74);
SQ71_CHECK_OFFSET(BIsVCP, 67, 83);
SQ71_CHECK_OFFSET(UseExtOsc, 68, 84);
SQ71_CHECK_OFFSET(SerNumEnableR, 72, 88);
SQ71_CHECK_OFFSET(InvertTXD, 73, 89);
SQ71_CHECK_OFFSET(InvertRI, 80, 96);
SQ71_CHECK_OFFSET(Cbus0, 81, 97);
SQ71_CHECK_OFFSET(Cbus4, 85, 101);
SQ71_CHECK_OFFSET(RIsD2XX, 86, 102);
SQ71_CHECK_OFFSET(PullDownEnable7, 87, 103);
SQ71_CHECK_OFFSET(PowerSaveEnable, 109, 125);
SQ71_CHECK_OFFSET(PullDownEnable8, 110, 126);
SQ71_CHECK_OFFSET(DIsVCP8, 131, 147);
SQ71_CHECK_OFFSET(PullDownEnableH, 132, 148);
SQ71_CHECK_OFFSET(PowerSaveEnableH, 158, 174);
#undef SQ71_CHECK_OFFSET
static_assert(sizeof(FT_PROGRAM_DATA) == (sizeof(void*) == 4 ? 160 : 176),
              "FT_PROGRAM_DATA size");

// Function types, each with the driver's calling convention.
typedef FT_STATUS(FT_API* FT_OpenFn)(int device_number, FT_HANDLE* handle);
typedef FT_STATUS(FT_API* FT_CloseFn)(FT_HANDLE handle);
typedef FT_STATUS(FT_API* FT_ReadFn)(FT_HANDLE handle, void* buffer, uint32_t to_read,
                                     uint32_t* returned);
typedef FT_STATUS(FT_API* FT_WriteFn)(FT_HANDLE handle, void* buffer, uint32_t to_write,
                                      uint32_t* written);
typedef FT_STATUS(FT_API* FT_SetBaudRateFn)(FT_HANDLE handle, uint32_t baud);
typedef FT_STATUS(FT_API* FT_SetDataCharacteristicsFn)(FT_HANDLE handle, uint8_t word_length,
                                                       uint8_t stop_bits, uint8_t parity);
typedef FT_STATUS(FT_API* FT_SetFlowControlFn)(FT_HANDLE handle, uint16_t flow, uint8_t xon,
                                               uint8_t xoff);
typedef FT_STATUS(FT_API* FT_SetDtrFn)(FT_HANDLE handle);
typedef FT_STATUS(FT_API* FT_ClrDtrFn)(FT_HANDLE handle);
typedef FT_STATUS(FT_API* FT_PurgeFn)(FT_HANDLE handle, uint32_t mask);
typedef FT_STATUS(FT_API* FT_SetTimeoutsFn)(FT_HANDLE handle, uint32_t read_ms,
                                            uint32_t write_ms);
typedef FT_STATUS(FT_API* FT_ListDevicesFn)(void* arg1, void* arg2, uint32_t flags);
typedef FT_STATUS(FT_API* FT_EE_ReadFn)(FT_HANDLE handle, FT_PROGRAM_DATA* data);
typedef FT_STATUS(FT_API* FT_SetLatencyTimerFn)(FT_HANDLE handle, uint8_t ms);
typedef FT_STATUS(FT_API* FT_GetLatencyTimerFn)(FT_HANDLE handle, uint8_t* ms);
typedef FT_STATUS(FT_API* FT_GetQueueStatusFn)(FT_HANDLE handle, uint32_t* rx_bytes);
// The library's version, 0x00MMmmbb (3.2.16: 0x00030216).
typedef FT_STATUS(FT_API* FT_GetLibraryVersionFn)(uint32_t* version);

namespace sq71 {

// The driver functions the program calls. Filled by the Win32 loader from the
// real (or stand-in) library, by the simulated meter, or by a test's fake.
struct D2xxFunctions {
  FT_OpenFn Open = nullptr;
  FT_CloseFn Close = nullptr;
  FT_ReadFn Read = nullptr;
  FT_WriteFn Write = nullptr;
  FT_SetBaudRateFn SetBaudRate = nullptr;
  FT_SetDataCharacteristicsFn SetDataCharacteristics = nullptr;
  FT_SetFlowControlFn SetFlowControl = nullptr;
  FT_SetDtrFn SetDtr = nullptr;
  FT_ClrDtrFn ClrDtr = nullptr;
  FT_PurgeFn Purge = nullptr;
  FT_SetTimeoutsFn SetTimeouts = nullptr;
  FT_ListDevicesFn ListDevices = nullptr;
  FT_EE_ReadFn EE_Read = nullptr;
  // Optional: not every driver exports it. Null means the chip keeps the
  // latency timer it has.
  FT_SetLatencyTimerFn SetLatencyTimer = nullptr;
  // Optional likewise: the bytes waiting in the driver's receive queue.
  FT_GetQueueStatusFn GetQueueStatus = nullptr;
  // Optional too; only asked by the doctor.
  FT_GetLibraryVersionFn GetLibraryVersion = nullptr;
};

}  // namespace sq71

#endif
