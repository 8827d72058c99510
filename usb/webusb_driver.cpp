#include "usb/webusb_driver.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "usb/ft232r_eeprom.h"

namespace sq71 {
namespace {

using ft232r::UsbStatus;
using Clock = std::chrono::steady_clock;

// The chip's power-on line speed, which an open leaves it at.
constexpr uint32_t kOpenBaud = 9600;
// How long a read waits when no read time-out is set: one USB transfer's
// usual limit, rather than for ever.
constexpr uint32_t kUnsetReadTimeoutMs = 5000;
// The most packets one IN transfer asks for.
constexpr std::size_t kMaxPacketsPerTransfer = 64;

DriverFailure FailureOf(UsbStatus status) {
  switch (status) {
    case UsbStatus::kGone:
      return DriverFailure::kGone;
    case UsbStatus::kBusy:
      return DriverFailure::kBusy;
    case UsbStatus::kDenied:
      return DriverFailure::kPermission;
    default:
      return DriverFailure::kOther;
  }
}

const char* Words(UsbStatus status) {
  switch (status) {
    case UsbStatus::kOk:
      return "done";
    case UsbStatus::kTimeout:
      return "timed out";
    case UsbStatus::kStall:
      return "the chip refused the request";
    case UsbStatus::kGone:
      return "the device is gone";
    case UsbStatus::kBusy:
      return "another driver holds the chip (a system serial driver: use Web Serial there)";
    case UsbStatus::kDenied:
      return "access was denied";
    case UsbStatus::kError:
      break;
  }
  return "the USB transfer failed";
}

}  // namespace

WebUsbDriver::~WebUsbDriver() {
  for (const std::unique_ptr<Handle>& h : handles_) h->device->Close();
}

void WebUsbDriver::Attach(std::shared_ptr<ft232r::UsbTransport> device) {
  devices_.push_back(std::move(device));
}

WebUsbDriver::Handle* WebUsbDriver::Find(FT_HANDLE handle) {
  for (const std::unique_ptr<Handle>& h : handles_) {
    if (h.get() == handle) return h.get();
  }
  return nullptr;
}

FT_STATUS WebUsbDriver::Failed(Handle& h, UsbStatus status, const char* what) {
  last_failure_ = FailureOf(status);
  last_error_ = std::string(what) + ": " + Words(status);
  const std::string more = h.device->last_error();
  if (!more.empty()) last_error_ += " (" + more + ")";
  return FT_IO_ERROR;
}

FT_STATUS WebUsbDriver::Control(FT_HANDLE handle, const ft232r::ControlRequest& request,
                                const char* what) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  const UsbStatus status = h->device->ControlOut(request);
  return status == UsbStatus::kOk ? FT_OK : Failed(*h, status, what);
}

FT_STATUS WebUsbDriver::CountDevices(uint32_t* count) {
  if (count == nullptr) return FT_INVALID_PARAMETER;
  *count = static_cast<uint32_t>(std::count_if(
      devices_.begin(), devices_.end(), [](const auto& d) { return d->connected(); }));
  return FT_OK;
}

std::string WebUsbDriver::Where(int index) {
  for (const auto& d : devices_) {
    if (d->connected() && index-- == 0) return d->serial_number();
  }
  return std::string();
}

FT_STATUS WebUsbDriver::Open(int index, FT_HANDLE* handle) {
  if (handle == nullptr) return FT_INVALID_PARAMETER;
  *handle = nullptr;
  last_failure_ = DriverFailure::kNone;
  last_error_.clear();
  std::shared_ptr<ft232r::UsbTransport> device;
  for (const auto& d : devices_) {
    if (d->connected() && index-- == 0) device = d;
  }
  if (device == nullptr) return FT_DEVICE_NOT_FOUND;
  for (const std::unique_ptr<Handle>& h : handles_) {
    if (h->device == device) {
      last_failure_ = DriverFailure::kBusy;
      last_error_ = "opening the device: it is open already";
      return FT_DEVICE_NOT_OPENED;
    }
  }
  auto h = std::make_unique<Handle>();
  h->device = device;
  UsbStatus status = device->Open();
  if (status != UsbStatus::kOk) {
    Failed(*h, status, "opening the device");
    return FT_DEVICE_NOT_OPENED;
  }
  ft232r::ControlRequest baud;
  ft232r::BaudRateRequest(kOpenBaud, &baud);
  status = device->ControlOut(ft232r::ResetRequest());
  if (status == UsbStatus::kOk) status = device->ControlOut(baud);
  if (status != UsbStatus::kOk) {
    Failed(*h, status, "resetting the chip");
    device->Close();
    return FT_DEVICE_NOT_OPENED;
  }
  *handle = h.get();
  handles_.push_back(std::move(h));
  return FT_OK;
}

// The handle is given up whatever the device says; a device that has gone
// was reported by the call that found it gone.
FT_STATUS WebUsbDriver::Close(FT_HANDLE handle) {
  for (auto it = handles_.begin(); it != handles_.end(); ++it) {
    if (it->get() != handle) continue;
    (*it)->device->Close();
    handles_.erase(it);
    return FT_OK;
  }
  return FT_INVALID_HANDLE;
}

UsbStatus WebUsbDriver::TakeIn(Handle& h, uint32_t timeout_ms) {
  std::vector<uint8_t> transfer(kMaxPacketsPerTransfer * ft232r::kPacketSize);
  std::size_t got = 0;
  const UsbStatus status = h.device->BulkIn(transfer.data(), transfer.size(), &got, timeout_ms);
  if (status != UsbStatus::kOk) return status;
  std::vector<uint8_t> data;
  ft232r::AppendInData(transfer.data(), std::min(got, transfer.size()), &data);
  h.received.insert(h.received.end(), data.begin(), data.end());
  return UsbStatus::kOk;
}

FT_STATUS WebUsbDriver::Read(FT_HANDLE handle, void* buffer, uint32_t wanted,
                             uint32_t* returned) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  if (returned == nullptr || (buffer == nullptr && wanted != 0)) return FT_INVALID_PARAMETER;
  *returned = 0;
  const uint32_t limit_ms = h->read_timeout_ms != 0 ? h->read_timeout_ms : kUnsetReadTimeoutMs;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
  FT_STATUS result = FT_OK;
  while (h->received.size() < wanted) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    const UsbStatus status =
        TakeIn(*h, static_cast<uint32_t>(std::max<int64_t>(0, left.count())));
    if (status == UsbStatus::kTimeout) break;
    if (status != UsbStatus::kOk) {
      result = Failed(*h, status, "reading");
      break;
    }
    if (Clock::now() >= deadline) break;
  }
  const uint32_t n = std::min<uint32_t>(wanted, static_cast<uint32_t>(h->received.size()));
  std::copy_n(h->received.begin(), n, static_cast<uint8_t*>(buffer));
  h->received.erase(h->received.begin(), h->received.begin() + n);
  *returned = n;
  return result;
}

FT_STATUS WebUsbDriver::Write(FT_HANDLE handle, const void* buffer, uint32_t count,
                              uint32_t* written) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  if (written == nullptr || (buffer == nullptr && count != 0)) return FT_INVALID_PARAMETER;
  *written = 0;
  if (count == 0) return FT_OK;
  std::size_t sent = 0;
  const UsbStatus status = h->device->BulkOut(static_cast<const uint8_t*>(buffer), count, &sent);
  *written = static_cast<uint32_t>(std::min<std::size_t>(sent, count));
  return status == UsbStatus::kOk ? FT_OK : Failed(*h, status, "writing");
}

FT_STATUS WebUsbDriver::SetBaudRate(FT_HANDLE handle, uint32_t baud) {
  if (Find(handle) == nullptr) return FT_INVALID_HANDLE;
  ft232r::ControlRequest request;
  if (!ft232r::BaudRateRequest(baud, &request)) return FT_INVALID_BAUD_RATE;
  return Control(handle, request, "setting the baud rate");
}

FT_STATUS WebUsbDriver::SetDataCharacteristics(FT_HANDLE handle, uint8_t word_length,
                                               uint8_t stop_bits, uint8_t parity) {
  if (Find(handle) == nullptr) return FT_INVALID_HANDLE;
  if ((word_length != FT_BITS_7 && word_length != FT_BITS_8) ||
      (stop_bits != FT_STOP_BITS_1 && stop_bits != FT_STOP_BITS_2) || parity > FT_PARITY_SPACE) {
    return FT_INVALID_PARAMETER;
  }
  return Control(handle, ft232r::DataCharacteristicsRequest(word_length, stop_bits, parity),
                 "setting the line");
}

FT_STATUS WebUsbDriver::SetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t xon,
                                       uint8_t xoff) {
  if (Find(handle) == nullptr) return FT_INVALID_HANDLE;
  if (flow != FT_FLOW_NONE && flow != FT_FLOW_RTS_CTS && flow != FT_FLOW_DTR_DSR &&
      flow != FT_FLOW_XON_XOFF) {
    return FT_INVALID_PARAMETER;
  }
  return Control(handle, ft232r::FlowControlRequest(flow, xon, xoff), "setting flow control");
}

FT_STATUS WebUsbDriver::SetDtr(FT_HANDLE handle) {
  return Control(handle, ft232r::ModemControlRequest(true), "setting DTR");
}

FT_STATUS WebUsbDriver::ClrDtr(FT_HANDLE handle) {
  return Control(handle, ft232r::ModemControlRequest(false), "setting DTR");
}

// Receive first, then transmit, one request each; what the host had taken
// in and not read goes with the receive purge.
FT_STATUS WebUsbDriver::Purge(FT_HANDLE handle, uint32_t mask) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  if ((mask & ~(FT_PURGE_RX | FT_PURGE_TX)) != 0) return FT_INVALID_PARAMETER;
  if ((mask & FT_PURGE_RX) != 0) {
    const FT_STATUS status =
        Control(handle, ft232r::PurgeRequest(ft232r::kPurgeReceive), "purging");
    if (status != FT_OK) return status;
    h->device->DropReceived();
    h->received.clear();
  }
  if ((mask & FT_PURGE_TX) != 0) {
    return Control(handle, ft232r::PurgeRequest(ft232r::kPurgeTransmit), "purging");
  }
  return FT_OK;
}

FT_STATUS WebUsbDriver::SetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t write_ms) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  (void)write_ms;  // a bulk OUT transfer of a request is never held up by the chip
  h->read_timeout_ms = read_ms;
  return FT_OK;
}

FT_STATUS WebUsbDriver::EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  if (data == nullptr || data->Signature1 != 0x00000000 || data->Signature2 != 0xFFFFFFFF) {
    return FT_INVALID_PARAMETER;
  }
  uint8_t image[kFt232rEepromSize] = {};
  for (int word = 0; word < ft232r::kEepromWords; ++word) {
    std::size_t got = 0;
    const UsbStatus status = h->device->ControlIn(
        ft232r::ReadEepromWordRequest(static_cast<uint16_t>(word)), image + 2 * word, &got);
    if (status != UsbStatus::kOk || got != 2) {
      Failed(*h, status == UsbStatus::kOk ? UsbStatus::kError : status, "reading the EEPROM");
      return FT_EEPROM_READ_FAILED;
    }
  }
  const FT_STATUS status = DecodeFt232rEeprom(image, sizeof image, data);
  if (status != FT_OK) {
    last_failure_ = DriverFailure::kOther;
    last_error_ = "the EEPROM is blank or corrupt";
  }
  return status;
}

FT_STATUS WebUsbDriver::SetLatencyTimer(FT_HANDLE handle, uint8_t ms) {
  if (Find(handle) == nullptr) return FT_INVALID_HANDLE;
  if (ms < 2) return FT_INVALID_PARAMETER;  // the chip's range is 2 to 255
  return Control(handle, ft232r::SetLatencyRequest(ms), "setting the latency timer");
}

FT_STATUS WebUsbDriver::GetLatencyTimer(FT_HANDLE handle, uint8_t* ms) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  if (ms == nullptr) return FT_INVALID_PARAMETER;
  std::size_t got = 0;
  const UsbStatus status = h->device->ControlIn(ft232r::GetLatencyRequest(), ms, &got);
  if (status == UsbStatus::kOk && got == 1) return FT_OK;
  return Failed(*h, status == UsbStatus::kOk ? UsbStatus::kError : status,
                "reading the latency timer");
}

FT_STATUS WebUsbDriver::GetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  if (rx_bytes == nullptr) return FT_INVALID_PARAMETER;
  *rx_bytes = 0;
  UsbStatus status = UsbStatus::kOk;
  // Everything already there: transfers that come back full may have more
  // behind them.
  std::size_t before;
  do {
    before = h->received.size();
    status = TakeIn(*h, 0);
  } while (status == UsbStatus::kOk && h->received.size() != before);
  if (status != UsbStatus::kOk && status != UsbStatus::kTimeout) {
    return Failed(*h, status, "reading the receive queue");
  }
  *rx_bytes = static_cast<uint32_t>(h->received.size());
  return FT_OK;
}

}  // namespace sq71
