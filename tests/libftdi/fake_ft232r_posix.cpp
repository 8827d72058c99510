#include "fake_ft232r_posix.h"

#include <sys/ioctl.h>
// After sys/ioctl.h, whose macros it uses.
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sq71::test {
namespace {


// FT232R, serial number from string 3, one configuration with one vendor
// interface and two 64-byte bulk endpoints: the descriptors file sysfs gives.
constexpr char kDescriptors[] =
    "12010002000000080304016000060102030109022000010100a02d"
    "0904000002ffffff02"
    "07058102400000"
    "07050202400000";

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

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
    : model_(std::move(meter), sim::UsbModelTiming{false, 16, 0, 1000}) {
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
      "A: idProduct=6001\\n\nA: product=" + model_.meter().config().eeprom.description +
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
  model_.UnplugAtExchange(exchange);
}

FakeFt232r::Seen FakeFt232r::seen() {
  std::lock_guard<std::mutex> lock(mutex_);
  Seen seen = seen_;
  seen.baud = model_.baud();
  seen.line = model_.line();
  seen.dtr = model_.dtr();
  seen.latency_ms = model_.latency_ms();
  seen.eeprom_word_reads = model_.eeprom_word_reads();
  return seen;
}

std::vector<sim::SeenRequest> FakeFt232r::requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_.requests();
}

void FakeFt232r::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  model_.ClearRequests();
}

int FakeFt232r::exchanges() {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_.meter().exchanges();
}

int FakeFt232r::erases() {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_.meter().erases();
}

LogImage FakeFt232r::meter_log() {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_.meter().config().log;
}

sim::Nanos FakeFt232r::Now() const {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                              origin_)
      .count();
}

gboolean FakeFt232r::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  return static_cast<FakeFt232r*>(self)->HandleIoctl(client);
}

gboolean FakeFt232r::HandleIoctl(UMockdevIoctlClient* client) {
  std::lock_guard<std::mutex> lock(mutex_);
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  if (model_.unplugged()) {
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
  } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == ft232r::kEndpointOut) {
    FromHost(bytes, urb->buffer_length);
    urb->actual_length = urb->buffer_length;
    urb->status = 0;
  } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == ft232r::kEndpointIn) {
    bulk_in = true;
  } else {
    g_object_unref(data);
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return;
  }
  if (model_.unplugged()) {
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
bool FakeFt232r::Ready(const Urb& urb) {
  if (!urb.bulk_in || empty_packet_first_ || model_.NextInAt(Now()) <= Now()) return true;
  return std::chrono::steady_clock::now() - urb.submitted >=
         std::chrono::milliseconds(model_.latency_ms());
}

void FakeFt232r::FillBulkIn(Urb& urb) {
  auto* u = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
  std::vector<uint8_t> transfer{sim::kModemStatus, sim::kLineStatus};
  if (!empty_packet_first_) transfer = model_.TakeIn(Now(), static_cast<std::size_t>(u->buffer_length));
  empty_packet_first_ = false;
  const int length = std::min(u->buffer_length, static_cast<int>(transfer.size()));
  std::memcpy(u->buffer, transfer.data(), static_cast<std::size_t>(length));
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
  ft232r::ControlRequest request;
  request.request_type = setup[0];
  request.request = setup[1];
  request.value = Word(setup + 2);
  request.index = Word(setup + 4);
  request.length = static_cast<uint16_t>(std::min<int>(Word(setup + 6), buffer_length - 8));
  uint8_t* data = setup + 8;
  *length = 0;
  auto reply = [&](const std::vector<uint8_t>& bytes) {
    *length = std::min<int>(request.length, static_cast<int>(bytes.size()));
    std::copy_n(bytes.begin(), *length, data);
    return 0;
  };
  const sim::EepromFields& eeprom = model_.meter().config().eeprom;
  if (request.request_type == 0x80 && request.request == 0x00) return reply({0, 0});  // GET_STATUS
  if (request.request_type == 0x80 && request.request == 0x06 && (request.value >> 8) == 0x03) {
    switch (request.value & 0xFF) {
      case 0:
        return reply({4, 0x03, 0x09, 0x04});  // US English only
      case 1:
        return reply(StringDescriptor(eeprom.manufacturer));
      case 2:
        return reply(StringDescriptor(eeprom.description));
      case 3:
        return reply(StringDescriptor(eeprom.serial_number));
    }
    return -EPIPE;
  }
  std::vector<uint8_t> in;
  if (model_.Control(Now(), request, &in)) return reply(in);
  std::fprintf(stderr, "fake FT232R: control %02X %02X %04X %04X stalled\n", request.request_type,
               request.request, request.value, request.index);
  return -EPIPE;
}

void FakeFt232r::FromHost(const uint8_t* bytes, int count) {
  model_.BulkOut(Now(), bytes, static_cast<std::size_t>(count));
  if (model_.NextInAt(Now()) != sim::kNever) empty_packet_first_ = true;
}

}  // namespace sq71::test
