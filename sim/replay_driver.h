// The simulated meter answering from a trace (scenario key `replay`): a
// session recorded with a real meter plays again here, the same requests
// getting the same replies and statuses.
//
// Each request (the bytes of a write) gets the writes's status and the reads
// that the trace recorded after it: their statuses and bytes, each no sooner
// after the request than it came then (at once when not paced). The n-th time
// a request is made it gets what its n-th recording got (its last one once
// the recordings run out). Every other call gets the status recorded for the
// same call in the same order (FT_Open per device index), an EEPROM read the
// record's fields too. A request the trace never saw is a meter that is not
// there any more: it is noted ("REPLAY request 57 (02 00 04 4C 52 00 38 ..)
// not in the trace"), and from then on every call fails with FT_IO_ERROR and
// no device is counted or opened, as after pulling the cable.
#ifndef SQ71_SIM_REPLAY_DRIVER_H
#define SQ71_SIM_REPLAY_DRIVER_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "sim/scenario.h"
#include "sim/trace_reader.h"
#include "usb/driver.h"

namespace sq71::sim {

class ReplayDriver : public Driver {
 public:
  // `note` hears what the replay could not answer (the simulator's trace).
  ReplayDriver(std::shared_ptr<const std::vector<TracedCall>> calls, bool paced,
               std::function<void(const std::string&)> note);

  // The backend that recorded the session, so a replay is labelled and
  // warned of as it was; "sim" when the trace does not say.
  std::string name() const override { return backend_.empty() ? "sim" : backend_; }
  void set_backend(std::string backend) { backend_ = std::move(backend); }
  // The tty backend cannot read the chip's whole identity; its replay neither.
  bool partial_identity() const override { return backend_ == "tty"; }

  // What a paced replay keeps time by (the steady clock and a sleep by
  // default), and the query that cuts its waits short (Ctrl-C): a read that
  // is stopped returns with nothing, as a live read's time-out does.
  struct PaceClock {
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<void(std::chrono::steady_clock::time_point)> sleep_until;
  };
  void set_pace_clock(PaceClock clock) { pace_ = std::move(clock); }
  void set_stop_query(std::function<bool()> stop) { stop_ = std::move(stop); }
  FT_STATUS CountDevices(uint32_t* count) override;
  std::string Where(int index) override;
  FT_STATUS Open(int index, FT_HANDLE* handle) override;
  FT_STATUS Close(FT_HANDLE handle) override;
  FT_STATUS Read(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* returned) override;
  FT_STATUS Write(FT_HANDLE handle, const void* buffer, uint32_t count, uint32_t* written) override;
  FT_STATUS SetBaudRate(FT_HANDLE handle, uint32_t) override {
    return Recorded(handle, "FT_SetBaudRate");
  }
  FT_STATUS SetDataCharacteristics(FT_HANDLE handle, uint8_t, uint8_t, uint8_t) override {
    return Recorded(handle, "FT_SetDataCharacteristics");
  }
  FT_STATUS SetFlowControl(FT_HANDLE handle, uint16_t, uint8_t, uint8_t) override {
    return Recorded(handle, "FT_SetFlowControl");
  }
  FT_STATUS SetDtr(FT_HANDLE handle) override { return Recorded(handle, "FT_SetDtr"); }
  FT_STATUS ClrDtr(FT_HANDLE handle) override { return Recorded(handle, "FT_ClrDtr"); }
  FT_STATUS Purge(FT_HANDLE handle, uint32_t) override { return Recorded(handle, "FT_Purge"); }
  FT_STATUS SetTimeouts(FT_HANDLE handle, uint32_t, uint32_t) override {
    return Recorded(handle, "FT_SetTimeouts");
  }
  FT_STATUS EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) override;
  FT_STATUS SetLatencyTimer(FT_HANDLE handle, uint8_t) override {
    return Recorded(handle, "FT_SetLatencyTimer");
  }
  // The recorded counts in order; not supported when the session recorded
  // none, so a caller purges as the recorded one did.
  FT_STATUS GetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes) override;

 private:
  using Clock = std::chrono::steady_clock;
  struct Reply {
    FT_STATUS status;
    std::vector<uint8_t> bytes;
    int64_t delay_us;  // after the request
  };
  struct Exchange {
    FT_STATUS write_status;
    uint32_t written;
    std::vector<Reply> replies;
  };
  // The recorded calls of one kind, in order, and how many are used.
  struct Queue {
    std::vector<const TracedCall*> calls;
    std::size_t used = 0;
    const TracedCall* Next();
  };
  struct OpenHandle {
    const Exchange* exchange = nullptr;
    std::size_t replies_used = 0;
    Clock::time_point requested;
  };

  // The status recorded for the next such call; FT_OK where none was.
  FT_STATUS Recorded(FT_HANDLE handle, const char* call);
  // The open handle, or null with the status to give (FT_INVALID_HANDLE, or
  // FT_IO_ERROR once the meter is gone). Callers hold mutex_.
  OpenHandle* Find(FT_HANDLE handle, FT_STATUS* refusal);

  // Waits until `due` in steps short enough to notice a stop; false when stopped.
  bool PaceUntil(Clock::time_point due);

  std::shared_ptr<const std::vector<TracedCall>> calls_;
  bool paced_;
  std::string backend_;
  PaceClock pace_;
  std::function<bool()> stop_;
  std::function<void(const std::string&)> note_;

  std::mutex mutex_;
  std::map<std::string, Queue> queues_;  // "FT_Open 0", "Where 0", "FT_Purge", ...
  std::vector<Exchange> exchanges_;
  // By the request's bytes (held in a string: compared as bytes).
  std::map<std::string, std::vector<std::size_t>> by_request_;
  std::map<std::string, std::size_t> used_;
  std::map<uintptr_t, OpenHandle> handles_;
  uintptr_t next_handle_ = 1;
  int requests_ = 0;
  bool gone_ = false;
};

// The simulated meter of a scenario that names a `replay` trace: the replay,
// paced unless the timing is instant, with its calls traced into the
// scenario's trace file when it names one. What it cannot answer goes to that
// trace and to stderr. Null, with the reason, when the trace file cannot be
// created.
std::unique_ptr<Driver> MakeReplayDriver(const Scenario& scenario, std::string* error,
                                         std::function<bool()> stop = nullptr);

}  // namespace sq71::sim

#endif
