// The identity check against the simulated meter's chip: the same driver
// calls the program makes, served by the simulated bus.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "sim/sim_driver.h"
#include "usb/usb_device.h"

namespace sq71 {
namespace {

class EepromIdentityTest : public ::testing::Test {
 protected:
  // One meter whose EEPROM the test shapes.
  void Attach(const std::function<void(sim::EepromFields&)>& shape) {
    sim::Scenario scenario;
    scenario.timing = sim::Timing::kInstant;
    scenario.devices.emplace_back();
    shape(scenario.devices.back().eeprom);
    bus_.Configure(scenario);
    ASSERT_EQ(FT_OK, device_.Open(0));
  }

  void TearDown() override { device_.Close(); }

  sim::SimDriver bus_;
  UsbDevice device_{bus_};
};

TEST_F(EepromIdentityTest, ExpectedIdentityPasses) {
  Attach([](sim::EepromFields&) {});
  EXPECT_EQ(FT_OK, device_.CheckEepromIdentity());
  EXPECT_FALSE(device_.identity_changed());
  EXPECT_STREQ("SQ-71 Meter", device_.description());
  EXPECT_STREQ("Corvale Data", device_.manufacturer());
  EXPECT_EQ(5, device_.eeprom().Cbus4);
  EXPECT_EQ(1, device_.eeprom().InvertDTR);
}

TEST_F(EepromIdentityTest, DescriptionMustMatchByteForByte) {
  for (const std::string text :
       {"sq-71 meter", "SQ-71 Meter ", "SQ-71 Mete", "", "FT232R USB UART", "SQ-71 Meter\t"}) {
    Attach([&](sim::EepromFields& e) { e.description = text; });
    EXPECT_EQ(FT_OK, device_.CheckEepromIdentity()) << text;
    EXPECT_TRUE(device_.identity_changed()) << "'" << text << "'";
    EXPECT_STREQ("SQ-71 Meter", device_.description()) << text;
    EXPECT_EQ(device_.description(), device_.eeprom().Description);
    device_.Close();
  }
}

// Each setting on its own: a differing value is corrected and raises the
// flag; the other settings stay as the chip has them.
struct Setting {
  const char* name;
  std::function<void(sim::EepromFields&)> differ;
  std::function<int(const FT_PROGRAM_DATA&)> read;
  int corrected;
};

TEST_F(EepromIdentityTest, EachSettingIsCorrectedOnItsOwn) {
  const Setting settings[] = {
      {"PnP", [](sim::EepromFields& e) { e.pnp = 1; },
       [](const FT_PROGRAM_DATA& d) { return int{d.PnP}; }, 0},
      {"SelfPowered", [](sim::EepromFields& e) { e.self_powered = 1; },
       [](const FT_PROGRAM_DATA& d) { return int{d.SelfPowered}; }, 0},
      {"InvertDTR", [](sim::EepromFields& e) { e.invert_dtr = 0; },
       [](const FT_PROGRAM_DATA& d) { return int{d.InvertDTR}; }, 1},
      {"InvertRXD", [](sim::EepromFields& e) { e.invert_rxd = 1; },
       [](const FT_PROGRAM_DATA& d) { return int{d.InvertRXD}; }, 0},
      {"InvertTXD", [](sim::EepromFields& e) { e.invert_txd = 1; },
       [](const FT_PROGRAM_DATA& d) { return int{d.InvertTXD}; }, 0},
      {"Cbus4", [](sim::EepromFields& e) { e.cbus4 = 3; },
       [](const FT_PROGRAM_DATA& d) { return int{d.Cbus4}; }, 5},
  };
  for (const Setting& s : settings) {
    Attach(s.differ);
    EXPECT_EQ(FT_OK, device_.CheckEepromIdentity());
    EXPECT_TRUE(device_.identity_changed()) << s.name;
    EXPECT_EQ(s.corrected, s.read(device_.eeprom())) << s.name;
    EXPECT_STREQ("SQ-71 Meter", device_.description());
    device_.Close();
  }
}

TEST_F(EepromIdentityTest, OnlyExactlyOneCountsAsSetAndAnyNonZeroDtr) {
  Attach([](sim::EepromFields& e) {
    e.pnp = 2;
    e.self_powered = 0x0100;
    e.invert_rxd = 2;
    e.invert_txd = 2;
    e.invert_dtr = 7;
  });
  EXPECT_EQ(FT_OK, device_.CheckEepromIdentity());
  EXPECT_FALSE(device_.identity_changed());
  EXPECT_EQ(2, device_.eeprom().PnP);  // passed unchanged
  EXPECT_EQ(0x0100, device_.eeprom().SelfPowered);
  EXPECT_EQ(2, device_.eeprom().InvertTXD);
  EXPECT_EQ(2, device_.eeprom().InvertRXD);
  EXPECT_EQ(7, device_.eeprom().InvertDTR);
}

TEST_F(EepromIdentityTest, OtherFieldsAreNotCompared) {
  Attach([](sim::EepromFields& e) {
    e.vendor_id = 0x1234;
    e.product_id = 0x6015;
    e.manufacturer = "FTDI";
    e.serial_number = "A9XYZ";
    e.max_power = 500;
  });
  EXPECT_EQ(FT_OK, device_.CheckEepromIdentity());
  EXPECT_FALSE(device_.identity_changed());
  EXPECT_EQ(0x1234, device_.eeprom().VendorId);
  EXPECT_EQ(500, device_.eeprom().MaxPower);
  EXPECT_STREQ("FTDI", device_.manufacturer());
  EXPECT_STREQ("A9XYZ", device_.serial_number());
  EXPECT_EQ(0x0403, device_.vendor_id());  // the object's own ids are unchanged
}

TEST_F(EepromIdentityTest, SeveralDifferencesAllCorrectedInOneCheck) {
  Attach([](sim::EepromFields& e) {
    e.description = "FT232R USB UART";
    e.pnp = 1;
    e.self_powered = 1;
    e.invert_dtr = 0;
    e.invert_rxd = 1;
    e.invert_txd = 1;
    e.cbus4 = 1;
  });
  EXPECT_EQ(FT_OK, device_.CheckEepromIdentity());
  EXPECT_TRUE(device_.identity_changed());
  const FT_PROGRAM_DATA& d = device_.eeprom();
  EXPECT_EQ(0, d.PnP);
  EXPECT_EQ(0, d.SelfPowered);
  EXPECT_EQ(1, d.InvertDTR);
  EXPECT_EQ(0, d.InvertRXD);
  EXPECT_EQ(0, d.InvertTXD);
  EXPECT_EQ(5, d.Cbus4);
  EXPECT_STREQ("SQ-71 Meter", device_.description());
}

TEST_F(EepromIdentityTest, ChipIsNeverWrittenSoTheDifferenceStays) {
  Attach([](sim::EepromFields& e) { e.cbus4 = 0; });
  device_.CheckEepromIdentity();
  EXPECT_TRUE(device_.identity_changed());
  EXPECT_EQ(0, bus_.MeterAt(0)->config().eeprom.cbus4);
  device_.CheckEepromIdentity();
  EXPECT_TRUE(device_.identity_changed());
}

TEST_F(EepromIdentityTest, FlagFollowsOnlySuccessfulReads) {
  Attach([](sim::EepromFields& e) { e.pnp = 1; });
  device_.CheckEepromIdentity();
  ASSERT_TRUE(device_.identity_changed());

  // A failed read after a difference leaves the flag raised.
  bus_.MeterAt(0)->config().eeprom_read_fails = true;
  EXPECT_EQ(FT_EEPROM_READ_FAILED, device_.CheckEepromIdentity());
  EXPECT_EQ(FT_EEPROM_READ_FAILED, device_.last_status());
  EXPECT_TRUE(device_.identity_changed());

  // The flag survives Close; a good read of a matching chip lowers it.
  device_.Close();
  EXPECT_TRUE(device_.identity_changed());
  bus_.MeterAt(0)->config().eeprom_read_fails = false;
  bus_.MeterAt(0)->config().eeprom.pnp = 0;
  ASSERT_EQ(FT_OK, device_.Open(0));
  EXPECT_EQ(FT_OK, device_.CheckEepromIdentity());
  EXPECT_FALSE(device_.identity_changed());
}

TEST_F(EepromIdentityTest, NothingOfAnEarlierReadIsTakenForThisOne) {
  Attach([](sim::EepromFields& e) { e.serial_number = "LONGSERIAL12345"; });
  device_.CheckEepromIdentity();
  EXPECT_STREQ("LONGSERIAL12345", device_.serial_number());
  bus_.MeterAt(0)->config().eeprom.serial_number = "AB";
  device_.CheckEepromIdentity();
  EXPECT_STREQ("AB", device_.serial_number());
}

}  // namespace
}  // namespace sq71
