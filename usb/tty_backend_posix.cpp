#include "usb/tty_backend_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string_view>

#include "ui/message_quote.h"

namespace sq71 {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

struct TtyDriver::Port {
  int fd = -1;
  std::string path;
  // 0 until FT_SetTimeouts: wait for nothing rather than for ever.
  uint32_t read_ms = 0;
  uint32_t write_ms = 0;
};

TtyDriver::~TtyDriver() {
  for (Port* port : open_) {
    close(port->fd);
    delete port;
  }
}

TtyDriver::Port* TtyDriver::Find(FT_HANDLE handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  Port* port = static_cast<Port*>(handle);
  return open_.count(port) != 0 ? port : nullptr;
}

FT_STATUS TtyDriver::OpenFailed(const std::string& path, int error_number) {
  std::lock_guard<std::mutex> lock(mutex_);
  open_failure_.error_number = error_number;
  open_failure_.port = path;
  const std::string shown = EscapeForMessage(path);
  switch (error_number) {
    case EBUSY:
      open_failure_.text = shown + ": in use by another program";
      break;
    case ENOTTY:
      open_failure_.text = shown + ": not a serial port";
      break;
    default:
      open_failure_.text = shown + ": " + std::strerror(error_number);
      break;
  }
  last_error_ = open_failure_.text;
  last_failure_ = error_number == EACCES || error_number == EPERM ? DriverFailure::kPermission
                  : error_number == EBUSY                         ? DriverFailure::kBusy
                                                                  : DriverFailure::kOther;
  const bool missing = error_number == ENOENT || error_number == ENXIO || error_number == ENODEV;
  return missing ? FT_DEVICE_NOT_FOUND : FT_DEVICE_NOT_OPENED;
}

FT_STATUS TtyDriver::Failed(const Port& port, int error_number, FT_STATUS status) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool gone =
      error_number == 0 || error_number == EIO || error_number == ENODEV || error_number == ENXIO;
  last_error_ =
      port.path + ": " + (error_number != 0 ? std::strerror(error_number) : "the device is gone");
  last_failure_ = gone ? DriverFailure::kGone : DriverFailure::kOther;
  return status;
}

namespace {

// Milliseconds left until `deadline`, rounded up so that a wait never ends
// before it; 0 once it has passed.
int MsUntil(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

bool SpeedFor(uint32_t baud, speed_t* speed) {
  static const struct {
    uint32_t baud;
    speed_t speed;
  } kSpeeds[] = {
      {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
      {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
      {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
      {460800, B460800},
#endif
#ifdef B921600
      {921600, B921600},
#endif
  };
  for (const auto& s : kSpeeds) {
    if (s.baud == baud) {
      *speed = s.speed;
      return true;
    }
  }
  return false;
}

// The first line, without its line end.
std::string_view FirstLine(std::string_view text) {
  text = text.substr(0, text.find('\n'));
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return text;
}

// Into a buffer of the driver's size: printable ASCII, anything else '?', as
// the chip's own strings are decoded, so no text from outside reaches a
// message raw.
void CopyText(std::string_view text, char* buffer, std::size_t size) {
  if (buffer == nullptr) return;
  const std::size_t length = std::min(text.size(), size - 1);
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    buffer[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  }
  buffer[length] = '\0';
}

// A whole number in the base, at most max: digits only, no sign, no blanks.
bool ParseAttributeNumber(std::string_view text, int base, unsigned long max,
                          unsigned long* value) {
  if (text.empty() || text.size() > 8) return false;
  unsigned long n = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return false;
    n = n * static_cast<unsigned long>(base) + static_cast<unsigned long>(digit);
  }
  if (n > max) return false;
  *value = n;
  return true;
}

#ifdef __linux__

// The bytes of a sysfs attribute file, as far as any of ours reaches; false
// when it cannot be read.
bool ReadAttribute(const std::string& file, std::string* value) {
  const int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  char text[256];
  const ssize_t got = read(fd, text, sizeof text);
  close(fd);
  if (got < 0) return false;
  value->assign(text, static_cast<std::size_t>(got));
  return true;
}

// `tty` is the port's folder in sysfs.
void FillFromSysfs(const std::string& tty, FT_PROGRAM_DATA* data) {
  if (tty.empty()) return;
  // device is the usb-serial port; its interface's parent is the USB device.
  const std::string usb = tty + "/device/../..";
  for (const char* name : kSysfsAttributes) {
    std::string text;
    if (ReadAttribute(usb + "/" + name, &text)) ApplySysfsAttribute(name, text, data);
  }
}

// ftdi_sio's own latency timer attribute; writable by root or a udev rule.
bool WriteLatencyAttribute(const std::string& tty, uint8_t ms) {
  if (tty.empty()) return false;
  const int fd = open((tty + "/device/latency_timer").c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  char text[8];
  const int length = std::snprintf(text, sizeof text, "%u\n", ms);
  const bool written = write(fd, text, static_cast<std::size_t>(length)) == length;
  close(fd);
  return written;
}
#endif

}  // namespace

template <typename Change>
FT_STATUS TtyDriver::ChangeLine(FT_HANDLE handle, Change change) {
  // Changes the port's termios through `change`, which may refuse with a
  // status; the line is left as it was when it does.
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  termios tio;
  if (tcgetattr(port->fd, &tio) != 0) return Failed(*port, errno, FT_IO_ERROR);
  const FT_STATUS refused = change(tio);
  if (refused != FT_OK) return refused;
  if (tcsetattr(port->fd, TCSANOW, &tio) != 0) return Failed(*port, errno, FT_IO_ERROR);
  return FT_OK;
}

FT_STATUS TtyDriver::SetModemLines(FT_HANDLE handle, unsigned long request) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  int bits = TIOCM_DTR;
  if (ioctl(port->fd, request, &bits) == 0) return FT_OK;
  // A pseudo-terminal (and any line without modem control) has no DTR.
  return errno == ENOTTY || errno == EINVAL ? FT_OK : Failed(*port, errno, FT_IO_ERROR);
}

// The tty's folder in sysfs, named by the last part of the port's real path,
// so that /dev/serial/by-id/... links lead to ttyUSBn; "" where there is none.
std::string TtyDriver::SysfsTtyDir(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return {};
  std::string name(real);
  std::free(real);
  name = name.substr(name.rfind('/') + 1);
  if (name.empty()) return {};
  std::lock_guard<std::mutex> lock(mutex_);
  return sysfs_root_ + "/class/tty/" + name;
}

FT_STATUS TtyDriver::Open(int index, FT_HANDLE* handle) {
  if (handle == nullptr) return FT_INVALID_PARAMETER;
  std::string path;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_failure_ = TtyOpenFailure();
    last_error_.clear();
    last_failure_ = DriverFailure::kNone;
    if (index < 0 || index >= static_cast<int>(ports_.size())) return FT_DEVICE_NOT_FOUND;
    path = ports_[static_cast<std::size_t>(index)];
  }
  // Non-blocking, so that neither the open (waiting for carrier) nor a read
  // ever blocks: every wait is a poll with a deadline.
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return OpenFailed(path, errno);
  int error_number = 0;
  termios tio;
  // flock keeps out every program that locks (this one included, even as
  // root); TIOCEXCL keeps out other users' programs that do not.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error_number = errno == EWOULDBLOCK ? EBUSY : errno;
  } else if (tcgetattr(fd, &tio) != 0) {
    error_number = errno;
  } else {
    // Raw bytes both ways. Speed, character size, parity, stop bits and flow
    // control are left to the calls that set them.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CLOCAL | CREAD;
    // With VMIN 1 an empty read means the device has gone; no data yet is
    // EAGAIN.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) error_number = errno;
  }
  if (error_number != 0) {
    close(fd);
    return OpenFailed(path, error_number);
  }
#ifdef TIOCEXCL
  ioctl(fd, TIOCEXCL);
#endif
  Port* port = new Port;
  port->fd = fd;
  port->path = path;
  std::lock_guard<std::mutex> lock(mutex_);
  open_.insert(port);
  *handle = port;
  return FT_OK;
}

FT_STATUS TtyDriver::Close(FT_HANDLE handle) {
  Port* port = static_cast<Port*>(handle);
  {
    // Looked up and given up at once: two closes of one handle cannot both
    // find it.
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_.erase(port) == 0) return FT_INVALID_HANDLE;
  }
  // Anything still queued is dropped: close would otherwise wait for it to
  // drain, for half a minute on a stalled line.
  tcflush(port->fd, TCIOFLUSH);
#ifdef TIOCNXCL
  // The exclusive flag belongs to the tty, which may outlive this open.
  ioctl(port->fd, TIOCNXCL);
#endif
  const int closed = close(port->fd);
  delete port;
  return closed == 0 ? FT_OK : FT_IO_ERROR;
}

FT_STATUS TtyDriver::Read(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* returned) {
  if (returned != nullptr) *returned = 0;  // nothing passes on a refused call
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  if (returned == nullptr || (buffer == nullptr && wanted > 0)) return FT_INVALID_PARAMETER;
  // The time-out runs from the call, not from the last byte (as VTIME would).
  const auto deadline = Clock::now() + std::chrono::milliseconds(port->read_ms);
  uint8_t* bytes = static_cast<uint8_t*>(buffer);
  uint32_t got = 0;
  bool hung_up = false;
  FT_STATUS status = FT_OK;
  while (got < wanted) {
    const ssize_t n = read(port->fd, bytes + got, wanted - got);
    if (n > 0) {
      got += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || hung_up) {
      // The device has gone.
      status = Failed(*port, n == 0 || hung_up ? 0 : errno, FT_IO_ERROR);
      break;
    }
    const int wait = MsUntil(deadline);
    if (wait == 0) break;
    pollfd pfd = {port->fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, wait);
    if (ready < 0 && errno != EINTR) {
      status = Failed(*port, errno, FT_IO_ERROR);
      break;
    }
    // What is still buffered is read first; the next read then tells.
    if (ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) hung_up = true;
  }
  *returned = got;
  return status;
}

FT_STATUS TtyDriver::Write(FT_HANDLE handle, const void* buffer, uint32_t count,
                           uint32_t* written) {
  if (written != nullptr) *written = 0;  // nothing passes on a refused call
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  if (written == nullptr || (buffer == nullptr && count > 0)) return FT_INVALID_PARAMETER;
  const auto deadline = Clock::now() + std::chrono::milliseconds(port->write_ms);
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  uint32_t done = 0;
  FT_STATUS status = FT_OK;
  while (done < count) {
    const ssize_t n = write(port->fd, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      status = Failed(*port, n == 0 ? 0 : errno, FT_IO_ERROR);
      break;
    }
    const int wait = MsUntil(deadline);
    if (wait == 0) break;
    pollfd pfd = {port->fd, POLLOUT, 0};
    if (poll(&pfd, 1, wait) < 0 && errno != EINTR) {
      status = Failed(*port, errno, FT_IO_ERROR);
      break;
    }
    if ((pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      status = Failed(*port, 0, FT_IO_ERROR);
      break;
    }
  }
  *written = done;
  return status;
}

FT_STATUS TtyDriver::SetBaudRate(FT_HANDLE handle, uint32_t baud) {
  return ChangeLine(handle, [baud](termios& tio) -> FT_STATUS {
    speed_t speed;
    if (!SpeedFor(baud, &speed)) return FT_INVALID_BAUD_RATE;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return FT_OK;
  });
}

FT_STATUS TtyDriver::SetDataCharacteristics(FT_HANDLE handle, uint8_t word_length,
                                            uint8_t stop_bits, uint8_t parity) {
  return ChangeLine(handle, [=](termios& tio) -> FT_STATUS {
    if (word_length != FT_BITS_8 && word_length != FT_BITS_7) return FT_INVALID_PARAMETER;
    if (stop_bits != FT_STOP_BITS_1 && stop_bits != FT_STOP_BITS_2) return FT_INVALID_PARAMETER;
    // Mark and space parity have no portable termios form.
    if (parity != FT_PARITY_NONE && parity != FT_PARITY_ODD && parity != FT_PARITY_EVEN) {
      return FT_INVALID_PARAMETER;
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD);
    tio.c_cflag |= word_length == FT_BITS_8 ? CS8 : CS7;
    if (stop_bits == FT_STOP_BITS_2) tio.c_cflag |= CSTOPB;
    if (parity != FT_PARITY_NONE) tio.c_cflag |= PARENB;
    if (parity == FT_PARITY_ODD) tio.c_cflag |= PARODD;
    return FT_OK;
  });
}

FT_STATUS TtyDriver::SetFlowControl(FT_HANDLE handle, uint16_t flow, uint8_t xon, uint8_t xoff) {
  return ChangeLine(handle, [=](termios& tio) -> FT_STATUS {
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
#ifdef CRTSCTS
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    switch (flow) {
      case FT_FLOW_NONE:
        return FT_OK;
      case FT_FLOW_RTS_CTS:
#ifdef CRTSCTS
        tio.c_cflag |= CRTSCTS;
        return FT_OK;
#else
        return FT_NOT_SUPPORTED;
#endif
      case FT_FLOW_XON_XOFF:
        tio.c_iflag |= IXON | IXOFF;
        tio.c_cc[VSTART] = xon;
        tio.c_cc[VSTOP] = xoff;
        return FT_OK;
      case FT_FLOW_DTR_DSR:
        return FT_NOT_SUPPORTED;  // termios has no DTR/DSR handshake
      default:
        return FT_INVALID_PARAMETER;
    }
  });
}

FT_STATUS TtyDriver::SetDtr(FT_HANDLE handle) { return SetModemLines(handle, TIOCMBIS); }

FT_STATUS TtyDriver::ClrDtr(FT_HANDLE handle) { return SetModemLines(handle, TIOCMBIC); }

FT_STATUS TtyDriver::Purge(FT_HANDLE handle, uint32_t mask) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  const bool rx = (mask & FT_PURGE_RX) != 0;
  const bool tx = (mask & FT_PURGE_TX) != 0;
  if (!rx && !tx) return FT_OK;
  const int queue = rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH;
  return tcflush(port->fd, queue) == 0 ? FT_OK : Failed(*port, errno, FT_IO_ERROR);
}

FT_STATUS TtyDriver::SetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t write_ms) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  port->read_ms = read_ms;
  port->write_ms = write_ms;
  return FT_OK;
}

FT_STATUS TtyDriver::CountDevices(uint32_t* count) {
  if (count == nullptr) return FT_INVALID_PARAMETER;
  *count = static_cast<uint32_t>(ports_.size());
  return FT_OK;
}

FT_STATUS TtyDriver::EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  if (data == nullptr) return FT_INVALID_PARAMETER;
#ifdef __linux__
  FillFromSysfs(SysfsTtyDir(port->path), data);
#endif
  // The pin and CBUS settings are out of a tty's reach: the identity can
  // never be read whole.
  return FT_EEPROM_READ_FAILED;
}

FT_STATUS TtyDriver::SetLatencyTimer(FT_HANDLE handle, uint8_t ms) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
#ifdef __linux__
  // The exact value where ftdi_sio lets us write it; else the driver's low
  // latency mode (1 ms on ftdi_sio). Drivers without either keep theirs.
  if (!WriteLatencyAttribute(SysfsTtyDir(port->path), ms)) {
    serial_struct serial;
    if (ioctl(port->fd, TIOCGSERIAL, &serial) == 0) {
      serial.flags |= ASYNC_LOW_LATENCY;
      ioctl(port->fd, TIOCSSERIAL, &serial);
    }
  }
#else
  (void)ms;
#endif
  return FT_OK;
}

FT_STATUS TtyDriver::GetQueueStatus(FT_HANDLE handle, uint32_t* rx_bytes) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  if (rx_bytes == nullptr) return FT_INVALID_PARAMETER;
  // What the serial driver holds for us to read (TIOCINQ on Linux).
  int queued = 0;
  if (ioctl(port->fd, FIONREAD, &queued) != 0) return Failed(*port, errno, FT_IO_ERROR);
  *rx_bytes = static_cast<uint32_t>(queued);
  return FT_OK;
}

std::string TtyDriver::Where(int index) {
  if (index < 0 || index >= static_cast<int>(ports_.size())) return {};
  return ports_[static_cast<std::size_t>(index)];
}

std::string TtyDriver::last_error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_error_;
}

DriverFailure TtyDriver::last_failure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_failure_;
}

TtyOpenFailure TtyDriver::last_open_failure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_failure_;
}

void TtyDriver::set_sysfs_root(const std::string& root) {
  std::lock_guard<std::mutex> lock(mutex_);
  sysfs_root_ = root;
}

void ApplySysfsAttribute(std::string_view name, std::string_view text, FT_PROGRAM_DATA* data) {
  const std::string_view line = FirstLine(text);
  unsigned long n = 0;
  if (name == "product") {
    CopyText(line, data->Description, 64);
  } else if (name == "manufacturer") {
    CopyText(line, data->Manufacturer, 32);
  } else if (name == "serial") {
    CopyText(line, data->SerialNumber, 16);
  } else if (name == "idVendor" && ParseAttributeNumber(line, 16, 0xFFFF, &n)) {
    data->VendorId = static_cast<uint16_t>(n);
  } else if (name == "idProduct" && ParseAttributeNumber(line, 16, 0xFFFF, &n)) {
    data->ProductId = static_cast<uint16_t>(n);
  } else if (name == "bMaxPower") {
    // Shown by the kernel with its unit: "90mA".
    const std::size_t digits = line.find_first_not_of("0123456789");
    if (ParseAttributeNumber(line.substr(0, digits), 10, 0xFFFF, &n)) {
      data->MaxPower = static_cast<uint16_t>(n);
    }
  } else if (name == "bmAttributes" && ParseAttributeNumber(line, 16, 0xFF, &n)) {
    data->SelfPowered = (n & 0x40) != 0 ? 1 : 0;
    data->RemoteWakeup = (n & 0x20) != 0 ? 1 : 0;
  }
}

std::unique_ptr<TtyDriver> MakeTtyDriver(const std::vector<std::string>& ports,
                                         std::string* error) {
  if (ports.empty()) {
    if (error != nullptr) *error = "no serial port given";
    return nullptr;
  }
  for (const std::string& port : ports) {
    if (port.empty()) {
      if (error != nullptr) *error = "empty serial port name";
      return nullptr;
    }
  }
  return std::make_unique<TtyDriver>(ports);
}

}  // namespace sq71
