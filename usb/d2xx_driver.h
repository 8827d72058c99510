// FTDI's own D2XX driver library as a Driver: Ftd2xx.dll on Windows,
// libftd2xx.so / libftd2xx.dylib on Linux and macOS (same function names),
// loaded at run time by name so that the installed driver is the one used.
#ifndef SQ71_USB_D2XX_DRIVER_H
#define SQ71_USB_D2XX_DRIVER_H

#include <memory>
#include <string>

#include "usb/d2xx.h"
#include "usb/driver.h"

namespace sq71 {

// The calls of one bound function table. The object owns the library the
// table points into and gives it back when it goes.
class D2xxDriver : public Driver {
 public:
  using Unload = void (*)(void* module);
  // unload (may be null) is called with module on destruction.
  D2xxDriver(const D2xxFunctions& functions, void* module, Unload unload)
      : f_(functions), module_(module), unload_(unload) {}
  ~D2xxDriver() override;

  std::string name() const override { return "d2xx"; }
  FT_STATUS CountDevices(uint32_t* count) override;
  // The serial number the driver lists for the device, without opening it.
  std::string Where(int index) override;
  FT_STATUS Open(int index, FT_HANDLE* handle) override { return f_.Open(index, handle); }
  FT_STATUS Close(FT_HANDLE handle) override { return f_.Close(handle); }
  // The library may leave the count as it was when a call fails: 0 then.
  FT_STATUS Read(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* returned) override {
    if (returned != nullptr) *returned = 0;
    return f_.Read(handle, buffer, wanted, returned);
  }
  FT_STATUS Write(FT_HANDLE handle, const void* buffer, uint32_t count,
                  uint32_t* written) override {
    if (written != nullptr) *written = 0;
    // The driver's signature is not const-correct; it only reads the buffer.
    return f_.Write(handle, const_cast<void*>(buffer), count, written);
  }
  FT_STATUS SetBaudRate(FT_HANDLE handle, uint32_t baud) override {
    return f_.SetBaudRate(handle, baud);
  }
  FT_STATUS SetDataCharacteristics(FT_HANDLE handle, uint8_t word_length, uint8_t stop_bits,
                                   uint8_t parity) override {
    return f_.SetDataCharacteristics(handle, word_length, stop_bits, parity);
  }
  FT_STATUS SetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t xon, uint8_t xoff) override {
    return f_.SetFlowControl(handle, flow, xon, xoff);
  }
  FT_STATUS SetDtr(FT_HANDLE handle) override { return f_.SetDtr(handle); }
  FT_STATUS ClrDtr(FT_HANDLE handle) override { return f_.ClrDtr(handle); }
  FT_STATUS Purge(FT_HANDLE handle, uint32_t mask) override { return f_.Purge(handle, mask); }
  FT_STATUS SetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t write_ms) override {
    return f_.SetTimeouts(handle, read_ms, write_ms);
  }
  FT_STATUS EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) override {
    return f_.EE_Read(handle, data);
  }
  FT_STATUS SetLatencyTimer(FT_HANDLE handle, uint8_t ms) override;
  FT_STATUS GetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes) override;

  const D2xxFunctions& functions() const { return f_; }

 private:
  const D2xxFunctions f_;
  void* const module_;
  const Unload unload_;
};

// Loads the platform's library by name and binds its functions (one per
// platform: d2xx_driver_win32, d2xx_driver_posix). Null, with the reason in
// *error, when it cannot be loaded or lacks one of the functions every
// command needs; FT_SetLatencyTimer and FT_GetQueueStatus are bound where the
// library has them.
std::unique_ptr<D2xxDriver> LoadD2xxDriver(std::string* error);

}  // namespace sq71

#endif
