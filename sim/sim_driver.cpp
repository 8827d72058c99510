#include "sim/sim_driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace sq71::sim {
namespace {

using Clock = std::chrono::steady_clock;
using Time = Clock::time_point;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

constexpr uint32_t kMeterBaud = 115200;
constexpr uint32_t kPowerOnBaud = 9600;
// Older lines are dropped past this, so a long session cannot eat memory.
constexpr std::size_t kMemoryTraceMax = 200000;

struct RxByte {
  uint8_t value;
  Time arrive;   // at the chip
  Time deliver;  // to the host
  uint64_t packet;
};

// One attached device: the meter, the chip's line settings and the bytes on
// their way back to the host.
struct Port {
  explicit Port(MeterConfig config) : meter(std::move(config)) {}

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
  int latency_ms = 16;
  Time tx_free{};     // when the request line is idle again
  Time meter_free{};  // when the meter has sent its last reply
  std::deque<RxByte> rx;
  uint64_t packet_id = 0;
  int packet_count = 0;  // bytes in the packet being filled
  Time packet_start{};
};

struct Bus {
  std::mutex mutex;
  Timing timing = Timing::kWire;
  int latency_ms = 16;
  std::vector<std::unique_ptr<Port>> ports;
  std::FILE* trace_file = nullptr;
  std::deque<std::string> trace;
  bool memory_trace = true;
  uintptr_t next_handle = 1;

  ~Bus() {
    if (trace_file != nullptr) std::fclose(trace_file);
  }
};

Bus& TheBus() {
  static Bus bus;
  return bus;
}

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

std::string Hex(const uint8_t* bytes, std::size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    text += ' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
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

// A call on a handle that is not open: traced and refused.
FT_STATUS BadHandle(Bus& bus, const char* call, FT_HANDLE handle) {
  Trace(bus,
        std::string(call) + " " + HandleText(handle) + " -> " + std::to_string(FT_INVALID_HANDLE));
  return FT_INVALID_HANDLE;
}

FT_STATUS Done(Bus& bus, const std::string& call, FT_STATUS status) {
  Trace(bus, call + " -> " + std::to_string(status));
  return status;
}

// Puts one received byte into the chip's receive path and works out when the
// host gets it: with the packet when 62 bytes have gathered, or when the
// latency timer started by the packet's first byte runs out.
void Receive(Bus& bus, Port& p, uint8_t value, Time arrive) {
  if (bus.timing == Timing::kInstant) {
    p.rx.push_back({value, arrive, arrive, 0});
    return;
  }
  const nanoseconds latency = milliseconds(p.latency_ms);
  if (p.packet_count > 0 && arrive >= p.packet_start + latency) p.packet_count = 0;
  if (p.packet_count == 0) {
    p.packet_start = arrive;
    ++p.packet_id;
  }
  p.rx.push_back({value, arrive, p.packet_start + latency, p.packet_id});
  if (++p.packet_count == kUsbPacketDataBytes) {
    for (auto it = p.rx.rbegin(); it != p.rx.rend() && it->packet == p.packet_id; ++it) {
      it->deliver = arrive;
    }
    p.packet_count = 0;
  }
}

void SendReply(Bus& bus, Port& p, int index, Time request_end, const MeterReply& reply) {
  std::string line = "METER " + std::to_string(index) + " " + reply.request;
  if (reply.accepted) {
    line += reply.bytes.empty() ? ": no reply"
                                : ": reply " + std::to_string(reply.bytes.size()) + " bytes";
  }
  for (const std::string& fault : reply.faults) line += " [fault " + fault + "]";
  Trace(bus, line);
  if (reply.bytes.empty()) return;

  const bool wire = bus.timing == Timing::kWire;
  Time start = request_end + milliseconds(reply.delay_ms);
  if (wire) start += nanoseconds(kMeterProcessingNs);
  if (start < p.meter_free) start = p.meter_free;
  const long long byte_ns = wire ? kByteTimeNs : 0;
  for (std::size_t i = 0; i < reply.bytes.size(); ++i) {
    Receive(bus, p, reply.bytes[i], start + nanoseconds(byte_ns * static_cast<long long>(i + 1)));
  }
  p.meter_free = start + nanoseconds(byte_ns * static_cast<long long>(reply.bytes.size()));
}

// The thread's sleep may wake early (by up to a millisecond under Wine); a
// read must never return before its bytes or its time-out.
void SleepUntil(Time wake) {
  for (Time now = Clock::now(); now < wake; now = Clock::now()) {
    std::this_thread::sleep_for(wake - now);
  }
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

void ConfigureBus(const Scenario& scenario) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  bus.ports.clear();
  for (const MeterConfig& config : scenario.devices) {
    bus.ports.push_back(std::make_unique<Port>(config));
  }
  bus.timing = scenario.timing;
  bus.latency_ms = scenario.latency_ms;
  bus.trace.clear();
  if (bus.trace_file != nullptr) std::fclose(bus.trace_file);
  bus.trace_file = nullptr;
  if (!scenario.trace_path.empty()) {
    // Binary: the same "\n" line ends on every system.
    bus.trace_file = std::fopen(scenario.trace_path.c_str(), "wb");
    if (bus.trace_file == nullptr) {
      std::fprintf(stderr, "simulated meter: cannot create trace file '%s'\n",
                   scenario.trace_path.c_str());
    }
  }
  Trace(bus, std::string("BUS timing=") + (scenario.timing == Timing::kWire ? "wire" : "instant") +
                 " latency_ms=" + std::to_string(scenario.latency_ms) +
                 " devices=" + std::to_string(scenario.devices.size()));
}

bool ConfigureBusFromEnvironment(std::string* error) {
  const char* path = std::getenv("SQ71_SIM");
  if (path == nullptr || *path == '\0') {
    ConfigureBus(DefaultScenario());
    return true;
  }
  Scenario scenario;
  std::string message;
  if (LoadScenarioFile(path, &scenario, &message)) {
    ConfigureBus(scenario);
    return true;
  }
  // No devices, but the trace file if the scenario named one before the error.
  Scenario empty;
  empty.trace_path = scenario.trace_path;
  ConfigureBus(empty);
  {
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> lock(bus.mutex);
    Trace(bus, "ERROR " + message);
  }
  std::fprintf(stderr, "simulated meter: %s\n", message.c_str());
  if (error != nullptr) *error = message;
  return false;
}

int MeterCount() {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  return static_cast<int>(bus.ports.size());
}

SimulatedMeter* MeterAt(int index) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  if (index < 0 || index >= static_cast<int>(bus.ports.size())) return nullptr;
  return &bus.ports[static_cast<std::size_t>(index)]->meter;
}

std::vector<std::string> TraceLines() {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  return std::vector<std::string>(bus.trace.begin(), bus.trace.end());
}

void ClearTrace() {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  bus.trace.clear();
}

void SetMemoryTrace(bool on) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  bus.memory_trace = on;
  if (!on) bus.trace.clear();
}

FT_STATUS FT_API SimOpen(int index, FT_HANDLE* handle) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  const std::string call = "FT_Open index=" + std::to_string(index);
  if (handle == nullptr) return Done(bus, call, FT_INVALID_PARAMETER);
  *handle = nullptr;
  if (index < 0 || index >= static_cast<int>(bus.ports.size())) {
    return Done(bus, call, FT_DEVICE_NOT_FOUND);
  }
  Port& p = *bus.ports[static_cast<std::size_t>(index)];
  // Refused by the device, or already held by another handle.
  if (p.meter.config().refuse_open || p.handle != 0) return Done(bus, call, FT_DEVICE_NOT_OPENED);
  p.handle = bus.next_handle++;
  p.baud = kPowerOnBaud;
  p.word_length = FT_BITS_8;
  p.stop_bits = FT_STOP_BITS_1;
  p.parity = FT_PARITY_NONE;
  p.flow = FT_FLOW_NONE;
  p.read_timeout_ms = 0;
  p.write_timeout_ms = 0;
  p.latency_ms = bus.latency_ms;
  p.rx.clear();
  p.packet_count = 0;
  p.tx_free = Clock::now();
  *handle = reinterpret_cast<FT_HANDLE>(p.handle);
  Trace(bus, call + " -> 0 " + HandleText(*handle));
  return FT_OK;
}

FT_STATUS FT_API SimClose(FT_HANDLE handle) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  Port* p = FindPort(bus, handle);
  if (p == nullptr) return BadHandle(bus, "FT_Close", handle);
  p->handle = 0;
  p->rx.clear();
  p->packet_count = 0;
  return Done(bus, "FT_Close " + HandleText(handle), FT_OK);
}

FT_STATUS FT_API SimWrite(FT_HANDLE handle, void* buffer, uint32_t count, uint32_t* written) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  int index = 0;
  Port* p = FindPort(bus, handle, &index);
  if (p == nullptr) return BadHandle(bus, "FT_Write", handle);
  const std::string call = "FT_Write " + HandleText(handle) + " count=" + std::to_string(count);
  if (written == nullptr || (buffer == nullptr && count > 0)) {
    return Done(bus, call, FT_INVALID_PARAMETER);
  }
  *written = count;
  Trace(bus, call + " -> 0 written=" + std::to_string(count));
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  Trace(bus, "WRITE" + Hex(bytes, count));

  const Time now = Clock::now();
  Time end = now;
  if (bus.timing == Timing::kWire) {
    const Time start = p->tx_free > now ? p->tx_free : now;
    end = start + nanoseconds(kByteTimeNs * static_cast<long long>(count));
    p->tx_free = end;
  }
  if (!LineUnderstood(*p)) {
    Trace(bus, "METER " + std::to_string(index) + " line at " + std::to_string(p->baud) +
                   " baud, bits " + std::to_string(p->word_length) + " stop " +
                   std::to_string(p->stop_bits) + " parity " + std::to_string(p->parity) +
                   ": bytes not understood");
    return FT_OK;
  }
  for (const MeterReply& reply : p->meter.Receive(bytes, count)) {
    SendReply(bus, *p, index, end, reply);
  }
  return FT_OK;
}

FT_STATUS FT_API SimRead(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* returned) {
  Bus& bus = TheBus();
  std::unique_lock<std::mutex> lock(bus.mutex);
  Port* p = FindPort(bus, handle);
  if (p == nullptr) return BadHandle(bus, "FT_Read", handle);
  const std::string call = "FT_Read " + HandleText(handle) + " wanted=" + std::to_string(wanted);
  if (returned == nullptr || (buffer == nullptr && wanted > 0)) {
    return Done(bus, call, FT_INVALID_PARAMETER);
  }

  const Time now = Clock::now();
  const Time never = Time::max();
  const Time deadline = p->read_timeout_ms != 0 ? now + milliseconds(p->read_timeout_ms) : never;
  const Time need = wanted == 0 ? now : p->rx.size() >= wanted ? p->rx[wanted - 1].deliver : never;
  const bool more_coming = !p->rx.empty() && p->rx.back().deliver > now;
  Time wake;
  if (need <= deadline) {
    wake = need;
  } else if (deadline == never) {
    // No time-out: wait for what is still coming, never for what is not.
    wake = more_coming ? p->rx.back().deliver : now;
  } else if (bus.timing == Timing::kInstant && !more_coming) {
    wake = now;
  } else {
    wake = deadline;
  }
  if (wake > now) {
    lock.unlock();
    SleepUntil(wake);
    lock.lock();
    p = FindPort(bus, handle);  // closed or reconfigured meanwhile?
    if (p == nullptr) return BadHandle(bus, "FT_Read", handle);
  }

  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t got = 0;
  while (got < wanted && !p->rx.empty() && p->rx.front().deliver <= wake) {
    out[got++] = p->rx.front().value;
    p->rx.pop_front();
  }
  *returned = got;
  Trace(bus, call + " -> 0 read=" + std::to_string(got));
  Trace(bus, "READ " + std::to_string(got) + Hex(out, got));
  return FT_OK;
}

FT_STATUS FT_API SimSetBaudRate(FT_HANDLE handle, uint32_t baud) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  Port* p = FindPort(bus, handle);
  if (p == nullptr) return BadHandle(bus, "FT_SetBaudRate", handle);
  const std::string call = "FT_SetBaudRate " + HandleText(handle) + " " + std::to_string(baud);
  // The FT232R's divisors reach from 183 baud to 3 Mbaud.
  if (baud < 183 || baud > 3000000) return Done(bus, call, FT_INVALID_BAUD_RATE);
  p->baud = baud;
  return Done(bus, call, FT_OK);
}

FT_STATUS FT_API SimSetDataCharacteristics(FT_HANDLE handle, uint8_t word_length, uint8_t stop_bits,
                                           uint8_t parity) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  Port* p = FindPort(bus, handle);
  if (p == nullptr) return BadHandle(bus, "FT_SetDataCharacteristics", handle);
  const std::string call = "FT_SetDataCharacteristics " + HandleText(handle) + " " +
                           std::to_string(word_length) + " " + std::to_string(stop_bits) + " " +
                           std::to_string(parity);
  if ((word_length != FT_BITS_7 && word_length != FT_BITS_8) ||
      (stop_bits != FT_STOP_BITS_1 && stop_bits != FT_STOP_BITS_2) || parity > FT_PARITY_SPACE) {
    return Done(bus, call, FT_INVALID_PARAMETER);
  }
  p->word_length = word_length;
  p->stop_bits = stop_bits;
  p->parity = parity;
  return Done(bus, call, FT_OK);
}

FT_STATUS FT_API SimSetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t xon, uint8_t xoff) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  Port* p = FindPort(bus, handle);
  if (p == nullptr) return BadHandle(bus, "FT_SetFlowControl", handle);
  p->flow = flow;
  return Done(bus,
              "FT_SetFlowControl " + HandleText(handle) + " " + std::to_string(flow) + " " +
                  std::to_string(xon) + " " + std::to_string(xoff),
              FT_OK);
}

FT_STATUS FT_API SimSetDtr(FT_HANDLE handle) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  Port* p = FindPort(bus, handle);
  if (p == nullptr) return BadHandle(bus, "FT_SetDtr", handle);
  p->dtr = true;
  return Done(bus, "FT_SetDtr " + HandleText(handle), FT_OK);
}

FT_STATUS FT_API SimClrDtr(FT_HANDLE handle) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  Port* p = FindPort(bus, handle);
  if (p == nullptr) return BadHandle(bus, "FT_ClrDtr", handle);
  p->dtr = false;
  return Done(bus, "FT_ClrDtr " + HandleText(handle), FT_OK);
}

FT_STATUS FT_API SimPurge(FT_HANDLE handle, uint32_t mask) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  Port* p = FindPort(bus, handle);
  if (p == nullptr) return BadHandle(bus, "FT_Purge", handle);
  if ((mask & FT_PURGE_RX) != 0) {
    // What has reached the chip is dropped; bytes the meter is still sending
    // arrive afterwards as usual, in packets of their own.
    const Time now = Clock::now();
    std::deque<RxByte> later;
    for (const RxByte& b : p->rx) {
      if (b.arrive > now) later.push_back(b);
    }
    p->rx.clear();
    p->packet_count = 0;
    for (const RxByte& b : later) Receive(bus, *p, b.value, b.arrive);
  }
  // Requests leave the chip as they are written, so a transmit purge finds
  // nothing to drop.
  return Done(bus, "FT_Purge " + HandleText(handle) + " mask=" + std::to_string(mask), FT_OK);
}

FT_STATUS FT_API SimSetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t write_ms) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  Port* p = FindPort(bus, handle);
  if (p == nullptr) return BadHandle(bus, "FT_SetTimeouts", handle);
  p->read_timeout_ms = read_ms;
  p->write_timeout_ms = write_ms;
  return Done(bus,
              "FT_SetTimeouts " + HandleText(handle) + " read=" + std::to_string(read_ms) +
                  " write=" + std::to_string(write_ms),
              FT_OK);
}

FT_STATUS FT_API SimListDevices(void* arg1, void* arg2, uint32_t flags) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  char call[64];
  std::snprintf(call, sizeof(call), "FT_ListDevices flags=0x%08X", static_cast<unsigned>(flags));
  // The count, and one device's serial number by index; nothing else.
  if ((flags & FT_LIST_BY_INDEX) != 0 && (flags & FT_OPEN_BY_SERIAL_NUMBER) != 0) {
    const uintptr_t index = reinterpret_cast<uintptr_t>(arg1);
    if (arg2 == nullptr || index >= bus.ports.size()) return Done(bus, call, FT_DEVICE_NOT_FOUND);
    const std::string& serial = bus.ports[index]->meter.config().eeprom.serial_number;
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
  const uint32_t count = static_cast<uint32_t>(bus.ports.size());
  std::memcpy(arg1, &count, sizeof(count));
  Trace(bus, std::string(call) + " -> 0 count=" + std::to_string(count));
  return FT_OK;
}

FT_STATUS FT_API SimEE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  Port* p = FindPort(bus, handle);
  if (p == nullptr) return BadHandle(bus, "FT_EE_Read", handle);
  const std::string call = "FT_EE_Read " + HandleText(handle);
  if (data == nullptr || data->Signature1 != 0x00000000 || data->Signature2 != 0xFFFFFFFF) {
    return Done(bus, call, FT_INVALID_PARAMETER);
  }
  if (p->meter.config().eeprom_read_fails) return Done(bus, call, FT_EEPROM_READ_FAILED);
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
  return FT_OK;
}

FT_STATUS FT_API SimSetLatencyTimer(FT_HANDLE handle, uint8_t ms) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  Port* p = FindPort(bus, handle);
  if (p == nullptr) return BadHandle(bus, "FT_SetLatencyTimer", handle);
  const std::string call = "FT_SetLatencyTimer " + HandleText(handle) + " " + std::to_string(ms);
  if (ms < 2) return Done(bus, call, FT_INVALID_PARAMETER);
  p->latency_ms = ms;
  p->packet_count = 0;  // the next byte starts a packet under the new timer
  return Done(bus, call, FT_OK);
}

FT_STATUS FT_API SimGetLatencyTimer(FT_HANDLE handle, uint8_t* ms) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mutex);
  Port* p = FindPort(bus, handle);
  if (p == nullptr) return BadHandle(bus, "FT_GetLatencyTimer", handle);
  const std::string call = "FT_GetLatencyTimer " + HandleText(handle);
  if (ms == nullptr) return Done(bus, call, FT_INVALID_PARAMETER);
  *ms = static_cast<uint8_t>(p->latency_ms);
  Trace(bus, call + " -> 0 ms=" + std::to_string(p->latency_ms));
  return FT_OK;
}

const D2xxFunctions& SimD2xxFunctions() {
  static const D2xxFunctions table = [] {
    D2xxFunctions t;
    t.Open = SimOpen;
    t.Close = SimClose;
    t.Read = SimRead;
    t.Write = SimWrite;
    t.SetBaudRate = SimSetBaudRate;
    t.SetDataCharacteristics = SimSetDataCharacteristics;
    t.SetFlowControl = SimSetFlowControl;
    t.SetDtr = SimSetDtr;
    t.ClrDtr = SimClrDtr;
    t.Purge = SimPurge;
    t.SetTimeouts = SimSetTimeouts;
    t.ListDevices = SimListDevices;
    t.EE_Read = SimEE_Read;
    return t;
  }();
  return table;
}

}  // namespace sq71::sim
