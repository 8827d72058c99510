// The simulated D2XX driver: the driver calls the program makes, served over
// a bus of simulated meters, each behind a model of an FT232R chip.
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

#include <memory>
#include <string>
#include <vector>

#include "sim/ft232r_timing.h"
#include "sim/scenario.h"
#include "usb/d2xx.h"
#include "usb/driver.h"

namespace sq71::sim {

struct SimBus;

// A bus of simulated meters as a driver. Each object is a bus of its own;
// it starts with no devices attached.
class SimDriver : public Driver {
 public:
  SimDriver();
  explicit SimDriver(const Scenario& scenario);
  ~SimDriver() override;

  // Replaces the whole bus with the scenario's devices, timing and trace
  // file. Handles from before become invalid; the in-memory trace starts
  // afresh.
  void Configure(const Scenario& scenario);

  // Configures from the scenario file named by SQ71_SIM, or
  // DefaultScenario() when it is unset or empty. On an error the bus has no
  // devices, the error is written to stderr and to the trace file if the
  // scenario got as far as naming one, and false is returned with the
  // message in *error.
  bool ConfigureFromEnvironment(std::string* error);

  int MeterCount();
  // The meter at an index (null past the end), for tests to inspect or
  // change. Valid until the bus is configured again.
  SimulatedMeter* MeterAt(int index);

  std::vector<std::string> TraceLines();
  void ClearTrace();
  // Whether trace lines are kept in memory too (a command's whole session
  // would otherwise be kept; the stand-in library keeps only the file).
  void SetMemoryTrace(bool on);

  std::string name() const override { return "sim"; }
  FT_STATUS CountDevices(uint32_t* count) override;
  // The device's serial number, as the listing names it.
  std::string Where(int index) override;
  FT_STATUS Open(int index, FT_HANDLE* handle) override;
  FT_STATUS Close(FT_HANDLE handle) override;
  FT_STATUS Read(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* returned) override;
  FT_STATUS Write(FT_HANDLE handle, const void* buffer, uint32_t count, uint32_t* written) override;
  FT_STATUS SetBaudRate(FT_HANDLE handle, uint32_t baud) override;
  FT_STATUS SetDataCharacteristics(FT_HANDLE handle, uint8_t word_length, uint8_t stop_bits,
                                   uint8_t parity) override;
  FT_STATUS SetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t xon, uint8_t xoff) override;
  FT_STATUS SetDtr(FT_HANDLE handle) override;
  FT_STATUS ClrDtr(FT_HANDLE handle) override;
  FT_STATUS Purge(FT_HANDLE handle, uint32_t mask) override;
  FT_STATUS SetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t write_ms) override;
  FT_STATUS EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) override;
  FT_STATUS SetLatencyTimer(FT_HANDLE handle, uint8_t ms) override;
  FT_STATUS GetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes) override;

  // FT_ListDevices as the driver exports it: the count, and one device's
  // serial number by index. For the stand-in library.
  FT_STATUS ListDevices(void* arg1, void* arg2, uint32_t flags);
  FT_STATUS GetLatencyTimer(FT_HANDLE handle, uint8_t* ms);

 private:
  FT_STATUS SetDtrLine(FT_HANDLE handle, bool on);

  std::unique_ptr<SimBus> bus_;
};

}  // namespace sq71::sim

#endif
