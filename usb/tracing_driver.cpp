#include "usb/tracing_driver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>


namespace sq71 {
namespace {

std::string Number(uint64_t value) { return std::to_string(value); }

// The one field a C string in the EEPROM record may be: null or at most its
// buffer's size.
std::string Field(const char* text, std::size_t size) {
  if (text == nullptr) return std::string();
  return std::string(text, strnlen(text, size));
}

}  // namespace

std::string TraceHex(const uint8_t* bytes, std::size_t count) {
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

std::string TraceQuoted(const std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      quoted += "\\x";
      quoted += kDigits[byte >> 4];
      quoted += kDigits[byte & 15];
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::unique_ptr<TraceFile> TraceFile::Over(std::FILE* file, bool owned) {
  return std::unique_ptr<TraceFile>(new TraceFile(file, owned));
}

TraceFile::TraceFile(std::FILE* file, bool owned)
    : file_(file), owned_(owned), start_(std::chrono::steady_clock::now()) {}

TraceFile::~TraceFile() {
  if (owned_) std::fclose(file_);
}

void TraceFile::Line(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start_)
                          .count();
  std::fprintf(file_, "%lld %s\n", static_cast<long long>(micros), text.c_str());
  std::fflush(file_);
}

TracingDriver::TracingDriver(Driver& inner, TraceSink& sink) : inner_(inner), sink_(sink) {
  sink_.Line("TRACE driver=" + inner_.name());
}

TracingDriver::TracingDriver(std::unique_ptr<Driver> inner, std::unique_ptr<TraceSink> sink)
    : owned_inner_(std::move(inner)),
      owned_sink_(std::move(sink)),
      inner_(*owned_inner_),
      sink_(*owned_sink_) {
  sink_.Line("TRACE driver=" + inner_.name());
}

std::string TracingDriver::HandleText(FT_HANDLE handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = numbers_.find(handle);
  return "handle=" + Number(it != numbers_.end() ? it->second : 0);
}

FT_STATUS TracingDriver::Done(const std::string& call, FT_STATUS status, const std::string& tail) {
  std::string line = call + " -> " + Number(status) + tail;
  if (status != FT_OK) {
    const std::string error = inner_.last_error();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!error.empty() && error != last_error_said_) line += " error=" + TraceQuoted(error);
    last_error_said_ = error;
  }
  sink_.Line(line);
  return status;
}

FT_STATUS TracingDriver::CountDevices(uint32_t* count) {
  const FT_STATUS status = inner_.CountDevices(count);
  const std::string tail =
      status == FT_OK && count != nullptr ? " count=" + Number(*count) : std::string();
  return Done("FT_ListDevices flags=0x80000000", status, tail);
}

std::string TracingDriver::Where(int index) {
  const std::string where = inner_.Where(index);
  sink_.Line("Where index=" + std::to_string(index) + " -> " + TraceQuoted(where));
  return where;
}

FT_STATUS TracingDriver::Open(int index, FT_HANDLE* handle) {
  const FT_STATUS status = inner_.Open(index, handle);
  std::string tail;
  if (status == FT_OK && handle != nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    numbers_[*handle] = next_number_;
    tail = " handle=" + Number(next_number_++);
  }
  return Done("FT_Open index=" + std::to_string(index), status, tail);
}

FT_STATUS TracingDriver::Close(FT_HANDLE handle) {
  const std::string call = "FT_Close " + HandleText(handle);
  const FT_STATUS status = inner_.Close(handle);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    numbers_.erase(handle);
  }
  return Done(call, status);
}

FT_STATUS TracingDriver::Read(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* returned) {
  // A backend that fails without saying how much came has passed nothing:
  // what the count held before is no byte of this read.
  if (returned != nullptr) *returned = 0;
  const FT_STATUS status = inner_.Read(handle, buffer, wanted, returned);
  const uint32_t got = returned != nullptr && buffer != nullptr ? std::min(*returned, wanted) : 0;
  Done("FT_Read " + HandleText(handle) + " wanted=" + Number(wanted), status,
       " read=" + Number(got));
  sink_.Line("READ " + Number(got) + TraceHex(static_cast<const uint8_t*>(buffer), got));
  return status;
}

FT_STATUS TracingDriver::Write(FT_HANDLE handle, const void* buffer, uint32_t count,
                               uint32_t* written) {
  if (written != nullptr) *written = 0;
  const FT_STATUS status = inner_.Write(handle, buffer, count, written);
  Done("FT_Write " + HandleText(handle) + " count=" + Number(count), status,
       " written=" + Number(written != nullptr ? *written : 0));
  // The whole request, sent or not: it is what the program asked for.
  if (buffer != nullptr) {
    sink_.Line("WRITE" + TraceHex(static_cast<const uint8_t*>(buffer), count));
  }
  return status;
}

FT_STATUS TracingDriver::SetBaudRate(FT_HANDLE handle, uint32_t baud) {
  const FT_STATUS status = inner_.SetBaudRate(handle, baud);
  return Done("FT_SetBaudRate " + HandleText(handle) + " " + Number(baud), status);
}

FT_STATUS TracingDriver::SetDataCharacteristics(FT_HANDLE handle, uint8_t word_length,
                                                uint8_t stop_bits, uint8_t parity) {
  const FT_STATUS status = inner_.SetDataCharacteristics(handle, word_length, stop_bits, parity);
  return Done("FT_SetDataCharacteristics " + HandleText(handle) + " " + Number(word_length) + " " +
                  Number(stop_bits) + " " + Number(parity),
              status);
}

FT_STATUS TracingDriver::SetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t xon,
                                        uint8_t xoff) {
  const FT_STATUS status = inner_.SetFlowControl(handle, flow, xon, xoff);
  return Done("FT_SetFlowControl " + HandleText(handle) + " " + Number(flow) + " " + Number(xon) +
                  " " + Number(xoff),
              status);
}

FT_STATUS TracingDriver::SetDtr(FT_HANDLE handle) {
  const FT_STATUS status = inner_.SetDtr(handle);
  return Done("FT_SetDtr " + HandleText(handle), status);
}

FT_STATUS TracingDriver::ClrDtr(FT_HANDLE handle) {
  const FT_STATUS status = inner_.ClrDtr(handle);
  return Done("FT_ClrDtr " + HandleText(handle), status);
}

FT_STATUS TracingDriver::Purge(FT_HANDLE handle, uint32_t mask) {
  const FT_STATUS status = inner_.Purge(handle, mask);
  return Done("FT_Purge " + HandleText(handle) + " mask=" + Number(mask), status);
}

FT_STATUS TracingDriver::SetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t write_ms) {
  const FT_STATUS status = inner_.SetTimeouts(handle, read_ms, write_ms);
  return Done("FT_SetTimeouts " + HandleText(handle) + " read=" + Number(read_ms) +
                  " write=" + Number(write_ms),
              status);
}

FT_STATUS TracingDriver::EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) {
  const FT_STATUS status = inner_.EE_Read(handle, data);
  std::string tail;
  if (status == FT_OK && data != nullptr) {
    // What the identity check looks at, and what names the chip.
    tail = " description=" + TraceQuoted(Field(data->Description, 64)) +
           " pnp=" + Number(data->PnP) + " self_powered=" + Number(data->SelfPowered);
    if (data->Version >= 2) {
      tail += " invert_dtr=" + Number(data->InvertDTR) + " invert_rxd=" + Number(data->InvertRXD) +
              " invert_txd=" + Number(data->InvertTXD) + " cbus4=" + Number(data->Cbus4);
    }
    tail += " manufacturer=" + TraceQuoted(Field(data->Manufacturer, 32)) +
            " manufacturer_id=" + TraceQuoted(Field(data->ManufacturerId, 16)) +
            " serial_number=" + TraceQuoted(Field(data->SerialNumber, 16)) +
            " vendor_id=" + Number(data->VendorId) + " product_id=" + Number(data->ProductId) +
            " max_power=" + Number(data->MaxPower);
  }
  return Done("FT_EE_Read " + HandleText(handle), status, tail);
}

FT_STATUS TracingDriver::SetLatencyTimer(FT_HANDLE handle, uint8_t ms) {
  const FT_STATUS status = inner_.SetLatencyTimer(handle, ms);
  return Done("FT_SetLatencyTimer " + HandleText(handle) + " " + Number(ms), status);
}

FT_STATUS TracingDriver::GetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes) {
  const FT_STATUS status = inner_.GetQueueStatus(handle, rx_bytes);
  const std::string tail =
      status == FT_OK && rx_bytes != nullptr ? " rx=" + Number(*rx_bytes) : std::string();
  return Done("FT_GetQueueStatus " + HandleText(handle), status, tail);
}

}  // namespace sq71
