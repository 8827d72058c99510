#include "web/browser_meters_web.h"

#include <emscripten.h>

#include <algorithm>
#include <cstring>

namespace sq71::web {
namespace {

using ft232r::UsbStatus;

// What the page's calls answer besides a count: its codes for failures.
constexpr int kTimedOut = -1;
constexpr int kStalled = -2;
constexpr int kGone = -3;
constexpr int kBusy = -4;
constexpr int kDenied = -5;

UsbStatus StatusOf(int code) {
  if (code >= 0) return UsbStatus::kOk;
  switch (code) {
    case kTimedOut: return UsbStatus::kTimeout;
    case kStalled: return UsbStatus::kStall;
    case kGone: return UsbStatus::kGone;
    case kBusy: return UsbStatus::kBusy;
    case kDenied: return UsbStatus::kDenied;
    default: return UsbStatus::kError;
  }
}

// ---- the page's WebUSB calls (web/src/meters.ts) ----

EM_ASYNC_JS(int, js_usb_open, (int id), { return await Module.meters.usbOpen(id); });
EM_ASYNC_JS(void, js_usb_close, (int id), { await Module.meters.usbClose(id); });
EM_JS(int, js_usb_connected, (int id), { return Module.meters.usbConnected(id) ? 1 : 0; });
EM_JS(void, js_usb_drop, (int id), { Module.meters.usbDrop(id); });
EM_ASYNC_JS(int, js_usb_control, (int id, int type, int request, int value, int index, int length,
                                  uint8_t* data), {
  const got = await Module.meters.usbControl(id, type, request, value, index, length);
  if (typeof got === 'number') return got;
  HEAPU8.set(got, data);
  return got.length;
});
EM_ASYNC_JS(int, js_usb_bulk_out, (int id, const uint8_t* data, int count), {
  return await Module.meters.usbBulkOut(id, HEAPU8.slice(data, data + count));
});
EM_ASYNC_JS(int, js_usb_bulk_in, (int id, uint8_t* data, int capacity, int timeout), {
  const got = await Module.meters.usbBulkIn(id, capacity, timeout);
  if (typeof got === 'number') return got;
  HEAPU8.set(got, data);
  return got.length;
});

// ---- the page's Web Serial calls ----

EM_ASYNC_JS(int, js_serial_open, (int id, int baud, int bits, int stop, int parity), {
  return await Module.meters.serialOpen(id, baud, bits, stop, parity);
});
EM_ASYNC_JS(void, js_serial_close, (int id), { await Module.meters.serialClose(id); });
EM_JS(int, js_serial_connected, (int id), { return Module.meters.serialConnected(id) ? 1 : 0; });
EM_ASYNC_JS(int, js_serial_read, (int id, uint8_t* data, int wanted, int timeout), {
  const got = await Module.meters.serialRead(id, wanted, timeout);
  if (typeof got === 'number') return got;
  HEAPU8.set(got, data);
  return got.length;
});
EM_ASYNC_JS(int, js_serial_write, (int id, const uint8_t* data, int count), {
  return await Module.meters.serialWrite(id, HEAPU8.slice(data, data + count));
});
EM_ASYNC_JS(int, js_serial_purge, (int id), { return await Module.meters.serialPurge(id); });
EM_ASYNC_JS(int, js_serial_dtr, (int id, int on), {
  return await Module.meters.serialDtr(id, on !== 0);
});

}  // namespace

// ---- WebUsbTransport ----

UsbStatus WebUsbTransport::Open() {
  const UsbStatus status = StatusOf(js_usb_open(id_));
  open_ = status == UsbStatus::kOk;
  return status;
}

void WebUsbTransport::Close() {
  if (open_) js_usb_close(id_);
  open_ = false;
}

bool WebUsbTransport::connected() const { return js_usb_connected(id_) != 0; }

UsbStatus WebUsbTransport::ControlOut(const ft232r::ControlRequest& r) {
  return StatusOf(js_usb_control(id_, r.request_type, r.request, r.value, r.index, 0, nullptr));
}

UsbStatus WebUsbTransport::ControlIn(const ft232r::ControlRequest& r, uint8_t* data,
                                     std::size_t* got) {
  const int n = js_usb_control(id_, r.request_type, r.request, r.value, r.index, r.length, data);
  *got = n > 0 ? static_cast<std::size_t>(n) : 0;
  return StatusOf(n);
}

UsbStatus WebUsbTransport::BulkOut(const uint8_t* data, std::size_t count, std::size_t* sent) {
  const int n = js_usb_bulk_out(id_, data, static_cast<int>(count));
  *sent = n > 0 ? static_cast<std::size_t>(n) : 0;
  return StatusOf(n);
}

UsbStatus WebUsbTransport::BulkIn(uint8_t* data, std::size_t capacity, std::size_t* got,
                                  uint32_t timeout_ms) {
  const int n = js_usb_bulk_in(id_, data, static_cast<int>(capacity), static_cast<int>(timeout_ms));
  *got = n > 0 ? static_cast<std::size_t>(n) : 0;
  return StatusOf(n);
}

void WebUsbTransport::DropReceived() { js_usb_drop(id_); }

// ---- WebSerialDriver ----

void WebSerialDriver::Attach(int id, std::string where) {
  auto port = std::make_unique<Port>();
  port->id = id;
  port->where = std::move(where);
  ports_.push_back(std::move(port));
}

FT_STATUS WebSerialDriver::CountDevices(uint32_t* count) {
  if (count == nullptr) return FT_INVALID_PARAMETER;
  *count = static_cast<uint32_t>(std::count_if(ports_.begin(), ports_.end(), [](const auto& p) {
    return js_serial_connected(p->id) != 0;
  }));
  return FT_OK;
}

std::string WebSerialDriver::Where(int index) {
  for (const auto& p : ports_) {
    if (js_serial_connected(p->id) != 0 && index-- == 0) return p->where;
  }
  return std::string();
}

WebSerialDriver::Port* WebSerialDriver::Find(FT_HANDLE handle) {
  for (const auto& p : ports_) {
    if (p.get() == handle && p->open) return p.get();
  }
  return nullptr;
}

FT_STATUS WebSerialDriver::Failed(int code, const char* what) {
  const UsbStatus status = StatusOf(code);
  last_failure_ = status == UsbStatus::kGone   ? DriverFailure::kGone
                  : status == UsbStatus::kBusy ? DriverFailure::kBusy
                  : status == UsbStatus::kDenied ? DriverFailure::kPermission
                                                 : DriverFailure::kOther;
  last_error_ = std::string(what) + (status == UsbStatus::kGone   ? ": the port is gone"
                                     : status == UsbStatus::kBusy ? ": another program holds the port"
                                                                  : ": the port failed");
  return FT_IO_ERROR;
}

FT_STATUS WebSerialDriver::Open(int index, FT_HANDLE* handle) {
  if (handle == nullptr) return FT_INVALID_PARAMETER;
  *handle = nullptr;
  last_failure_ = DriverFailure::kNone;
  last_error_.clear();
  Port* port = nullptr;
  for (const auto& p : ports_) {
    if (js_serial_connected(p->id) != 0 && index-- == 0) port = p.get();
  }
  if (port == nullptr) return FT_DEVICE_NOT_FOUND;
  if (port->open) return FT_DEVICE_NOT_OPENED;
  // The line the core sets next, so that its settings need no second open.
  port->baud = 115200;
  port->bits = 8;
  port->stop = 0;
  port->parity = 0;
  const int code = js_serial_open(port->id, static_cast<int>(port->baud), 8, 1, 0);
  if (code < 0) return Failed(code, "opening the port"), FT_DEVICE_NOT_OPENED;
  port->open = true;
  *handle = port;
  return FT_OK;
}

FT_STATUS WebSerialDriver::Close(FT_HANDLE handle) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  port->open = false;
  js_serial_close(port->id);
  return FT_OK;
}

FT_STATUS WebSerialDriver::Reopen(Port& port) {
  const int code = js_serial_open(port.id, static_cast<int>(port.baud), port.bits,
                                  port.stop == 2 ? 2 : 1, port.parity);
  return code < 0 ? Failed(code, "setting the line") : FT_OK;
}

FT_STATUS WebSerialDriver::Read(FT_HANDLE handle, void* buffer, uint32_t wanted,
                                uint32_t* returned) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  if (returned == nullptr || (buffer == nullptr && wanted > 0)) return FT_INVALID_PARAMETER;
  *returned = 0;
  const uint32_t timeout = port->read_timeout_ms == 0 ? 5000 : port->read_timeout_ms;
  const int n = js_serial_read(port->id, static_cast<uint8_t*>(buffer), static_cast<int>(wanted),
                               static_cast<int>(timeout));
  if (n < 0) return Failed(n, "reading");
  *returned = static_cast<uint32_t>(n);
  return FT_OK;
}

FT_STATUS WebSerialDriver::Write(FT_HANDLE handle, const void* buffer, uint32_t count,
                                 uint32_t* written) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  if (written == nullptr || (buffer == nullptr && count > 0)) return FT_INVALID_PARAMETER;
  *written = 0;
  const int n = js_serial_write(port->id, static_cast<const uint8_t*>(buffer),
                                static_cast<int>(count));
  if (n < 0) return Failed(n, "writing");
  *written = static_cast<uint32_t>(n);
  return FT_OK;
}

FT_STATUS WebSerialDriver::SetBaudRate(FT_HANDLE handle, uint32_t baud) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  if (baud == 0) return FT_INVALID_BAUD_RATE;
  if (baud == port->baud) return FT_OK;
  port->baud = baud;
  return Reopen(*port);
}

FT_STATUS WebSerialDriver::SetDataCharacteristics(FT_HANDLE handle, uint8_t word_length,
                                                  uint8_t stop_bits, uint8_t parity) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  // Web Serial has 7 and 8 data bits, one or two stop bits, none, odd, even.
  if ((word_length != 7 && word_length != 8) || (stop_bits != 0 && stop_bits != 2) || parity > 2) {
    return FT_INVALID_PARAMETER;
  }
  if (word_length == port->bits && stop_bits == port->stop && parity == port->parity) return FT_OK;
  port->bits = word_length;
  port->stop = stop_bits;
  port->parity = parity;
  return Reopen(*port);
}

FT_STATUS WebSerialDriver::SetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t, uint8_t) {
  if (Find(handle) == nullptr) return FT_INVALID_HANDLE;
  // The port is always opened without flow control, the only mode used.
  return flow == FT_FLOW_NONE ? FT_OK : FT_NOT_SUPPORTED;
}

FT_STATUS WebSerialDriver::SetDtr(FT_HANDLE handle) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  const int code = js_serial_dtr(port->id, 1);
  return code < 0 ? Failed(code, "setting DTR") : FT_OK;
}

FT_STATUS WebSerialDriver::ClrDtr(FT_HANDLE handle) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  const int code = js_serial_dtr(port->id, 0);
  return code < 0 ? Failed(code, "clearing DTR") : FT_OK;
}

FT_STATUS WebSerialDriver::Purge(FT_HANDLE handle, uint32_t mask) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  // A write is over when its promise settles: nothing waits to go out.
  if ((mask & FT_PURGE_RX) == 0) return FT_OK;
  const int code = js_serial_purge(port->id);
  return code < 0 ? Failed(code, "purging") : FT_OK;
}

FT_STATUS WebSerialDriver::SetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  port->read_timeout_ms = read_ms;
  return FT_OK;
}

FT_STATUS WebSerialDriver::EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) {
  if (Find(handle) == nullptr) return FT_INVALID_HANDLE;
  // As the tty backend: the identity can never be read whole.
  return data == nullptr ? FT_INVALID_PARAMETER : FT_EEPROM_READ_FAILED;
}

}  // namespace sq71::web
