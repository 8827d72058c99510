// A driver that records every call made through it, with its arguments, its
// status and the bytes that passed, in the simulator's trace format, then
// passes it on to the driver it wraps. A trace of a session with a real meter
// is what a user sends in when the meter misbehaves, and what the simulator
// can replay. One line per call, plus a line with the bytes of each write and
// read:
//
//   0 TRACE driver=libftdi
//   1843 FT_Open index=0 -> 0 handle=1
//   5120 FT_Write handle=1 count=8 -> 0 written=8
//   5121 WRITE 02 00 04 4C 52 00 05 E1
//   17012 FT_Read handle=1 wanted=72 -> 0 read=72
//   17013 READ 72 06 00 44 4C 52 00 05 ...
//
// Each line starts with the microseconds since the trace began (monotonic
// clock) and is flushed as it is written, so a crash keeps what came before.
// Handles are numbered 1, 2, ... in the order they are opened, whatever the
// backend's own handles are, so traces of one session compare equal.
#ifndef SQ71_USB_TRACING_DRIVER_H
#define SQ71_USB_TRACING_DRIVER_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "usb/driver.h"

namespace sq71 {

// Where trace lines go.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void Line(const std::string& text) = 0;
};

// A trace file: each line stamped with the microseconds since the file was
// opened, and flushed.
class TraceFile : public TraceSink {
 public:
  // Lines into file, which the caller opened (log/trace_output.h opens
  // files through the program's one writer); closed with the trace when
  // owned.
  static std::unique_ptr<TraceFile> Over(std::FILE* file, bool owned);
  ~TraceFile() override;
  void Line(const std::string& text) override;

 private:
  TraceFile(std::FILE* file, bool owned);
  std::mutex mutex_;
  std::FILE* file_;
  bool owned_;
  std::chrono::steady_clock::time_point start_;
};

// " 02 00 04": each byte as a blank and two upper-case hex digits.
std::string TraceHex(const uint8_t* bytes, std::size_t count);
// "text" in double quotes, with \" \\ and \xNN for anything not printable.
std::string TraceQuoted(const std::string& text);

class TracingDriver : public Driver {
 public:
  // Writes the TRACE line naming the wrapped driver at once.
  TracingDriver(Driver& inner, TraceSink& sink);
  // The same, owning both.
  TracingDriver(std::unique_ptr<Driver> inner, std::unique_ptr<TraceSink> sink);

  std::string name() const override { return inner_.name(); }
  FT_STATUS CountDevices(uint32_t* count) override;
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
  bool partial_identity() const override { return inner_.partial_identity(); }
  std::string last_error() const override { return inner_.last_error(); }
  DriverFailure last_failure() const override { return inner_.last_failure(); }

 private:
  // "handle=N" with the trace's own number for the handle.
  std::string HandleText(FT_HANDLE handle);
  // Writes "call -> status[ tail]", adding the backend's own text for a
  // failure when it has something new to say.
  FT_STATUS Done(const std::string& call, FT_STATUS status, const std::string& tail = "");

  std::unique_ptr<Driver> owned_inner_;
  std::unique_ptr<TraceSink> owned_sink_;
  Driver& inner_;
  TraceSink& sink_;
  std::mutex mutex_;  // the handle numbers and the last error said
  std::map<FT_HANDLE, unsigned> numbers_;
  unsigned next_number_ = 1;
  std::string last_error_said_;
};


}  // namespace sq71

#endif
