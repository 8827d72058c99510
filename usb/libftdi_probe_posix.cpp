#include "usb/libftdi_probe_posix.h"

#include <ftdi.h>
#include <libusb.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <memory>

#include "usb/libftdi_backend_posix.h"

namespace sq71 {
namespace {

// ftdi_usb_get_strings: the device could not be opened (libusb_open).
constexpr int kGetStringsOpenFailed = -4;

std::string Place(libusb_device* dev) {
  uint8_t ports[8];
  const int depth = libusb_get_port_numbers(dev, ports, sizeof ports);
  std::string place = std::to_string(libusb_get_bus_number(dev));
  for (int i = 0; i < depth; ++i) place += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
  return place;
}

// The driver bound to interface 0 of configuration 1, from sysfs.
std::string KernelDriver(const std::string& place) {
  const std::string link = "/sys/bus/usb/devices/" + place + ":1.0/driver";
  char target[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return std::string();
  const std::string path(target, static_cast<std::size_t>(n));
  return path.substr(path.find_last_of('/') + 1);
}

}  // namespace

std::string LibftdiVersion() {
  const ftdi_version_info info = ftdi_get_library_version();
  return info.version_str != nullptr ? info.version_str : "?";
}

bool ProbeFtdiChips(std::vector<FtdiChip>* chips, std::string* error) {
  chips->clear();
  std::unique_ptr<ftdi_context, void (*)(ftdi_context*)> ftdi(ftdi_new(), ftdi_free);
  if (ftdi == nullptr) {
    *error = "libusb could not be started";
    return false;
  }
  ftdi_device_list* list = nullptr;
  // 0, 0: every chip FTDI's own ids name, not the meter's alone.
  const int count = ftdi_usb_find_all(ftdi.get(), &list, 0, 0);
  if (count < 0) {
    *error = std::string("listing USB devices: ") + ftdi_get_error_string(ftdi.get());
    return false;
  }
  int meter_chips = 0;
  for (ftdi_device_list* at = list; at != nullptr; at = at->next) {
    FtdiChip chip;
    libusb_device_descriptor descriptor = {};
    libusb_get_device_descriptor(at->dev, &descriptor);
    chip.vendor_id = descriptor.idVendor;
    chip.product_id = descriptor.idProduct;
    if (chip.vendor_id == kLibftdiVendorId && chip.product_id == kLibftdiProductId) {
      chip.meter_chip_index = meter_chips++;
    }
    chip.place = Place(at->dev);
    chip.kernel_driver = KernelDriver(chip.place);
    char description[128] = {};
    char serial[128] = {};
    // Opens the device without claiming it: the kernel driver stays.
    const int result = ftdi_usb_get_strings(ftdi.get(), at->dev, nullptr, 0, description,
                                            sizeof description, serial, sizeof serial);
    if (result == 0) {
      chip.description = description;
      chip.serial = serial;
    } else if (result == kGetStringsOpenFailed) {
      // Kept when the device opens this time: only its strings failed.
      chip.error = "its strings could not be read";
      chip.failure = LibusbOpenFailure(at->dev, &chip.error);
    } else {
      chip.failure = DriverFailure::kOther;
      chip.error = ftdi_get_error_string(ftdi.get());
    }
    chips->push_back(std::move(chip));
  }
  ftdi_list_free(&list);
  return true;
}

}  // namespace sq71
