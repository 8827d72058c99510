#include "usb/usb_device.h"

namespace sq71 {

UsbDevice::UsbDevice(const D2xxFunctions& d2xx) : d2xx_(d2xx) { (void)reserved_; }

FT_STATUS UsbDevice::Open(int index) {
  const FT_STATUS status = Store(d2xx_.Open(index, &handle_));
  if (status == FT_OK) {
    device_index_ = index;
  } else {
    handle_ = nullptr;
  }
  return status;
}

FT_STATUS UsbDevice::Close() {
  if (!is_open()) return FT_OK;
  const FT_STATUS status = Store(d2xx_.Close(handle_));
  // Closed whatever the driver said: the handle is of no further use.
  handle_ = nullptr;
  device_index_ = -1;
  return status;
}

FT_STATUS UsbDevice::Configure(int index, uint32_t baud, uint8_t word_length, uint8_t stop_bits,
                               uint8_t parity) {
  Open(index);
  SetDtr(false);
  // After a failed open the DTR step did nothing, so this is the open's status.
  if (last_status_ != FT_OK) return last_status_;
  SetBaudRate(baud);
  SetDataCharacteristics(word_length, stop_bits, parity);
  SetFlowControl(FT_FLOW_NONE, 0, 0);
  return last_status_;
}

FT_STATUS UsbDevice::Write(const void* buffer, uint32_t count) {
  if (!is_open()) return FT_OK;
  // The driver's signature is not const-correct; it only reads the buffer.
  return Store(d2xx_.Write(handle_, const_cast<void*>(buffer), count, &bytes_written_));
}

FT_STATUS UsbDevice::Read(void* buffer, uint32_t wanted) {
  if (!is_open()) return FT_OK;
  return Store(d2xx_.Read(handle_, buffer, wanted, &bytes_read_));
}

FT_STATUS UsbDevice::Purge(uint32_t mask) {
  if (!is_open()) return FT_OK;
  return Store(d2xx_.Purge(handle_, mask));
}

FT_STATUS UsbDevice::PurgeReceive() { return Purge(FT_PURGE_RX); }

FT_STATUS UsbDevice::PurgeTransmit() { return Purge(FT_PURGE_TX); }

FT_STATUS UsbDevice::SetBaudRate(uint32_t baud) {
  if (!is_open()) return FT_OK;
  const FT_STATUS status = Store(d2xx_.SetBaudRate(handle_, baud));
  baud_rate_ = baud;
  return status;
}

FT_STATUS UsbDevice::SetDataCharacteristics(uint8_t word_length, uint8_t stop_bits,
                                            uint8_t parity) {
  if (!is_open()) return FT_OK;
  const FT_STATUS status =
      Store(d2xx_.SetDataCharacteristics(handle_, word_length, stop_bits, parity));
  word_length_ = word_length;
  stop_bits_ = stop_bits;
  parity_ = parity;
  return status;
}

FT_STATUS UsbDevice::SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) {
  if (!is_open()) return FT_OK;
  return Store(d2xx_.SetFlowControl(handle_, mode, xon, xoff));
}

FT_STATUS UsbDevice::SetTimeouts(uint32_t read_ms, uint32_t write_ms) {
  if (!is_open()) return FT_OK;
  const FT_STATUS status = Store(d2xx_.SetTimeouts(handle_, read_ms, write_ms));
  read_timeout_ = read_ms;
  write_timeout_ = write_ms;
  return status;
}

FT_STATUS UsbDevice::SetDtr(bool on) {
  if (!is_open()) return FT_OK;
  return Store(on ? d2xx_.SetDtr(handle_) : d2xx_.ClrDtr(handle_));
}

FT_STATUS UsbDevice::SetLatencyTimer(uint8_t ms) {
  if (!is_open()) return FT_OK;
  if (d2xx_.SetLatencyTimer == nullptr) return FT_NOT_SUPPORTED;
  return Store(d2xx_.SetLatencyTimer(handle_, ms));
}

FT_STATUS UsbDevice::GetQueueStatus(uint32_t* rx_bytes) {
  *rx_bytes = 0;
  if (!is_open()) return FT_OK;
  if (d2xx_.GetQueueStatus == nullptr) return FT_NOT_SUPPORTED;
  return Store(d2xx_.GetQueueStatus(handle_, rx_bytes));
}

}  // namespace sq71
