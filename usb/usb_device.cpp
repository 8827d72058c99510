#include "usb/usb_device.h"

namespace sq71 {

UsbDevice::UsbDevice(Driver& driver) : driver_(driver) { (void)reserved_; }

FT_STATUS UsbDevice::Open(int index) {
  const FT_STATUS status = Store(driver_.Open(index, &handle_));
  if (status == FT_OK) {
    device_index_ = index;
  } else {
    handle_ = nullptr;
  }
  return status;
}

FT_STATUS UsbDevice::Close() {
  if (!is_open()) return FT_OK;
  const FT_STATUS status = driver_.Close(handle_);
  if (last_status_ == FT_OK) last_status_ = status;
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
  // All three are made even when one fails, as the driver's users expect;
  // the first refusal is the one that counts (a refused baud rate would
  // otherwise go unnoticed until the replies come garbled).
  FT_STATUS first = FT_OK;
  std::string first_error;
  const auto keep_first = [&](FT_STATUS status) {
    if (first != FT_OK || status == FT_OK) return;
    first = status;
    first_error = last_error_;
  };
  keep_first(SetBaudRate(baud));
  keep_first(SetDataCharacteristics(word_length, stop_bits, parity));
  keep_first(SetFlowControl(FT_FLOW_NONE, 0, 0));
  last_status_ = first;
  last_error_ = first_error;
  return first;
}

FT_STATUS UsbDevice::Write(const void* buffer, uint32_t count) {
  if (!is_open()) return FT_OK;
  return Store(driver_.Write(handle_, buffer, count, &bytes_written_));
}

FT_STATUS UsbDevice::Read(void* buffer, uint32_t wanted) {
  if (!is_open()) return FT_OK;
  return Store(driver_.Read(handle_, buffer, wanted, &bytes_read_));
}

FT_STATUS UsbDevice::Purge(uint32_t mask) {
  if (!is_open()) return FT_OK;
  return Store(driver_.Purge(handle_, mask));
}

FT_STATUS UsbDevice::PurgeReceive() { return Purge(FT_PURGE_RX); }

FT_STATUS UsbDevice::PurgeTransmit() { return Purge(FT_PURGE_TX); }

FT_STATUS UsbDevice::SetBaudRate(uint32_t baud) {
  if (!is_open()) return FT_OK;
  const FT_STATUS status = Store(driver_.SetBaudRate(handle_, baud));
  baud_rate_ = baud;
  return status;
}

FT_STATUS UsbDevice::SetDataCharacteristics(uint8_t word_length, uint8_t stop_bits,
                                            uint8_t parity) {
  if (!is_open()) return FT_OK;
  const FT_STATUS status =
      Store(driver_.SetDataCharacteristics(handle_, word_length, stop_bits, parity));
  word_length_ = word_length;
  stop_bits_ = stop_bits;
  parity_ = parity;
  return status;
}

FT_STATUS UsbDevice::SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) {
  if (!is_open()) return FT_OK;
  return Store(driver_.SetFlowControl(handle_, mode, xon, xoff));
}

FT_STATUS UsbDevice::SetTimeouts(uint32_t read_ms, uint32_t write_ms) {
  if (!is_open()) return FT_OK;
  const FT_STATUS status = Store(driver_.SetTimeouts(handle_, read_ms, write_ms));
  read_timeout_ = read_ms;
  write_timeout_ = write_ms;
  return status;
}

FT_STATUS UsbDevice::SetDtr(bool on) {
  if (!is_open()) return FT_OK;
  return Store(on ? driver_.SetDtr(handle_) : driver_.ClrDtr(handle_));
}

FT_STATUS UsbDevice::SetLatencyTimer(uint8_t ms) {
  if (!is_open()) return FT_OK;
  const FT_STATUS status = driver_.SetLatencyTimer(handle_, ms);
  return status == FT_NOT_SUPPORTED ? status : Store(status);
}

FT_STATUS UsbDevice::GetQueueStatus(uint32_t* rx_bytes) {
  *rx_bytes = 0;
  if (!is_open()) return FT_OK;
  const FT_STATUS status = driver_.GetQueueStatus(handle_, rx_bytes);
  return status == FT_NOT_SUPPORTED ? status : Store(status);
}

}  // namespace sq71
