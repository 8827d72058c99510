#include "protocol/device_listing.h"

#include "protocol/frame.h"
#include "protocol/open_meter.h"
#include "usb/usb_device.h"

namespace sq71 {

namespace {

// One attempt on device `index`; true (with the name delivered) when it
// answered as a meter.
bool IdentifyDevice(Driver& driver, int index, const DeviceNameSink& add_name) {
  UsbDevice device(driver);
  // Left closed by the open when it fails.
  if (OpenMeter(device, index) != OpenOutcome::kOpened) return false;
  device.SetTimeouts(kIdentifyReadTimeoutMs, kIdentifyWriteTimeoutMs);
  device.PurgeReceive();
  device.PurgeTransmit();
  uint8_t request[kIdentifyRequestSize];
  BuildIdentifyRequest(request);
  device.Write(request, kIdentifyRequestSize);
  // Whatever has come when the read ends (100 bytes or the time-out) is the
  // reply; zeroed so that nothing stale is ever taken for a byte.
  uint8_t reply[kIdentifyReplyMax] = {};
  const FT_STATUS status = device.Read(reply, kIdentifyReplyMax);
  device.Close();
  if (!TestIdentifyReply(status, device.bytes_read(), reply, nullptr)) return false;
  // The test ended the name with a NUL in place of the checksum.
  add_name(index, reinterpret_cast<const char*>(reply + 4));
  return true;
}

}  // namespace

int ListDevices(Driver& driver, const DeviceNameSink& add_name, const StopCheck& stop) {
  int count = 0;
  // A failed query leaves the count at 0: no devices.
  uint32_t attached = 0;
  driver.CountDevices(&attached);
  for (int index = 0; index < static_cast<int>(attached); ++index) {
    if (stop && stop()) break;
    // Probe: a device that cannot be opened at all is skipped at once.
    FT_HANDLE probe = nullptr;
    if (driver.Open(index, &probe) != FT_OK) continue;
    driver.Close(probe);
    if (IdentifyDevice(driver, index, add_name)) ++count;
  }
  return count;
}

}  // namespace sq71
