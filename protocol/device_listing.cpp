#include "protocol/device_listing.h"

#include "protocol/frame.h"
#include "usb/usb_device.h"

namespace sq71 {

namespace {

// One attempt on device `index`; true (with the name delivered) when it
// answered as a meter.
bool IdentifyDevice(const D2xxFunctions& d2xx, int index, const DeviceNameSink& add_name) {
  UsbDevice device(d2xx);
  bool answered = false;
  if (device.Configure(index, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE) == FT_OK) {
    // Best effort: a driver that refuses is only slower.
    device.SetLatencyTimer(kLatencyTimerMs);
    device.CheckEepromIdentity();
    if (!device.identity_changed()) {
      device.SetTimeouts(kIdentifyReadTimeoutMs, kIdentifyWriteTimeoutMs);
      device.PurgeReceive();
      device.PurgeTransmit();
      uint8_t request[kIdentifyRequestSize];
      BuildIdentifyRequest(request);
      device.Write(request, kIdentifyRequestSize);
      // Whatever has come when the read ends (100 bytes or the time-out) is
      // the reply; zeroed so that nothing stale is ever taken for a byte.
      uint8_t reply[kIdentifyReplyMax] = {};
      const FT_STATUS status = device.Read(reply, kIdentifyReplyMax);
      if (TestIdentifyReply(status, device.bytes_read(), reply, nullptr)) {
        // The test ended the name with a NUL in place of the checksum.
        add_name(reinterpret_cast<const char*>(reply + 4));
        answered = true;
      }
    }
  }
  device.Close();
  return answered;
}

}  // namespace

int ListDevices(const D2xxFunctions& d2xx, const DeviceNameSink& add_name) {
  int count = 0;
  // A failed query leaves the count at 0: no devices.
  uint32_t attached = 0;
  d2xx.ListDevices(&attached, nullptr, FT_LIST_NUMBER_ONLY);
  for (int index = 0; index < static_cast<int>(attached); ++index) {
    // Probe: a device that cannot be opened at all is skipped at once.
    FT_HANDLE probe = nullptr;
    if (d2xx.Open(index, &probe) != FT_OK) continue;
    d2xx.Close(probe);
    if (IdentifyDevice(d2xx, index, add_name)) ++count;
  }
  return count;
}

}  // namespace sq71
