// The tty backend's reading of the USB device's sysfs attributes, over any
// file contents (the input split at NUL bytes, one piece per attribute): the
// strings stay NUL-terminated printable ASCII inside their buffers, and a
// number field changes only for a first line of nothing but digits of its
// base whose value fits it, and then to that value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "usb/d2xx.h"
#include "usb/tty_backend_posix.h"

namespace {

constexpr uint16_t kUnset = 0xA5A5;
constexpr std::size_t kGuard = 8;

// The first line's leading digits, as the field's reader should take them;
// -1 when something else is in the line (bMaxPower may carry a unit after).
long Expected(std::string_view text, int base, bool unit_allowed) {
  text = text.substr(0, text.find('\n'));
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  const std::string line(text);
  const char* digits = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
  const std::size_t end = line.find_first_not_of(digits);
  if (end == 0 || (!unit_allowed && end != std::string::npos) || line.empty()) return -1;
  const std::string number = line.substr(0, end);
  return number.size() > 8 ? -1 : static_cast<long>(std::strtoul(number.c_str(), nullptr, base));
}

void CheckText(const char* buffer, std::size_t size) {
  const std::size_t length = strnlen(buffer, size);
  if (length == size) std::abort();
  for (std::size_t i = 0; i < length; ++i) {
    if (buffer[i] < 0x20 || buffer[i] > 0x7E) std::abort();
  }
  for (std::size_t i = size; i < size + kGuard; ++i) {
    if (buffer[i] != 'G') std::abort();
  }
}

void CheckNumber(uint16_t field, long expected, long max) {
  const bool taken = expected >= 0 && expected <= max;
  if (taken ? field != expected : field != kUnset) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::string_view pieces[7];
  for (std::string_view& piece : pieces) {
    const std::size_t end = rest.find('\0');
    piece = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  char description[64 + kGuard], manufacturer[32 + kGuard], serial[16 + kGuard];
  std::memset(description, 'G', sizeof description);
  std::memset(manufacturer, 'G', sizeof manufacturer);
  std::memset(serial, 'G', sizeof serial);
  description[0] = manufacturer[0] = serial[0] = '\0';
  FT_PROGRAM_DATA record{};
  record.Description = description;
  record.Manufacturer = manufacturer;
  record.SerialNumber = serial;
  record.VendorId = record.ProductId = record.MaxPower = kUnset;
  record.SelfPowered = record.RemoteWakeup = kUnset;
  for (std::size_t i = 0; i < 7; ++i) {
    sq71::ApplySysfsAttribute(sq71::kSysfsAttributes[i], pieces[i], &record);
  }
  CheckText(description, 64);
  CheckText(manufacturer, 32);
  CheckText(serial, 16);
  CheckNumber(record.VendorId, Expected(pieces[3], 16, false), 0xFFFF);
  CheckNumber(record.ProductId, Expected(pieces[4], 16, false), 0xFFFF);
  CheckNumber(record.MaxPower, Expected(pieces[5], 10, true), 0xFFFF);
  const long attributes = Expected(pieces[6], 16, false);
  if (attributes >= 0 && attributes <= 0xFF) {
    CheckNumber(record.SelfPowered, (attributes & 0x40) != 0, 1);
    CheckNumber(record.RemoteWakeup, (attributes & 0x20) != 0, 1);
  } else if (record.SelfPowered != kUnset || record.RemoteWakeup != kUnset) {
    std::abort();
  }
  return 0;
}
