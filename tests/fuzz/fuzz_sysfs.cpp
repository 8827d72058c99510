// The tty backend's reading of the USB device's sysfs attributes, over any
// file contents (the input split at NUL bytes, one piece per attribute): the
// strings stay NUL-terminated printable ASCII inside their buffers (of the
// driver's sizes exactly, so AddressSanitizer sees a write past one), and a
// number changes only for a first line of digits of its base whose value
// fits, and then to that value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "usb/d2xx.h"
#include "usb/tty_backend_posix.h"

namespace {

constexpr uint16_t kUnset = 0xA5A5;

// The value the first line's digits give, -1 when the line holds anything
// else (bMaxPower may carry a unit after them) or more than 8 digits.
long Expected(std::string_view text, int base, long max, bool unit = false) {
  std::string line(text.substr(0, text.find('\n')));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::size_t end =
      line.find_first_not_of(base == 16 ? "0123456789abcdefABCDEF" : "0123456789");
  if (end == 0 || line.empty() || (!unit && end != std::string::npos)) return -1;
  const std::string digits = line.substr(0, end);
  const long value = digits.size() > 8 ? -1 : std::strtol(digits.c_str(), nullptr, base);
  return value <= max ? value : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size), pieces[7];
  for (std::string_view& piece : pieces) {
    const std::size_t end = rest.find('\0');
    piece = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  std::unique_ptr<char[]> text[3] = {std::make_unique<char[]>(64), std::make_unique<char[]>(32),
                                     std::make_unique<char[]>(16)};
  FT_PROGRAM_DATA record{};
  record.Description = text[0].get();
  record.Manufacturer = text[1].get();
  record.SerialNumber = text[2].get();
  record.VendorId = record.ProductId = record.MaxPower = kUnset;
  record.SelfPowered = record.RemoteWakeup = kUnset;
  for (std::size_t i = 0; i < 7; ++i) {
    sq71::ApplySysfsAttribute(sq71::kSysfsAttributes[i], pieces[i], &record);
  }
  bool fine = true;
  for (int i = 0; i < 3; ++i) {
    const std::size_t length = strnlen(text[i].get(), 64u >> i);
    fine = fine && length < (64u >> i);
    for (std::size_t k = 0; k < length; ++k) fine = fine && text[i][k] >= 0x20 && text[i][k] < 0x7F;
  }
  const long numbers[] = {Expected(pieces[3], 16, 0xFFFF), Expected(pieces[4], 16, 0xFFFF),
                          Expected(pieces[5], 10, 0xFFFF, true)};
  const uint16_t fields[] = {record.VendorId, record.ProductId, record.MaxPower};
  for (int i = 0; i < 3; ++i) fine = fine && fields[i] == (numbers[i] >= 0 ? numbers[i] : kUnset);
  const long bits = Expected(pieces[6], 16, 0xFF);
  fine = fine && record.SelfPowered == (bits >= 0 ? (bits & 0x40) != 0 : kUnset);
  fine = fine && record.RemoteWakeup == (bits >= 0 ? (bits & 0x20) != 0 : kUnset);
  if (!fine) std::abort();
  return 0;
}
