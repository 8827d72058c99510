#include "protocol/open_meter.h"

namespace sq71 {

OpenOutcome OpenMeter(UsbDevice& device, int index) {
  device.Close();
  if (device.Configure(index, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE) != FT_OK) {
    // The open may have worked and a later setting failed.
    device.Close();
    return OpenOutcome::kPortError;
  }
  device.SetLatencyTimer(kLatencyTimerMs);
  device.CheckEepromIdentity();
  if (device.identity_changed()) {
    device.Close();
    return OpenOutcome::kWrongIdentity;
  }
  return OpenOutcome::kOpened;
}

}  // namespace sq71
