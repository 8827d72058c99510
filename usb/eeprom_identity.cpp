// The EEPROM identity check of a UsbDevice: the meter's USB chip must carry
// the meter's description and pin settings. Differences are corrected in the
// record only; the chip is never written, so a differing device is refused
// on every attempt until it is reprogrammed.
#include <cstring>

#include "usb/usb_device.h"

namespace sq71 {

FT_STATUS UsbDevice::CheckEepromIdentity() {
  if (!is_open()) return FT_OK;

  // Zeroed whole first: the driver may fill more than the version asks for,
  // and nothing of a previous read may be mistaken for this one's.
  std::memset(&eeprom_, 0, sizeof(eeprom_));
  std::memset(manufacturer_, 0, sizeof(manufacturer_));
  std::memset(manufacturer_id_, 0, sizeof(manufacturer_id_));
  std::memset(description_, 0, sizeof(description_));
  std::memset(serial_number_, 0, sizeof(serial_number_));
  eeprom_.Signature1 = 0x00000000;
  eeprom_.Signature2 = 0xFFFFFFFF;
  eeprom_.Version = 2;  // with the FT232R fields
  eeprom_.VendorId = vendor_id_;
  eeprom_.ProductId = product_id_;
  eeprom_.Manufacturer = manufacturer_;
  eeprom_.ManufacturerId = manufacturer_id_;
  eeprom_.Description = description_;
  eeprom_.SerialNumber = serial_number_;
  eeprom_.MaxPower = 90;
  eeprom_.PnP = 0;
  eeprom_.SelfPowered = 0;
  eeprom_.RemoteWakeup = 0;

  if (Store(driver_.EE_Read(handle_, &eeprom_)) != FT_OK) return last_status_;

  identity_changed_ = false;
  // Steps 1, 2, 4 and 5 treat only exactly 1 as set; DTR takes any non-zero.
  if (eeprom_.PnP == 1) {
    eeprom_.PnP = 0;
    identity_changed_ = true;
  }
  if (eeprom_.SelfPowered == 1) {
    eeprom_.SelfPowered = 0;
    identity_changed_ = true;
  }
  if (eeprom_.InvertDTR == 0) {
    eeprom_.InvertDTR = 1;
    identity_changed_ = true;
  }
  if (eeprom_.InvertRXD == 1) {
    eeprom_.InvertRXD = 0;
    identity_changed_ = true;
  }
  if (eeprom_.InvertTXD == 1) {
    eeprom_.InvertTXD = 0;
    identity_changed_ = true;
  }
  if (eeprom_.Cbus4 != FT_232R_CBUS_SLEEP) {
    eeprom_.Cbus4 = FT_232R_CBUS_SLEEP;
    identity_changed_ = true;
  }
  // Byte for byte including the terminating NUL, so neither a longer text
  // nor one without a NUL in the buffer matches; never reads past the buffer.
  if (std::memcmp(description_, kExpectedDescription, sizeof(kExpectedDescription)) != 0) {
    std::memcpy(description_, kExpectedDescription, sizeof(kExpectedDescription));
    identity_changed_ = true;
  }
  return last_status_;
}

}  // namespace sq71
