#include "fake_ft232r_posix.h"

#include <sys/ioctl.h>
// After sys/ioctl.h, whose macros it uses.
#include <linux/usbdevice_fs.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace sq71::test {
namespace {

constexpr uint8_t kEndpointIn = 0x81;
constexpr uint8_t kEndpointOut = 0x02;
constexpr int kPacketSize = 64;
constexpr int kStatusBytes = 2;
// The modem and line status bytes an idle FT232R sends: CTS and DSR clear,
// transmitter empty.
constexpr uint8_t kModemStatus = 0x01;
constexpr uint8_t kLineStatus = 0x60;

// FT232R, serial number from string 3, one configuration with one vendor
// interface and two 64-byte bulk endpoints: the descriptors file sysfs gives.
constexpr char kDescriptors[] =
    "12010002000000080304016000060102030109022000010100a02d"
    "0904000002ffffff02"
    "07058102400000"
    "07050202400000";

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// The FT232R's baud divisor: 14 bits of whole steps of 3 MHz, and a
// three-bit fraction code (two bits of the value, one of the index).
uint32_t BaudFromDivisor(uint16_t value, uint16_t index) {
  static const int kEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};
  if (value == 0) return 3000000;
  if (value == 1) return 2000000;
  const int code = (value >> 14) | ((index & 1) << 2);
  const int eighths = (value & 0x3FFF) * 8 + kEighths[code];
  return static_cast<uint32_t>(std::lround(3000000.0 * 8 / eighths));
}

std::vector<uint8_t> StringDescriptor(const std::string& text) {
  std::vector<uint8_t> d{static_cast<uint8_t>(2 + 2 * text.size()), 0x03};
  for (char c : text) {
    d.push_back(static_cast<uint8_t>(c));
    d.push_back(0);
  }
  return d;
}

}  // namespace

FakeFt232r::FakeFt232r(sim::MeterConfig meter)
    : meter_(meter), eeprom_(sim::MakeFt232rEepromImage(meter.eeprom)) {
  handler_ = umockdev_ioctl_base_new();
  g_signal_connect_after(handler_, "handle-ioctl", G_CALLBACK(&FakeFt232r::OnIoctl), this);
}

FakeFt232r::~FakeFt232r() {
  // The testbed that held the handler is gone first; no call can come now.
  for (Urb& urb : urbs_) g_object_unref(urb.data);
  g_object_unref(handler_);
}

bool FakeFt232r::Plug(UMockdevTestbed* testbed, int devnum, std::string* error) {
  char node[64];
  std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", devnum);
  GError* gerror = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed, node, handler_, &gerror)) {
    *error = gerror != nullptr ? gerror->message : "attaching the ioctl handler failed";
    g_clear_error(&gerror);
    return false;
  }
  const std::string description =
      "P: /devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(devnum) +
      "\nN: " + std::string(node + 5) + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" +
      "E: DRIVER=usb\nE: BUSNUM=001\nE: DEVNUM=" + std::string(node + 17) + "\nE: DEVNAME=" + node +
      "\nA: busnum=1\\n\nA: devnum=" + std::to_string(devnum) +
      "\\n\nA: speed=12\\n\nA: bConfigurationValue=1\\n\nA: idVendor=0403\\n\n" +
      "A: idProduct=6001\\n\nA: product=" + meter_.config().eeprom.description +
      "\\n\nH: descriptors=" + kDescriptors + "\n";
  if (!umockdev_testbed_add_from_string(testbed, description.c_str(), &gerror)) {
    *error = gerror != nullptr ? gerror->message : "adding the device failed";
    g_clear_error(&gerror);
    return false;
  }
  return true;
}

void FakeFt232r::UnplugAtExchange(int exchange) {
  std::lock_guard<std::mutex> lock(mutex_);
  unplug_at_ = exchange;
}

FakeFt232r::Seen FakeFt232r::seen() {
  std::lock_guard<std::mutex> lock(mutex_);
  return seen_;
}

int FakeFt232r::exchanges() {
  std::lock_guard<std::mutex> lock(mutex_);
  return meter_.exchanges();
}

int FakeFt232r::erases() {
  std::lock_guard<std::mutex> lock(mutex_);
  return meter_.erases();
}

LogImage FakeFt232r::meter_log() {
  std::lock_guard<std::mutex> lock(mutex_);
  return meter_.log();
}

gboolean FakeFt232r::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  return static_cast<FakeFt232r*>(self)->HandleIoctl(client);
}

gboolean FakeFt232r::HandleIoctl(UMockdevIoctlClient* client) {
  std::lock_guard<std::mutex> lock(mutex_);
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  if (unplugged_) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return TRUE;
  }
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
      const uint32_t value = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                             USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
      std::memcpy(caps->data, &value, sizeof value);
      g_object_unref(caps);
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    case USBDEVFS_DISCONNECT_CLAIM:
      seen_.kernel_driver_detached = true;
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    case USBDEVFS_IOCTL: {
      UMockdevIoctlData* data =
          umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
      const int code = reinterpret_cast<usbdevfs_ioctl*>(data->data)->ioctl_code;
      g_object_unref(data);
      if (code == static_cast<int>(USBDEVFS_DISCONNECT)) seen_.kernel_driver_detached = true;
      if (code == static_cast<int>(USBDEVFS_CONNECT)) seen_.kernel_driver_reattached = true;
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESET:
    case USBDEVFS_RESETEP:
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    case USBDEVFS_SUBMITURB:
      Submit(client, arg);
      return TRUE;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
      Reap(client, arg);
      return TRUE;
    case USBDEVFS_DISCARDURB:
      Discard(client, arg);
      return TRUE;
    default:
      std::fprintf(stderr, "fake FT232R: ioctl 0x%lx not handled\n", request);
      umockdev_ioctl_client_complete(client, -1, ENOTTY);
      return TRUE;
  }
}

void FakeFt232r::Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
  auto* urb = reinterpret_cast<usbdevfs_urb*>(data->data);
  UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
      data, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), nullptr);
  g_object_unref(buffer);  // the URB keeps it
  auto* bytes = static_cast<uint8_t*>(urb->buffer);
  bool bulk_in = false;
  if (urb->type == USBDEVFS_URB_TYPE_CONTROL && urb->buffer_length >= 8) {
    urb->status = Control(bytes, urb->buffer_length, &urb->actual_length);
  } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == kEndpointOut) {
    FromHost(bytes, urb->buffer_length);
    urb->actual_length = urb->buffer_length;
    urb->status = 0;
  } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == kEndpointIn) {
    bulk_in = true;
  } else {
    g_object_unref(data);
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return;
  }
  if (unplugged_) {
    // The request that pulled the cable got no further than the bus.
    g_object_unref(data);
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return;
  }
  urbs_.push_back({data, bulk_in, std::chrono::steady_clock::now()});
  umockdev_ioctl_client_complete(client, 0, 0);
}

// An IN transfer comes back when the meter has sent something, or else
// with the status bytes alone once the latency timer has run out, as the
// chip does.
bool FakeFt232r::Ready(const Urb& urb) const {
  const auto now = std::chrono::steady_clock::now();
  if (!urb.bulk_in || empty_packet_first_ || (!to_host_.empty() && now >= reply_at_)) return true;
  return now - urb.submitted >= std::chrono::milliseconds(seen_.latency_ms);
}

void FakeFt232r::FillBulkIn(Urb& urb) {
  auto* u = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
  auto* out = static_cast<uint8_t*>(u->buffer);
  int length = 0;
  const bool held = std::chrono::steady_clock::now() < reply_at_;
  if ((empty_packet_first_ || held) && u->buffer_length >= kStatusBytes) {
    empty_packet_first_ = false;
    out[length++] = kModemStatus;
    out[length++] = kLineStatus;
    u->actual_length = length;
    u->status = 0;
    return;
  }
  do {
    if (u->buffer_length - length < kStatusBytes) break;
    out[length++] = kModemStatus;
    out[length++] = kLineStatus;
    int room = std::min(kPacketSize - kStatusBytes, u->buffer_length - length);
    while (room-- > 0 && !to_host_.empty()) {
      out[length++] = to_host_.front();
      to_host_.pop_front();
    }
  } while (!to_host_.empty() && length % kPacketSize == 0);
  u->actual_length = length;
  u->status = 0;
}

void FakeFt232r::Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  for (auto it = urbs_.begin(); it != urbs_.end(); ++it) {
    if (!Ready(*it)) continue;
    if (it->bulk_in) FillBulkIn(*it);
    UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    umockdev_ioctl_data_set_ptr(pointer, 0, it->data);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(pointer);
    g_object_unref(it->data);
    urbs_.erase(it);
    return;
  }
  umockdev_ioctl_client_complete(client, -1, EAGAIN);
}

void FakeFt232r::Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  const auto address = reinterpret_cast<gulong>(*reinterpret_cast<void**>(arg->data));
  for (Urb& urb : urbs_) {
    if (urb.data->client_addr != address) continue;
    auto* u = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
    u->status = -ENOENT;
    u->actual_length = 0;
    urb.bulk_in = false;  // reaped at once, as cancelled
    umockdev_ioctl_client_complete(client, 0, 0);
    return;
  }
  umockdev_ioctl_client_complete(client, -1, EINVAL);
}

int FakeFt232r::Control(uint8_t* setup, int buffer_length, int* length) {
  const uint8_t type = setup[0];
  const uint8_t request = setup[1];
  const uint16_t value = Word(setup + 2);
  const uint16_t index = Word(setup + 4);
  const uint16_t wanted = std::min<int>(Word(setup + 6), buffer_length - 8);
  uint8_t* data = setup + 8;
  *length = 0;
  auto reply = [&](const std::vector<uint8_t>& bytes) {
    *length = std::min<int>(wanted, static_cast<int>(bytes.size()));
    std::memcpy(data, bytes.data(), static_cast<std::size_t>(*length));
    return 0;
  };
  if (type == 0x80 && request == 0x00) return reply({0, 0});  // GET_STATUS
  if (type == 0x80 && request == 0x06 && (value >> 8) == 0x03) {
    switch (value & 0xFF) {
      case 0:
        return reply({4, 0x03, 0x09, 0x04});  // US English only
      case 1:
        return reply(StringDescriptor(meter_.config().eeprom.manufacturer));
      case 2:
        return reply(StringDescriptor(meter_.config().eeprom.description));
      case 3:
        return reply(StringDescriptor(meter_.config().eeprom.serial_number));
    }
    return -EPIPE;
  }
  if (type == 0x40) {
    switch (request) {
      case 0x00:  // reset, or purge one of the chip's FIFOs
        if (value == 0) seen_.baud = 9600;
        if (value == 2) to_host_.clear();  // what the meter sent, not yet fetched
        return 0;
      case 0x01:  // modem control: the high byte masks the low one
        if ((value & 0x0100) != 0) seen_.dtr = (value & 0x01) != 0;
        return 0;
      case 0x02:  // flow control
        return 0;
      case 0x03:
        seen_.baud = BaudFromDivisor(value, index);
        return 0;
      case 0x04:
        seen_.line = value;
        return 0;
      case 0x09:
        seen_.latency_ms = value & 0xFF;
        return 0;
    }
  }
  if (type == 0xC0 && request == 0x0A) return reply({static_cast<uint8_t>(seen_.latency_ms)});
  if (type == 0xC0 && request == 0x90) {
    // The 64 words repeat through the address space libftdi walks.
    const std::size_t at = (index % 64) * 2;
    ++seen_.eeprom_word_reads;
    return reply({eeprom_[at], eeprom_[at + 1]});
  }
  std::fprintf(stderr, "fake FT232R: control %02X %02X %04X %04X stalled\n", type, request, value,
               index);
  return -EPIPE;
}

// 115200 baud within the chip's divisor error, 8 data bits, no parity,
// 1 stop bit: the only line the meter understands.
bool FakeFt232r::LineUnderstood() const {
  return std::abs(static_cast<int>(seen_.baud) - 115200) < 115200 / 33 && seen_.line == 0x0008;
}

void FakeFt232r::FromHost(const uint8_t* bytes, int count) {
  if (!LineUnderstood()) return;
  for (const sim::MeterReply& reply : meter_.Receive(bytes, static_cast<std::size_t>(count))) {
    if (unplug_at_ > 0 && reply.accepted && meter_.exchanges() >= unplug_at_) {
      unplugged_ = true;
      return;
    }
    // A delay fault holds the reply back that long.
    reply_at_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(reply.delay_ms);
    to_host_.insert(to_host_.end(), reply.bytes.begin(), reply.bytes.end());
    if (!reply.bytes.empty()) empty_packet_first_ = true;
  }
}

}  // namespace sq71::test
