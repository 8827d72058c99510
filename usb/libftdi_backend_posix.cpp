#include "usb/libftdi_backend_posix.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>

#include "usb/ft232r_eeprom.h"

namespace sq71 {
namespace {

// libftdi's own limit for one USB transfer when the caller set none.
constexpr int kDefaultUsbTimeoutMs = 5000;
// libftdi keeps the EEPROM words in a buffer of this size, whatever the chip.
constexpr int kLibftdiEepromBufferSize = 256;

// What libftdi's calls return (libftdi 1.5's ftdi.c).
// ftdi_usb_open_dev:
constexpr int kOpenLibusbOpenFailed = -4;  // libusb_open failed
constexpr int kOpenClaimFailed = -5;       // the interface is held (ftdi_sio, another program)
constexpr int kOpenPermission = -8;        // the kernel driver could not be detached: EPERM
// ftdi_set_baudrate:
constexpr int kBaudRateInvalid = -1;  // no divisor for the rate

}  // namespace

struct LibftdiDriver::Handle {
  ftdi_context* ftdi = nullptr;
  uint32_t read_timeout_ms = 0;
};

LibftdiDriver::~LibftdiDriver() {
  for (Handle* h : handles_) {
    ftdi_usb_close(h->ftdi);
    ftdi_free(h->ftdi);
    delete h;
  }
}

void LibftdiDriver::SetError(DriverFailure kind, std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  last_failure_ = kind;
  last_error_ = std::move(text);
}

// libftdi's text for a failed call. libftdi folds libusb's causes into its
// own codes, so a vanished device (which the program reports differently) is
// told apart by asking the device for its status once more.
FT_STATUS LibftdiDriver::IoFailure(ftdi_context* ftdi, const char* what) {
  std::string text = std::string(what) + ": " + ftdi_get_error_string(ftdi);
  bool gone = ftdi->usb_dev == nullptr;
  if (!gone) {
    unsigned char status[2];
    gone = libusb_control_transfer(ftdi->usb_dev, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_STATUS, 0,
                                   0, status, sizeof status, 200) == LIBUSB_ERROR_NO_DEVICE;
  }
  if (gone) text += " (the device is gone)";
  SetError(gone ? DriverFailure::kGone : DriverFailure::kOther, std::move(text));
  return FT_IO_ERROR;
}

LibftdiDriver::Handle* LibftdiDriver::Find(FT_HANDLE handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle* h = static_cast<Handle*>(handle);
  return handles_.count(h) != 0 ? h : nullptr;
}

// A libftdi context set up the way every call here wants it. Null when
// libusb cannot start.
ftdi_context* LibftdiDriver::NewContext() {
  ftdi_context* ftdi = ftdi_new();
  if (ftdi == nullptr) {
    SetError(DriverFailure::kOther, "libusb could not be started");
    return nullptr;
  }
  // Give the device back to the kernel's serial driver on close.
  ftdi->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
  return ftdi;
}

namespace {

// The meter chips attached, in libusb's order: the order Open and Where()
// count in. Returns the count, or a negative libftdi error.
int FindAll(ftdi_context* ftdi, ftdi_device_list** list) {
  return ftdi_usb_find_all(ftdi, list, kLibftdiVendorId, kLibftdiProductId);
}

std::string ListingFailure(ftdi_context* ftdi) {
  return std::string("listing USB devices: ") + ftdi_get_error_string(ftdi);
}

libusb_device* Nth(ftdi_device_list* list, int index) {
  for (int i = 0; list != nullptr; ++i, list = list->next) {
    if (i == index) return list->dev;
  }
  return nullptr;
}

}  // namespace

DriverFailure LibusbOpenFailure(libusb_device* dev, std::string* text) {
  libusb_device_handle* probe = nullptr;
  const int result = libusb_open(dev, &probe);
  if (result == 0) {
    libusb_close(probe);
    return DriverFailure::kOther;
  }
  if (text != nullptr) *text = libusb_strerror(static_cast<libusb_error>(result));
  if (result == LIBUSB_ERROR_ACCESS) return DriverFailure::kPermission;
  if (result == LIBUSB_ERROR_NO_DEVICE) return DriverFailure::kGone;
  if (result == LIBUSB_ERROR_BUSY) return DriverFailure::kBusy;
  return DriverFailure::kOther;
}

FT_STATUS LibftdiDriver::Open(int index, FT_HANDLE* handle) {
  if (handle == nullptr) return FT_INVALID_PARAMETER;
  *handle = nullptr;
  SetError(DriverFailure::kNone, std::string());
  ftdi_context* ftdi = NewContext();
  if (ftdi == nullptr) return FT_DEVICE_NOT_FOUND;
  ftdi_device_list* list = nullptr;
  const int count = FindAll(ftdi, &list);
  libusb_device* dev = index >= 0 && index < count ? Nth(list, index) : nullptr;
  if (dev == nullptr) {
    SetError(DriverFailure::kOther,
             count < 0 ? ListingFailure(ftdi) : "no meter chip at index " + std::to_string(index));
    ftdi_list_free(&list);
    ftdi_free(ftdi);
    return FT_DEVICE_NOT_FOUND;
  }
  const int result = ftdi_usb_open_dev(ftdi, dev);
  if (result < 0) {
    const DriverFailure kind = result == kOpenPermission         ? DriverFailure::kPermission
                               : result == kOpenClaimFailed      ? DriverFailure::kBusy
                               : result == kOpenLibusbOpenFailed ? LibusbOpenFailure(dev)
                                                                 : DriverFailure::kOther;
    std::string text = std::string("opening the device: ") + ftdi_get_error_string(ftdi);
    if (kind == DriverFailure::kPermission) text += " (permission denied)";
    SetError(kind, std::move(text));
    ftdi_list_free(&list);
    ftdi_free(ftdi);
    return FT_DEVICE_NOT_OPENED;
  }
  ftdi_list_free(&list);
  Handle* h = new Handle;
  h->ftdi = ftdi;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    handles_.insert(h);
  }
  *handle = h;
  return FT_OK;
}

FT_STATUS LibftdiDriver::Close(FT_HANDLE handle) {
  Handle* h = static_cast<Handle*>(handle);
  {
    // Looked up and given up at once: two closes of one handle cannot both
    // find it.
    std::lock_guard<std::mutex> lock(mutex_);
    if (handles_.erase(h) == 0) return FT_INVALID_HANDLE;
  }
  // Releasing the interface hands the chip back to the kernel's driver; an
  // unplugged device fails that, which changes nothing here.
  ftdi_usb_close(h->ftdi);
  ftdi_free(h->ftdi);
  delete h;
  return FT_OK;
}

// ftdi_read_data hands over what has arrived (nothing until the chip's
// latency timer sends a packet), so the wanted count is gathered against the
// read time-out on the monotonic clock. A time-out of 0 takes what one pass
// brings rather than waiting without end.
FT_STATUS LibftdiDriver::Read(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* returned) {
  if (returned != nullptr) *returned = 0;  // nothing passes on a refused call
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  if (returned == nullptr || (buffer == nullptr && wanted != 0)) return FT_INVALID_PARAMETER;
  *returned = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(h->read_timeout_ms);
  uint32_t got = 0;
  while (got < wanted) {
    const int chunk = static_cast<int>(std::min<uint32_t>(wanted - got, 1u << 20));
    int n = ftdi_read_data(h->ftdi, bytes + got, chunk);
    // A USB transfer that timed out brought nothing; the deadline decides.
    if (n == LIBUSB_ERROR_TIMEOUT) n = 0;
    if (n < 0) {
      *returned = got;
      return IoFailure(h->ftdi, "reading");
    }
    got += static_cast<uint32_t>(n);
    if (std::chrono::steady_clock::now() >= deadline) break;
  }
  *returned = got;
  return FT_OK;
}

FT_STATUS LibftdiDriver::Write(FT_HANDLE handle, const void* buffer, uint32_t count,
                               uint32_t* written) {
  if (written != nullptr) *written = 0;  // nothing passes on a refused call
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  if (written == nullptr || (buffer == nullptr && count != 0)) return FT_INVALID_PARAMETER;
  *written = 0;
  if (count == 0) return FT_OK;
  const int n = ftdi_write_data(h->ftdi, static_cast<const unsigned char*>(buffer),
                                static_cast<int>(std::min<uint32_t>(count, 1u << 30)));
  if (n < 0) return IoFailure(h->ftdi, "writing");
  *written = static_cast<uint32_t>(n);
  return FT_OK;
}

FT_STATUS LibftdiDriver::SetBaudRate(FT_HANDLE handle, uint32_t baud) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  if (baud == 0 || baud > 3000000) return FT_INVALID_BAUD_RATE;
  const int result = ftdi_set_baudrate(h->ftdi, static_cast<int>(baud));
  if (result == kBaudRateInvalid) return FT_INVALID_BAUD_RATE;
  return result < 0 ? IoFailure(h->ftdi, "setting the baud rate") : FT_OK;
}

FT_STATUS LibftdiDriver::SetDataCharacteristics(FT_HANDLE handle, uint8_t word_length,
                                                uint8_t stop_bits, uint8_t parity) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  if ((word_length != FT_BITS_7 && word_length != FT_BITS_8) ||
      (stop_bits != FT_STOP_BITS_1 && stop_bits != FT_STOP_BITS_2) || parity > FT_PARITY_SPACE) {
    return FT_INVALID_PARAMETER;
  }
  // The D2XX values are libftdi's enumerators' values.
  const int result = ftdi_set_line_property(h->ftdi, static_cast<ftdi_bits_type>(word_length),
                                            static_cast<ftdi_stopbits_type>(stop_bits),
                                            static_cast<ftdi_parity_type>(parity));
  return result < 0 ? IoFailure(h->ftdi, "setting the line") : FT_OK;
}

FT_STATUS LibftdiDriver::SetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t xon,
                                        uint8_t xoff) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  int result;
  switch (flow) {
    case FT_FLOW_NONE:
      result = ftdi_setflowctrl(h->ftdi, SIO_DISABLE_FLOW_CTRL);
      break;
    case FT_FLOW_RTS_CTS:
      result = ftdi_setflowctrl(h->ftdi, SIO_RTS_CTS_HS);
      break;
    case FT_FLOW_DTR_DSR:
      result = ftdi_setflowctrl(h->ftdi, SIO_DTR_DSR_HS);
      break;
    case FT_FLOW_XON_XOFF:
      result = ftdi_setflowctrl_xonxoff(h->ftdi, xon, xoff);
      break;
    default:
      return FT_INVALID_PARAMETER;
  }
  return result < 0 ? IoFailure(h->ftdi, "setting flow control") : FT_OK;
}

FT_STATUS LibftdiDriver::SetDtrState(FT_HANDLE handle, int state) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  const int result = ftdi_setdtr(h->ftdi, state);
  return result < 0 ? IoFailure(h->ftdi, "setting DTR") : FT_OK;
}

FT_STATUS LibftdiDriver::SetDtr(FT_HANDLE handle) { return SetDtrState(handle, 1); }
FT_STATUS LibftdiDriver::ClrDtr(FT_HANDLE handle) { return SetDtrState(handle, 0); }

FT_STATUS LibftdiDriver::Purge(FT_HANDLE handle, uint32_t mask) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  if ((mask & ~(FT_PURGE_RX | FT_PURGE_TX)) != 0) return FT_INVALID_PARAMETER;
  if ((mask & FT_PURGE_RX) != 0) {
    const int result = ftdi_tciflush(h->ftdi);
    if (result < 0) return IoFailure(h->ftdi, "purging");
  }
  if ((mask & FT_PURGE_TX) != 0) {
    const int result = ftdi_tcoflush(h->ftdi);
    if (result < 0) return IoFailure(h->ftdi, "purging");
  }
  return FT_OK;
}

// The read time-out is kept for the read loop; each USB transfer is bounded
// by it too (never below the latency timer's longest period), so a
// transfer cannot outlast the read that started it by much.
FT_STATUS LibftdiDriver::SetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t write_ms) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  h->read_timeout_ms = read_ms;
  const auto usb_ms = [](uint32_t ms) {
    return ms == 0 ? kDefaultUsbTimeoutMs : static_cast<int>(std::clamp<uint32_t>(ms, 300, 600000));
  };
  h->ftdi->usb_read_timeout = usb_ms(read_ms);
  h->ftdi->usb_write_timeout = usb_ms(write_ms);
  return FT_OK;
}

FT_STATUS LibftdiDriver::CountDevices(uint32_t* count) {
  if (count == nullptr) return FT_INVALID_PARAMETER;
  ftdi_context* ftdi = NewContext();
  if (ftdi == nullptr) return FT_OTHER_ERROR;
  ftdi_device_list* list = nullptr;
  const int found = FindAll(ftdi, &list);
  if (found < 0) SetError(DriverFailure::kOther, ListingFailure(ftdi));
  ftdi_list_free(&list);
  ftdi_free(ftdi);
  if (found < 0) return FT_OTHER_ERROR;
  *count = static_cast<uint32_t>(found);
  return FT_OK;
}

// The raw words, decoded by our own code: libftdi's decoder writes to
// stderr and refuses a blank chip, and does not decode every field we need.
FT_STATUS LibftdiDriver::EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  if (data == nullptr || data->Signature1 != 0x00000000 || data->Signature2 != 0xFFFFFFFF) {
    return FT_INVALID_PARAMETER;
  }
  const int result = ftdi_read_eeprom(h->ftdi);
  if (result < 0) {
    IoFailure(h->ftdi, "reading the EEPROM");
    return FT_EEPROM_READ_FAILED;
  }
  unsigned char image[kLibftdiEepromBufferSize] = {};
  if (ftdi_get_eeprom_buf(h->ftdi, image, sizeof image) < 0) {
    SetError(DriverFailure::kOther,
             std::string("reading the EEPROM: ") + ftdi_get_error_string(h->ftdi));
    return FT_EEPROM_READ_FAILED;
  }
  const FT_STATUS status = DecodeFt232rEeprom(image, kFt232rEepromSize, data);
  if (status != FT_OK) SetError(DriverFailure::kOther, "the EEPROM is blank or corrupt");
  return status;
}

FT_STATUS LibftdiDriver::SetLatencyTimer(FT_HANDLE handle, uint8_t ms) {
  Handle* h = Find(handle);
  if (h == nullptr) return FT_INVALID_HANDLE;
  if (ms < 2) return FT_INVALID_PARAMETER;  // the chip's documented range is 2 to 255
  const int result = ftdi_set_latency_timer(h->ftdi, ms);
  return result < 0 ? IoFailure(h->ftdi, "setting the latency timer") : FT_OK;
}

// The serial number when the chip gives it without being claimed, else the
// place on the bus ("usb 1-1.4", as Linux names it).
std::string LibftdiDriver::Where(int index) {
  ftdi_context* ftdi = NewContext();
  if (ftdi == nullptr) return std::string();
  ftdi_device_list* list = nullptr;
  const int count = FindAll(ftdi, &list);
  libusb_device* dev = index >= 0 && index < count ? Nth(list, index) : nullptr;
  std::string where;
  if (dev != nullptr) {
    char serial[64] = {};
    if (ftdi_usb_get_strings2(ftdi, dev, nullptr, 0, nullptr, 0, serial, sizeof serial) == 0 &&
        serial[0] != '\0') {
      where = serial;
    } else {
      uint8_t ports[8];
      const int depth = libusb_get_port_numbers(dev, ports, sizeof ports);
      where = "usb " + std::to_string(libusb_get_bus_number(dev));
      for (int i = 0; i < depth; ++i) {
        where += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
      }
    }
  }
  ftdi_list_free(&list);
  ftdi_free(ftdi);
  return where;
}

std::string LibftdiDriver::last_error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_error_;
}

DriverFailure LibftdiDriver::last_failure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_failure_;
}

std::unique_ptr<LibftdiDriver> MakeLibftdiDriver(std::string* error) {
  // Whether libusb starts at all.
  ftdi_context* probe = ftdi_new();
  if (probe == nullptr) {
    if (error != nullptr) *error = "libusb could not be started";
    return nullptr;
  }
  ftdi_free(probe);
  return std::make_unique<LibftdiDriver>();
}

}  // namespace sq71
