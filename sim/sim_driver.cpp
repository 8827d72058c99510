#include "sim/sim_driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

#include "log/trace_output.h"
#include "sim/ft232r_timing.h"
#include "sim/precise_sleep.h"
#include "ui/message_quote.h"
#include "usb/tracing_driver.h"

namespace sq71::sim {
namespace {

using Clock = std::chrono::steady_clock;
using Time = Clock::time_point;
using std::chrono::nanoseconds;

constexpr uint32_t kMeterBaud = 115200;
constexpr uint32_t kPowerOnBaud = 9600;
// Older lines are dropped past this, so a long session cannot eat memory.
constexpr std::size_t kMemoryTraceMax = 200000;

// One attached device: the meter, the chip's line settings and its timing.
struct Port {
  Port(MeterConfig config, bool wire) : meter(std::move(config)), timing(wire) {}

  SimulatedMeter meter;
  uintptr_t handle = 0;  // 0: not open
  uint32_t baud = kPowerOnBaud;
  uint8_t word_length = FT_BITS_8;
  uint8_t stop_bits = FT_STOP_BITS_1;
  uint8_t parity = FT_PARITY_NONE;
  uint16_t flow = FT_FLOW_NONE;
  bool dtr = false;
  uint32_t read_timeout_ms = 0;
  uint32_t write_timeout_ms = 0;
  Ft232rTiming timing;
  // Pulled out: every call on its handle fails (FT_Close still gives the
  // handle up), and the device is no longer listed or opened.
  bool unplugged = false;
};

}  // namespace

// The whole simulated bus of one SimDriver.
struct SimBus {
  std::mutex mutex;
  Timing timing = Timing::kWire;
  int latency_ms = 16;
  bool latency_settable = true;
  int erase_ms = 0;
  Time origin = Clock::now();  // the timing models' time 0
  // On a virtual clock: the bus's time, which waits move on.
  bool virtual_clock = false;
  Nanos virtual_now = 0;
  std::vector<std::unique_ptr<Port>> ports;
  std::FILE* trace_file = nullptr;
  std::deque<std::string> trace;
  bool memory_trace = true;
  uintptr_t next_handle = 1;

  ~SimBus() {
    if (trace_file != nullptr) std::fclose(trace_file);
  }
};

namespace {

using Bus = SimBus;

// Callers hold the bus mutex.
void Trace(Bus& bus, const std::string& line) {
  if (bus.memory_trace) {
    if (bus.trace.size() >= kMemoryTraceMax) {
      bus.trace.erase(bus.trace.begin(), bus.trace.begin() + kMemoryTraceMax / 2);
    }
    bus.trace.push_back(line);
  }
  if (bus.trace_file != nullptr) {
    std::fputs(line.c_str(), bus.trace_file);
    std::fputc('\n', bus.trace_file);
    std::fflush(bus.trace_file);
  }
}

std::string HandleText(FT_HANDLE handle) {
  return "handle=" + std::to_string(reinterpret_cast<uintptr_t>(handle));
}

Port* FindPort(Bus& bus, FT_HANDLE handle, int* index = nullptr) {
  const uintptr_t id = reinterpret_cast<uintptr_t>(handle);
  if (id == 0) return nullptr;
  for (std::size_t i = 0; i < bus.ports.size(); ++i) {
    if (bus.ports[i]->handle == id) {
      if (index != nullptr) *index = static_cast<int>(i);
      return bus.ports[i].get();
    }
  }
  return nullptr;
}

// The port of an open handle. A call on a handle that is not open, or on a
// device that has been pulled out, is traced and refused (*refusal).
Port* Lookup(Bus& bus, const char* call, FT_HANDLE handle, FT_STATUS* refusal,
             int* index = nullptr) {
  Port* p = FindPort(bus, handle, index);
  *refusal = p == nullptr ? FT_INVALID_HANDLE : p->unplugged ? FT_IO_ERROR : FT_OK;
  if (*refusal == FT_OK) return p;
  Trace(bus, std::string(call) + " " + HandleText(handle) + " -> " + std::to_string(*refusal));
  return nullptr;
}

// The index-th device still plugged in.
Port* PluggedPort(Bus& bus, int index) {
  for (const std::unique_ptr<Port>& p : bus.ports) {
    if (!p->unplugged && index-- == 0) return p.get();
  }
  return nullptr;
}

FT_STATUS Done(Bus& bus, const std::string& call, FT_STATUS status) {
  Trace(bus, call + " -> " + std::to_string(status));
  return status;
}

Nanos Now(const Bus& bus) {
  if (bus.virtual_clock) return bus.virtual_now;
  return std::chrono::duration_cast<nanoseconds>(Clock::now() - bus.origin).count();
}

// Lets the caller's call last until `t` on the bus's timeline, without
// holding the bus meanwhile. Ports may be gone afterwards.
void WaitUntil(Bus& bus, std::unique_lock<std::mutex>& lock, Nanos t) {
  if (t <= Now(bus)) return;
  if (bus.virtual_clock) {
    bus.virtual_now = t;
    return;
  }
  const Time wake = bus.origin + nanoseconds(t);
  lock.unlock();
  SleepUntil(wake);
  lock.lock();
}

void SendReply(Bus& bus, Port& p, int index, Nanos request_end, const MeterReply& reply) {
  std::string line = "METER " + std::to_string(index) + " " + reply.request;
  if (reply.accepted) {
    line += reply.bytes.empty() ? ": no reply"
                                : ": reply " + std::to_string(reply.bytes.size()) + " bytes";
  }
  for (const std::string& fault : reply.faults) line += " [fault " + fault + "]";
  Trace(bus, line);
  if (reply.bytes.empty()) return;

  int delay_ms = reply.delay_ms;
  // Erasing takes the meter a while; in instant mode nothing waits for it.
  if (reply.erase && p.timing.wire()) delay_ms += bus.erase_ms;
  // Late: after the read that waits for it has given up.
  if (reply.late_ms >= 0) delay_ms += static_cast<int>(p.read_timeout_ms) + reply.late_ms;
  p.timing.Reply(reply.bytes, request_end, delay_ms * kNanosPerMs);
}

bool LineUnderstood(const Port& p) {
  return p.baud == kMeterBaud && p.word_length == FT_BITS_8 && p.stop_bits == FT_STOP_BITS_1 &&
         p.parity == FT_PARITY_NONE;
}

void WriteEepromString(char* target, std::size_t size, const std::string& text) {
  if (target == nullptr) return;
  const std::size_t n = std::min(text.size(), size - 1);
  std::memcpy(target, text.data(), n);
  target[n] = '\0';
}

}  // namespace

SimDriver::SimDriver() : bus_(std::make_unique<SimBus>()) {}

SimDriver::SimDriver(const Scenario& scenario) : SimDriver() { Configure(scenario); }

SimDriver::~SimDriver() = default;

void SimDriver::Configure(const Scenario& scenario) {
  Bus& bus = *bus_;
  std::lock_guard<std::mutex> lock(bus.mutex);
  bus.ports.clear();
  for (const MeterConfig& config : scenario.devices) {
    bus.ports.push_back(std::make_unique<Port>(config, scenario.timing == Timing::kWire));
  }
  bus.timing = scenario.timing;
  bus.latency_ms = scenario.latency_ms;
  bus.latency_settable = scenario.latency_settable;
  bus.erase_ms = scenario.erase_ms;
  bus.origin = Clock::now();
  bus.virtual_clock = scenario.clock == BusClock::kVirtual;
  bus.virtual_now = 0;
  bus.trace.clear();
  if (bus.trace_file != nullptr) std::fclose(bus.trace_file);
  bus.trace_file = nullptr;
  if (!scenario.trace_path.empty()) {
    // Through the program's one writer: never through another user's link.
    std::string error;
    bus.trace_file = OpenTraceStream(scenario.trace_path, &error);
    if (bus.trace_file == nullptr) std::fprintf(stderr, "simulated meter: %s\n", error.c_str());
  }
  Trace(bus, std::string("BUS timing=") + (scenario.timing == Timing::kWire ? "wire" : "instant") +
                 " latency_ms=" + std::to_string(scenario.latency_ms) +
                 " devices=" + std::to_string(scenario.devices.size()));
}

bool SimDriver::ConfigureFromEnvironment(std::string* error) {
  const char* path = std::getenv("SQ71_SIM");
  if (path == nullptr || *path == '\0') {
    Configure(DefaultScenario());
    return true;
  }
  Scenario scenario;
  std::string message;
  if (LoadScenarioFile(path, &scenario, &message)) {
    Configure(scenario);
    return true;
  }
  // No devices, but the trace file if the scenario named one before the error.
  Scenario empty;
  empty.trace_path = scenario.trace_path;
  Configure(empty);
  {
    Bus& bus = *bus_;
    std::lock_guard<std::mutex> lock(bus.mutex);
    Trace(bus, "ERROR " + message);
  }
  std::fprintf(stderr, "simulated meter: %s\n", message.c_str());
  if (error != nullptr) *error = message;
  return false;
}

int SimDriver::MeterCount() {
  Bus& bus = *bus_;
  std::lock_guard<std::mutex> lock(bus.mutex);
  return static_cast<int>(bus.ports.size());
}

SimulatedMeter* SimDriver::MeterAt(int index) {
  Bus& bus = *bus_;
  std::lock_guard<std::mutex> lock(bus.mutex);
  if (index < 0 || index >= static_cast<int>(bus.ports.size())) return nullptr;
  return &bus.ports[static_cast<std::size_t>(index)]->meter;
}

std::vector<std::string> SimDriver::TraceLines() {
  Bus& bus = *bus_;
  std::lock_guard<std::mutex> lock(bus.mutex);
  return std::vector<std::string>(bus.trace.begin(), bus.trace.end());
}

void SimDriver::ClearTrace() {
  Bus& bus = *bus_;
  std::lock_guard<std::mutex> lock(bus.mutex);
  bus.trace.clear();
}

void SimDriver::SetMemoryTrace(bool on) {
  Bus& bus = *bus_;
  std::lock_guard<std::mutex> lock(bus.mutex);
  bus.memory_trace = on;
  if (!on) bus.trace.clear();
}

FT_STATUS SimDriver::Open(int index, FT_HANDLE* handle) {
  Bus& bus = *bus_;
  std::unique_lock<std::mutex> lock(bus.mutex);
  const std::string call = "FT_Open index=" + std::to_string(index);
  if (handle == nullptr) return Done(bus, call, FT_INVALID_PARAMETER);
  *handle = nullptr;
  Port* p = PluggedPort(bus, index);
  if (p == nullptr) return Done(bus, call, FT_DEVICE_NOT_FOUND);
  // Refused by the device, or already held by another handle.
  if (p->meter.config().refuse_open || p->handle != 0) return Done(bus, call, FT_DEVICE_NOT_OPENED);
  p->handle = bus.next_handle++;
  p->baud = kPowerOnBaud;
  p->word_length = FT_BITS_8;
  p->stop_bits = FT_STOP_BITS_1;
  p->parity = FT_PARITY_NONE;
  p->flow = FT_FLOW_NONE;
  p->read_timeout_ms = 0;
  p->write_timeout_ms = 0;
  const Nanos done = p->timing.Open(Now(bus), bus.latency_ms);
  *handle = reinterpret_cast<FT_HANDLE>(p->handle);
  Trace(bus, call + " -> 0 " + HandleText(*handle));
  WaitUntil(bus, lock, done);
  return FT_OK;
}

FT_STATUS SimDriver::Close(FT_HANDLE handle) {
  Bus& bus = *bus_;
  std::lock_guard<std::mutex> lock(bus.mutex);
  Port* p = FindPort(bus, handle);
  if (p == nullptr) {
    FT_STATUS refused;
    Lookup(bus, "FT_Close", handle, &refused);
    return refused;
  }
  // The handle is given up either way; a device that is gone says so.
  const FT_STATUS status = p->unplugged ? FT_IO_ERROR : FT_OK;
  p->handle = 0;
  p->timing.Open(Now(bus), bus.latency_ms);  // drops whatever was on its way
  return Done(bus, "FT_Close " + HandleText(handle), status);
}

FT_STATUS SimDriver::Write(FT_HANDLE handle, const void* buffer, uint32_t count,
                           uint32_t* written) {
  // Nothing passes on a refused call.
  if (written != nullptr) *written = 0;
  Bus& bus = *bus_;
  std::unique_lock<std::mutex> lock(bus.mutex);
  int index = 0;
  FT_STATUS refused;
  Port* p = Lookup(bus, "FT_Write", handle, &refused, &index);
  if (p == nullptr) return refused;
  const std::string call = "FT_Write " + HandleText(handle) + " count=" + std::to_string(count);
  if (written == nullptr || (buffer == nullptr && count > 0)) {
    return Done(bus, call, FT_INVALID_PARAMETER);
  }
  *written = count;
  Trace(bus, call + " -> 0 written=" + std::to_string(count));
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  Trace(bus, "WRITE" + TraceHex(bytes, count));

  Nanos request_end = 0;
  const Nanos at_chip = p->timing.Write(Now(bus), count, &request_end);
  if (!LineUnderstood(*p)) {
    Trace(bus, "METER " + std::to_string(index) + " line at " + std::to_string(p->baud) +
                   " baud, bits " + std::to_string(p->word_length) + " stop " +
                   std::to_string(p->stop_bits) + " parity " + std::to_string(p->parity) +
                   ": bytes not understood");
  } else {
    for (const MeterReply& reply : p->meter.Receive(bytes, count)) {
      SendReply(bus, *p, index, request_end, reply);
      if (reply.unplug && !p->unplugged) {
        p->unplugged = true;
        Trace(bus, "UNPLUGGED device " + std::to_string(index));
      }
    }
  }
  WaitUntil(bus, lock, at_chip);
  return FT_OK;
}

FT_STATUS SimDriver::Read(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* returned) {
  // Nothing passes on a refused call, nor on one that finds the device gone.
  if (returned != nullptr) *returned = 0;
  Bus& bus = *bus_;
  std::unique_lock<std::mutex> lock(bus.mutex);
  FT_STATUS refused;
  Port* p = Lookup(bus, "FT_Read", handle, &refused);
  if (p == nullptr) return refused;
  const std::string call = "FT_Read " + HandleText(handle) + " wanted=" + std::to_string(wanted);
  if (returned == nullptr || (buffer == nullptr && wanted > 0)) {
    return Done(bus, call, FT_INVALID_PARAMETER);
  }

  const Nanos now = Now(bus);
  const Nanos deadline = p->read_timeout_ms != 0 ? now + p->read_timeout_ms * kNanosPerMs : kNever;
  const Nanos need = p->timing.WhenHostHolds(wanted, now);
  const Nanos all = p->timing.WhenAllDelivered(now);
  Nanos wake;
  if (need <= deadline) {
    wake = need;
  } else if (deadline == kNever) {
    // No time-out: wait for what is still coming, never for what is not.
    wake = all;
  } else if (!p->timing.wire() && all <= now) {
    wake = now;
  } else {
    wake = deadline;
  }
  WaitUntil(bus, lock, wake);
  p = Lookup(bus, "FT_Read", handle, &refused);  // closed, pulled out or reconfigured meanwhile?
  if (p == nullptr) return refused;

  uint8_t* out = static_cast<uint8_t*>(buffer);
  const uint32_t got = static_cast<uint32_t>(p->timing.Take(std::max(wake, now), out, wanted));
  *returned = got;
  Trace(bus, call + " -> 0 read=" + std::to_string(got));
  Trace(bus, "READ " + std::to_string(got) + TraceHex(out, got));
  return FT_OK;
}

// The calls below each cost one control request on the wire.

FT_STATUS SimDriver::SetBaudRate(FT_HANDLE handle, uint32_t baud) {
  Bus& bus = *bus_;
  std::unique_lock<std::mutex> lock(bus.mutex);
  FT_STATUS refused;
  Port* p = Lookup(bus, "FT_SetBaudRate", handle, &refused);
  if (p == nullptr) return refused;
  const std::string call = "FT_SetBaudRate " + HandleText(handle) + " " + std::to_string(baud);
  // The FT232R's divisors reach from 183 baud to 3 Mbaud.
  if (baud < 183 || baud > 3000000 || p->meter.config().refused_setting == "baud_rate") {
    return Done(bus, call, FT_INVALID_BAUD_RATE);
  }
  p->baud = baud;
  const Nanos done = p->timing.Control(Now(bus));
  Done(bus, call, FT_OK);
  WaitUntil(bus, lock, done);
  return FT_OK;
}

FT_STATUS SimDriver::SetDataCharacteristics(FT_HANDLE handle, uint8_t word_length,
                                            uint8_t stop_bits, uint8_t parity) {
  Bus& bus = *bus_;
  std::unique_lock<std::mutex> lock(bus.mutex);
  FT_STATUS refused;
  Port* p = Lookup(bus, "FT_SetDataCharacteristics", handle, &refused);
  if (p == nullptr) return refused;
  const std::string call = "FT_SetDataCharacteristics " + HandleText(handle) + " " +
                           std::to_string(word_length) + " " + std::to_string(stop_bits) + " " +
                           std::to_string(parity);
  if ((word_length != FT_BITS_7 && word_length != FT_BITS_8) ||
      (stop_bits != FT_STOP_BITS_1 && stop_bits != FT_STOP_BITS_2) || parity > FT_PARITY_SPACE ||
      p->meter.config().refused_setting == "data_characteristics") {
    return Done(bus, call, FT_INVALID_PARAMETER);
  }
  p->word_length = word_length;
  p->stop_bits = stop_bits;
  p->parity = parity;
  const Nanos done = p->timing.Control(Now(bus));
  Done(bus, call, FT_OK);
  WaitUntil(bus, lock, done);
  return FT_OK;
}

FT_STATUS SimDriver::SetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t xon, uint8_t xoff) {
  Bus& bus = *bus_;
  std::unique_lock<std::mutex> lock(bus.mutex);
  FT_STATUS refused;
  Port* p = Lookup(bus, "FT_SetFlowControl", handle, &refused);
  if (p == nullptr) return refused;
  const std::string call = "FT_SetFlowControl " + HandleText(handle) + " " + std::to_string(flow) +
                           " " + std::to_string(xon) + " " + std::to_string(xoff);
  if (p->meter.config().refused_setting == "flow_control") {
    return Done(bus, call, FT_INVALID_PARAMETER);
  }
  p->flow = flow;
  const Nanos done = p->timing.Control(Now(bus));
  Done(bus, call, FT_OK);
  WaitUntil(bus, lock, done);
  return FT_OK;
}

FT_STATUS SimDriver::SetDtrLine(FT_HANDLE handle, bool on) {
  Bus& bus = *bus_;
  std::unique_lock<std::mutex> lock(bus.mutex);
  const char* name = on ? "FT_SetDtr" : "FT_ClrDtr";
  FT_STATUS refused;
  Port* p = Lookup(bus, name, handle, &refused);
  if (p == nullptr) return refused;
  p->dtr = on;
  const Nanos done = p->timing.Control(Now(bus));
  Done(bus, std::string(name) + " " + HandleText(handle), FT_OK);
  WaitUntil(bus, lock, done);
  return FT_OK;
}

FT_STATUS SimDriver::SetDtr(FT_HANDLE handle) { return SetDtrLine(handle, true); }

FT_STATUS SimDriver::ClrDtr(FT_HANDLE handle) { return SetDtrLine(handle, false); }

FT_STATUS SimDriver::Purge(FT_HANDLE handle, uint32_t mask) {
  Bus& bus = *bus_;
  std::unique_lock<std::mutex> lock(bus.mutex);
  FT_STATUS refused;
  Port* p = Lookup(bus, "FT_Purge", handle, &refused);
  if (p == nullptr) return refused;
  // One request per direction. Requests leave the chip as they are written,
  // so a transmit purge finds nothing to drop.
  Nanos done = Now(bus);
  if ((mask & FT_PURGE_RX) != 0) done = p->timing.PurgeReceive(done);
  if ((mask & FT_PURGE_TX) != 0) done = p->timing.Control(done);
  Done(bus, "FT_Purge " + HandleText(handle) + " mask=" + std::to_string(mask), FT_OK);
  WaitUntil(bus, lock, done);
  return FT_OK;
}

FT_STATUS SimDriver::SetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t write_ms) {
  Bus& bus = *bus_;
  std::lock_guard<std::mutex> lock(bus.mutex);
  FT_STATUS refused;
  Port* p = Lookup(bus, "FT_SetTimeouts", handle, &refused);
  if (p == nullptr) return refused;
  // Kept by the driver on the host: no request to the chip.
  p->read_timeout_ms = read_ms;
  p->write_timeout_ms = write_ms;
  return Done(bus,
              "FT_SetTimeouts " + HandleText(handle) + " read=" + std::to_string(read_ms) +
                  " write=" + std::to_string(write_ms),
              FT_OK);
}

FT_STATUS SimDriver::ListDevices(void* arg1, void* arg2, uint32_t flags) {
  Bus& bus = *bus_;
  std::lock_guard<std::mutex> lock(bus.mutex);
  char call[64];
  std::snprintf(call, sizeof(call), "FT_ListDevices flags=0x%08X", static_cast<unsigned>(flags));
  // The count, and one device's serial number by index; nothing else.
  if ((flags & FT_LIST_BY_INDEX) != 0 && (flags & FT_OPEN_BY_SERIAL_NUMBER) != 0) {
    const uintptr_t index = reinterpret_cast<uintptr_t>(arg1);
    // Indexed as FT_Open counts: an unplugged device is gone.
    const Port* port =
        index < bus.ports.size() ? PluggedPort(bus, static_cast<int>(index)) : nullptr;
    if (arg2 == nullptr || port == nullptr) return Done(bus, call, FT_DEVICE_NOT_FOUND);
    const std::string& serial = port->meter.config().eeprom.serial_number;
    char* out = static_cast<char*>(arg2);
    // The driver's serial-number buffer is 16 characters with its NUL.
    const std::size_t n = std::min<std::size_t>(serial.size(), 15);
    std::memcpy(out, serial.data(), n);
    out[n] = '\0';
    Trace(bus, std::string(call) + " index=" + std::to_string(index) + " -> 0 serial=" + out);
    return FT_OK;
  }
  if ((flags & FT_LIST_NUMBER_ONLY) == 0) return Done(bus, call, FT_NOT_SUPPORTED);
  if (arg1 == nullptr) return Done(bus, call, FT_INVALID_PARAMETER);
  uint32_t count = 0;
  for (const std::unique_ptr<Port>& p : bus.ports) count += p->unplugged ? 0 : 1;
  std::memcpy(arg1, &count, sizeof(count));
  Trace(bus, std::string(call) + " -> 0 count=" + std::to_string(count));
  return FT_OK;
}

FT_STATUS SimDriver::EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) {
  Bus& bus = *bus_;
  std::unique_lock<std::mutex> lock(bus.mutex);
  FT_STATUS refused;
  Port* p = Lookup(bus, "FT_EE_Read", handle, &refused);
  if (p == nullptr) return refused;
  const std::string call = "FT_EE_Read " + HandleText(handle);
  if (data == nullptr || data->Signature1 != 0x00000000 || data->Signature2 != 0xFFFFFFFF) {
    return Done(bus, call, FT_INVALID_PARAMETER);
  }
  // The driver reads the whole EEPROM word by word before it decodes it.
  const Nanos done = p->timing.Control(Now(bus), kEepromWordReads);
  if (p->meter.config().eeprom_read_fails) {
    Done(bus, call, FT_EEPROM_READ_FAILED);
    WaitUntil(bus, lock, done);
    return FT_EEPROM_READ_FAILED;
  }
  const EepromFields& e = p->meter.config().eeprom;
  // The caller's buffers are taken to have the usual sizes.
  data->VendorId = e.vendor_id;
  data->ProductId = e.product_id;
  WriteEepromString(data->Manufacturer, 32, e.manufacturer);
  WriteEepromString(data->ManufacturerId, 16, e.manufacturer_id);
  WriteEepromString(data->Description, 64, e.description);
  WriteEepromString(data->SerialNumber, 16, e.serial_number);
  data->MaxPower = e.max_power;
  data->PnP = e.pnp;
  data->SelfPowered = e.self_powered;
  data->RemoteWakeup = 0;
  if (data->Version >= 2) {
    data->UseExtOsc = 0;
    data->HighDriveIOs = 0;
    data->EndpointSize = 64;
    data->PullDownEnableR = 0;
    data->SerNumEnableR = 1;
    data->InvertTXD = e.invert_txd;
    data->InvertRXD = e.invert_rxd;
    data->InvertRTS = 0;
    data->InvertCTS = 0;
    data->InvertDTR = e.invert_dtr;
    data->InvertDSR = 0;
    data->InvertDCD = 0;
    data->InvertRI = 0;
    data->Cbus0 = 3;  // TXLED
    data->Cbus1 = 2;  // RXLED
    data->Cbus2 = 0;  // TXDEN
    data->Cbus3 = 1;  // PWRON
    data->Cbus4 = e.cbus4;
    data->RIsD2XX = 0;
  }
  Trace(bus, call + " -> 0 description=\"" + e.description + "\" pnp=" + std::to_string(e.pnp) +
                 " self_powered=" + std::to_string(e.self_powered) + " invert_dtr=" +
                 std::to_string(e.invert_dtr) + " invert_rxd=" + std::to_string(e.invert_rxd) +
                 " invert_txd=" + std::to_string(e.invert_txd) +
                 " cbus4=" + std::to_string(e.cbus4));
  WaitUntil(bus, lock, done);
  return FT_OK;
}

FT_STATUS SimDriver::SetLatencyTimer(FT_HANDLE handle, uint8_t ms) {
  Bus& bus = *bus_;
  std::unique_lock<std::mutex> lock(bus.mutex);
  FT_STATUS refused;
  Port* p = Lookup(bus, "FT_SetLatencyTimer", handle, &refused);
  if (p == nullptr) return refused;
  const std::string call = "FT_SetLatencyTimer " + HandleText(handle) + " " + std::to_string(ms);
  // A driver that keeps the chip's timer to itself.
  if (!bus.latency_settable) return Done(bus, call, FT_NOT_SUPPORTED);
  if (ms < 2) return Done(bus, call, FT_INVALID_PARAMETER);
  const Nanos done = p->timing.SetLatency(Now(bus), ms);
  Done(bus, call, FT_OK);
  WaitUntil(bus, lock, done);
  return FT_OK;
}

FT_STATUS SimDriver::GetLatencyTimer(FT_HANDLE handle, uint8_t* ms) {
  Bus& bus = *bus_;
  std::unique_lock<std::mutex> lock(bus.mutex);
  FT_STATUS refused;
  Port* p = Lookup(bus, "FT_GetLatencyTimer", handle, &refused);
  if (p == nullptr) return refused;
  const std::string call = "FT_GetLatencyTimer " + HandleText(handle);
  if (ms == nullptr) return Done(bus, call, FT_INVALID_PARAMETER);
  *ms = static_cast<uint8_t>(p->timing.latency_ms());
  const Nanos done = p->timing.Control(Now(bus));
  Trace(bus, call + " -> 0 ms=" + std::to_string(p->timing.latency_ms()));
  WaitUntil(bus, lock, done);
  return FT_OK;
}

// The driver keeps its receive queue on the host: an FT232R's driver answers
// from its own buffer, without a request to the chip, so this one is free.
FT_STATUS SimDriver::GetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes) {
  Bus& bus = *bus_;
  std::lock_guard<std::mutex> lock(bus.mutex);
  FT_STATUS refused;
  Port* p = Lookup(bus, "FT_GetQueueStatus", handle, &refused);
  if (p == nullptr) return refused;
  const std::string call = "FT_GetQueueStatus " + HandleText(handle);
  if (rx_bytes == nullptr) return Done(bus, call, FT_INVALID_PARAMETER);
  *rx_bytes = static_cast<uint32_t>(p->timing.HostHolds(Now(bus)));
  Trace(bus, call + " -> 0 rx=" + std::to_string(*rx_bytes));
  return FT_OK;
}

FT_STATUS SimDriver::CountDevices(uint32_t* count) {
  return ListDevices(count, nullptr, FT_LIST_NUMBER_ONLY);
}

std::string SimDriver::Where(int index) {
  // As the listing names it, without a driver call to trace.
  const SimulatedMeter* meter = MeterAt(index);
  return meter != nullptr ? meter->config().eeprom.serial_number : "";
}

}  // namespace sq71::sim
