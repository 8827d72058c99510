// Which meter a command talks to, and through which backend.
#ifndef SQ71_CLI_BACKEND_SELECT_H
#define SQ71_CLI_BACKEND_SELECT_H

#include <memory>
#include <string>
#include <vector>

#include "usb/driver.h"

namespace sq71 {

// The backends' names: the rows of Backends() and whatever else must tell
// them apart use these.
constexpr char kAutoBackend[] = "auto";
constexpr char kD2xxBackend[] = "d2xx";
constexpr char kLibftdiBackend[] = "libftdi";
constexpr char kTtyBackend[] = "tty";

// The DEVICE options of the meter commands.
struct DeviceChoice {
  std::string backend = kAutoBackend;  // --backend: a name from Backends()
  int index = 0;                 // -d: among the devices the backend counts
  bool index_given = false;
  std::string port;   // --port: a serial port, for the tty backend
  std::string sim;    // --sim FILE: a scenario file for the simulated meter
  bool sim_demo = false;  // --sim alone: the built-in demo meter
  std::string trace;  // --trace: the file every driver call is recorded in

  // Whether the meter is a simulated one (the demo or a scenario file's).
  bool UsesSim() const { return sim_demo || !sim.empty(); }
};

// The backends --backend names, each named here once: "auto" first, the
// default. make() returns the backend's driver, or null with the reason.
struct BackendRow {
  const char* name;
  std::unique_ptr<Driver> (*make)(const DeviceChoice& choice, std::string* error);
};
const std::vector<BackendRow>& Backends();
std::vector<std::string> BackendNames();
// "auto (default), d2xx, libftdi or tty", for the help.
const char* BackendHelp();

// The driver of the backend the choice names. Null on failure, with one line
// saying why in *error ("the libftdi backend is not built in", the loader's
// reason, ...). Wrong combinations of options are caught by the parser.
std::unique_ptr<Driver> SelectDriver(const DeviceChoice& choice, std::string* error);

// A driver seen through one of its devices: device `index` is its device 0
// and the only one it counts (none when the driver has no such device), so
// the core's "device 0" is the device the user chose. With whole_list every
// device is counted, as they are.
class ChosenDevice : public Driver {
 public:
  ChosenDevice(Driver& base, int index, bool whole_list)
      : base_(base), offset_(whole_list ? 0 : index), whole_list_(whole_list) {}

  // The base driver's index of the view's device `index`.
  int BaseIndex(int index) const { return index + offset_; }

  std::string name() const override { return base_.name(); }
  FT_STATUS CountDevices(uint32_t* count) override;
  std::string Where(int index) override { return base_.Where(BaseIndex(index)); }
  FT_STATUS Open(int index, FT_HANDLE* handle) override {
    return base_.Open(BaseIndex(index), handle);
  }
  FT_STATUS Close(FT_HANDLE handle) override { return base_.Close(handle); }
  FT_STATUS Read(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* returned) override {
    return base_.Read(handle, buffer, wanted, returned);
  }
  FT_STATUS Write(FT_HANDLE handle, const void* buffer, uint32_t count,
                  uint32_t* written) override {
    return base_.Write(handle, buffer, count, written);
  }
  FT_STATUS SetBaudRate(FT_HANDLE handle, uint32_t baud) override {
    return base_.SetBaudRate(handle, baud);
  }
  FT_STATUS SetDataCharacteristics(FT_HANDLE handle, uint8_t word_length, uint8_t stop_bits,
                                   uint8_t parity) override {
    return base_.SetDataCharacteristics(handle, word_length, stop_bits, parity);
  }
  FT_STATUS SetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t xon, uint8_t xoff) override {
    return base_.SetFlowControl(handle, flow, xon, xoff);
  }
  FT_STATUS SetDtr(FT_HANDLE handle) override { return base_.SetDtr(handle); }
  FT_STATUS ClrDtr(FT_HANDLE handle) override { return base_.ClrDtr(handle); }
  FT_STATUS Purge(FT_HANDLE handle, uint32_t mask) override { return base_.Purge(handle, mask); }
  FT_STATUS SetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t write_ms) override {
    return base_.SetTimeouts(handle, read_ms, write_ms);
  }
  FT_STATUS EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) override {
    return base_.EE_Read(handle, data);
  }
  FT_STATUS SetLatencyTimer(FT_HANDLE handle, uint8_t ms) override {
    return base_.SetLatencyTimer(handle, ms);
  }
  FT_STATUS GetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes) override {
    return base_.GetQueueStatus(handle, rx_bytes);
  }
  bool partial_identity() const override { return base_.partial_identity(); }
  std::string last_error() const override { return base_.last_error(); }
  DriverFailure last_failure() const override { return base_.last_failure(); }

 private:
  Driver& base_;
  const int offset_;
  const bool whole_list_;
};

// A driver status in words with its number: "no such device, status 2".
std::string StatusWithName(FT_STATUS status);

// "device 2 (sim, CD710003)": how errors name the device.
std::string DeviceLabel(Driver& driver, int index);

}  // namespace sq71

#endif
