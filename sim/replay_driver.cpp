#include "sim/replay_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "log/trace_output.h"
#include "sim/precise_sleep.h"
#include "sim/simulated_meter.h"
#include "usb/tracing_driver.h"

namespace sq71::sim {
namespace {

void CopyText(char* target, std::size_t size, const std::string& text) {
  if (target == nullptr) return;
  const std::size_t n = std::min(text.size(), size - 1);
  std::memcpy(target, text.data(), n);
  target[n] = '\0';
}

// "02 00 04 4C 52 00 38 ..": enough of a request to find it in a trace.
std::string Shown(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && i < 7; ++i) {
    if (i > 0) text += ' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return bytes.size() > 7 ? text + " .." : text;
}

}  // namespace

const TracedCall* ReplayDriver::Queue::Next() {
  if (calls.empty()) return nullptr;
  return used < calls.size() ? calls[used++] : calls.back();
}

ReplayDriver::ReplayDriver(std::shared_ptr<const std::vector<TracedCall>> calls, bool paced,
                           std::function<void(const std::string&)> note)
    : calls_(std::move(calls)),
      paced_(paced),
      pace_{[] { return Clock::now(); }, SleepUntil},
      note_(std::move(note)) {
  // The exchange under way on each recorded handle, and when its request went.
  std::map<uint32_t, std::pair<std::size_t, int64_t>> current;
  for (const TracedCall& call : *calls_) {
    const uint32_t handle = call.Number("handle");
    if (call.name == "FT_Write") {
      if (!call.has_bytes) continue;
      exchanges_.push_back({call.status, call.Number("written"), {}});
      by_request_[std::string(call.bytes.begin(), call.bytes.end())].push_back(exchanges_.size() -
                                                                               1);
      current[handle] = {exchanges_.size() - 1, call.micros};
    } else if (call.name == "FT_Read") {
      const auto it = current.find(handle);
      if (it == current.end()) continue;
      const int64_t sent = it->second.second;
      const int64_t delay = sent >= 0 && call.micros >= sent ? call.micros - sent : 0;
      exchanges_[it->second.first].replies.push_back({call.status, call.bytes, delay});
    } else if (call.name == "FT_Open" || call.name == "Where") {
      if (call.name == "FT_Open") current.erase(handle);
      queues_[call.name + " " + std::to_string(call.Number("index"))].calls.push_back(&call);
    } else if (call.name == "FT_ListDevices") {
      // The count alone; the simulator's by-index lines list serial numbers.
      if (call.Has("count") || (call.status != FT_OK && !call.Has("index"))) {
        queues_[call.name].calls.push_back(&call);
      }
    } else {
      if (call.name == "FT_Close") current.erase(handle);
      queues_[call.name].calls.push_back(&call);
    }
  }
}

ReplayDriver::OpenHandle* ReplayDriver::Find(FT_HANDLE handle, FT_STATUS* refusal) {
  const auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
  *refusal = it == handles_.end() ? FT_INVALID_HANDLE : gone_ ? FT_IO_ERROR : FT_OK;
  return *refusal == FT_OK ? &it->second : nullptr;
}

FT_STATUS ReplayDriver::Recorded(FT_HANDLE handle, const char* call) {
  std::lock_guard<std::mutex> lock(mutex_);
  FT_STATUS refusal;
  if (Find(handle, &refusal) == nullptr) return refusal;
  const TracedCall* recorded = queues_[call].Next();
  return recorded != nullptr ? recorded->status : FT_OK;
}

FT_STATUS ReplayDriver::CountDevices(uint32_t* count) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (count == nullptr) return FT_INVALID_PARAMETER;
  const TracedCall* recorded = queues_["FT_ListDevices"].Next();
  *count = gone_ || recorded == nullptr ? 0 : recorded->Number("count");
  return recorded != nullptr ? recorded->status : FT_OK;
}

std::string ReplayDriver::Where(int index) {
  std::lock_guard<std::mutex> lock(mutex_);
  const TracedCall* recorded = queues_["Where " + std::to_string(index)].Next();
  return recorded != nullptr ? recorded->Text("where") : std::string();
}

FT_STATUS ReplayDriver::Open(int index, FT_HANDLE* handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (handle == nullptr) return FT_INVALID_PARAMETER;
  *handle = nullptr;
  const TracedCall* recorded = gone_ ? nullptr : queues_["FT_Open " + std::to_string(index)].Next();
  if (recorded == nullptr) return FT_DEVICE_NOT_FOUND;
  if (recorded->status != FT_OK) return recorded->status;
  const uintptr_t id = next_handle_++;
  handles_[id] = OpenHandle();
  *handle = reinterpret_cast<FT_HANDLE>(id);
  return FT_OK;
}

FT_STATUS ReplayDriver::Close(FT_HANDLE handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
  if (it == handles_.end()) return FT_INVALID_HANDLE;
  // The handle is given up either way, as by the driver.
  handles_.erase(it);
  if (gone_) return FT_IO_ERROR;
  const TracedCall* recorded = queues_["FT_Close"].Next();
  return recorded != nullptr ? recorded->status : FT_OK;
}

FT_STATUS ReplayDriver::Write(FT_HANDLE handle, const void* buffer, uint32_t count,
                              uint32_t* written) {
  // Nothing passes on a refused call.
  if (written != nullptr) *written = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  FT_STATUS refusal;
  OpenHandle* open = Find(handle, &refusal);
  if (open == nullptr) return refusal;
  if (written == nullptr || (buffer == nullptr && count > 0)) return FT_INVALID_PARAMETER;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  const std::vector<uint8_t> request(bytes, bytes + count);
  ++requests_;
  const auto found = by_request_.find(std::string(request.begin(), request.end()));
  if (found == by_request_.end()) {
    // As if pulled out as the request arrived: it went, nothing comes back.
    gone_ = true;
    const std::string text = "REPLAY request " + std::to_string(requests_) + " (" + Shown(request) +
                             ") not in the trace";
    if (note_) note_(text);
    *written = count;
    return FT_OK;
  }
  std::size_t& used = used_[found->first];
  const std::size_t at = std::min(used++, found->second.size() - 1);
  open->exchange = &exchanges_[found->second[at]];
  open->replies_used = 0;
  open->requested = pace_.now();
  *written = std::min(open->exchange->written, count);
  return open->exchange->write_status;
}

FT_STATUS ReplayDriver::Read(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  FT_STATUS refusal;
  OpenHandle* open = Find(handle, &refusal);
  if (open == nullptr) return refusal;
  if (returned == nullptr || (buffer == nullptr && wanted > 0)) return FT_INVALID_PARAMETER;
  *returned = 0;
  // Nothing more was recorded for this request: nothing comes.
  if (open->exchange == nullptr || open->replies_used >= open->exchange->replies.size()) {
    return FT_OK;
  }
  const Reply& reply = open->exchange->replies[open->replies_used++];
  if (paced_) {
    const Clock::time_point due = open->requested + std::chrono::microseconds(reply.delay_us);
    lock.unlock();
    const bool waited = PaceUntil(due);
    lock.lock();
    if (!waited) return FT_OK;
  }
  const std::size_t n = std::min<std::size_t>(reply.bytes.size(), wanted);
  if (n > 0) std::memcpy(buffer, reply.bytes.data(), n);
  *returned = static_cast<uint32_t>(n);
  return reply.status;
}

bool ReplayDriver::PaceUntil(Clock::time_point due) {
  constexpr std::chrono::milliseconds kStep{50};
  for (Clock::time_point now = pace_.now(); now < due; now = pace_.now()) {
    if (stop_ && stop_()) return false;
    pace_.sleep_until(std::min(due, now + kStep));
  }
  return true;
}

FT_STATUS ReplayDriver::GetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  FT_STATUS refusal;
  if (Find(handle, &refusal) == nullptr) return refusal;
  if (rx_bytes == nullptr) return FT_INVALID_PARAMETER;
  Queue& queue = queues_["FT_GetQueueStatus"];
  if (queue.calls.empty()) return FT_NOT_SUPPORTED;
  const TracedCall* recorded = queue.Next();
  *rx_bytes = recorded->Number("rx");
  return recorded->status;
}

FT_STATUS ReplayDriver::EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) {
  std::lock_guard<std::mutex> lock(mutex_);
  FT_STATUS refusal;
  if (Find(handle, &refusal) == nullptr) return refusal;
  if (data == nullptr) return FT_INVALID_PARAMETER;
  const TracedCall* recorded = queues_["FT_EE_Read"].Next();
  if (recorded == nullptr) return FT_EEPROM_READ_FAILED;
  if (recorded->status != FT_OK) return recorded->status;
  // What the trace leaves out is what the meter's chip holds.
  const EepromFields chip;
  const auto text = [recorded](const char* key, const std::string& otherwise) {
    return recorded->HasText(key) ? recorded->Text(key) : otherwise;
  };
  CopyText(data->Description, 64, text("description", chip.description));
  CopyText(data->Manufacturer, 32, text("manufacturer", chip.manufacturer));
  CopyText(data->ManufacturerId, 16, text("manufacturer_id", chip.manufacturer_id));
  CopyText(data->SerialNumber, 16, text("serial_number", chip.serial_number));
  data->VendorId = static_cast<uint16_t>(recorded->Number("vendor_id", chip.vendor_id));
  data->ProductId = static_cast<uint16_t>(recorded->Number("product_id", chip.product_id));
  data->MaxPower = static_cast<uint16_t>(recorded->Number("max_power", chip.max_power));
  data->PnP = static_cast<uint16_t>(recorded->Number("pnp", chip.pnp));
  data->SelfPowered = static_cast<uint16_t>(recorded->Number("self_powered", chip.self_powered));
  if (data->Version >= 2) {
    data->InvertDTR = static_cast<uint8_t>(recorded->Number("invert_dtr", chip.invert_dtr));
    data->InvertRXD = static_cast<uint8_t>(recorded->Number("invert_rxd", chip.invert_rxd));
    data->InvertTXD = static_cast<uint8_t>(recorded->Number("invert_txd", chip.invert_txd));
    data->Cbus4 = static_cast<uint8_t>(recorded->Number("cbus4", chip.cbus4));
  }
  return FT_OK;
}

std::unique_ptr<Driver> MakeReplayDriver(const Scenario& scenario, std::string* error,
                                         std::function<bool()> stop) {
  std::unique_ptr<TraceFile> file;
  if (!scenario.trace_path.empty()) {
    file = CreateTraceFile(scenario.trace_path, error);
    if (file == nullptr) return nullptr;
  }
  TraceSink* sink = file.get();
  auto replay = std::make_unique<ReplayDriver>(
      scenario.replay, scenario.timing == Timing::kWire, [sink](const std::string& note) {
        if (sink != nullptr) sink->Line(note);
        std::fprintf(stderr, "simulated meter: %s\n", note.c_str());
      });
  replay->set_backend(scenario.replay_backend);
  replay->set_stop_query(std::move(stop));
  if (file == nullptr) return replay;
  return std::make_unique<TracingDriver>(std::move(replay), std::move(file));
}

}  // namespace sq71::sim
