#include "usb/usb_device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "usb/d2xx_driver.h"

namespace sq71 {
namespace {

// A driver table whose functions record each call and answer with statuses
// the test chooses. The table is plain function pointers, so the recorder is
// one global that every test resets.
struct Recorder {
  std::vector<std::string> calls;
  FT_STATUS open_status = FT_OK;
  FT_STATUS close_status = FT_OK;
  FT_STATUS dtr_status = FT_OK;
  FT_STATUS baud_status = FT_OK;
  FT_STATUS flow_status = FT_OK;
  FT_STATUS read_status = FT_OK;
  uint32_t read_count = 0;
  uint32_t written_count = 0;
  const void* write_buffer = nullptr;
};
Recorder g;

FT_HANDLE const kHandle = reinterpret_cast<FT_HANDLE>(uintptr_t{0x7100});

void Add(const std::string& call) { g.calls.push_back(call); }

FT_STATUS FT_API FakeOpen(int index, FT_HANDLE* handle) {
  Add("Open " + std::to_string(index));
  // A failing driver may still scribble on the handle; the object must not
  // keep it.
  *handle = g.open_status == FT_OK ? kHandle : reinterpret_cast<FT_HANDLE>(uintptr_t{0xBAD});
  return g.open_status;
}
FT_STATUS FT_API FakeClose(FT_HANDLE) {
  Add("Close");
  return g.close_status;
}
FT_STATUS FT_API FakeRead(FT_HANDLE, void*, uint32_t wanted, uint32_t* returned) {
  Add("Read " + std::to_string(wanted));
  *returned = g.read_count;
  return g.read_status;
}
FT_STATUS FT_API FakeWrite(FT_HANDLE, void* buffer, uint32_t count, uint32_t* written) {
  Add("Write " + std::to_string(count));
  g.write_buffer = buffer;
  *written = g.written_count;
  return FT_OK;
}
FT_STATUS FT_API FakeSetBaudRate(FT_HANDLE, uint32_t baud) {
  Add("SetBaudRate " + std::to_string(baud));
  return g.baud_status;
}
FT_STATUS FT_API FakeSetDataCharacteristics(FT_HANDLE, uint8_t w, uint8_t s, uint8_t p) {
  Add("SetDataCharacteristics " + std::to_string(w) + " " + std::to_string(s) + " " +
      std::to_string(p));
  return FT_OK;
}
FT_STATUS FT_API FakeSetFlowControl(FT_HANDLE, uint16_t mode, uint8_t xon, uint8_t xoff) {
  Add("SetFlowControl " + std::to_string(mode) + " " + std::to_string(xon) + " " +
      std::to_string(xoff));
  return g.flow_status;
}
FT_STATUS FT_API FakeSetDtr(FT_HANDLE) {
  Add("SetDtr");
  return g.dtr_status;
}
FT_STATUS FT_API FakeClrDtr(FT_HANDLE) {
  Add("ClrDtr");
  return g.dtr_status;
}
FT_STATUS FT_API FakePurge(FT_HANDLE, uint32_t mask) {
  Add("Purge " + std::to_string(mask));
  return FT_OK;
}
FT_STATUS FT_API FakeSetTimeouts(FT_HANDLE, uint32_t r, uint32_t w) {
  Add("SetTimeouts " + std::to_string(r) + " " + std::to_string(w));
  return FT_OK;
}
FT_STATUS FT_API FakeListDevices(void*, void*, uint32_t) {
  Add("ListDevices");
  return FT_OK;
}
FT_STATUS FT_API FakeEE_Read(FT_HANDLE, FT_PROGRAM_DATA*) {
  Add("EE_Read");
  return FT_EEPROM_READ_FAILED;
}

const D2xxFunctions& FakeTable() {
  static const D2xxFunctions table = [] {
    D2xxFunctions t;
    t.Open = FakeOpen;
    t.Close = FakeClose;
    t.Read = FakeRead;
    t.Write = FakeWrite;
    t.SetBaudRate = FakeSetBaudRate;
    t.SetDataCharacteristics = FakeSetDataCharacteristics;
    t.SetFlowControl = FakeSetFlowControl;
    t.SetDtr = FakeSetDtr;
    t.ClrDtr = FakeClrDtr;
    t.Purge = FakePurge;
    t.SetTimeouts = FakeSetTimeouts;
    t.ListDevices = FakeListDevices;
    t.EE_Read = FakeEE_Read;
    return t;
  }();
  return table;
}

class UsbDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { g = Recorder(); }
  D2xxDriver fake_{FakeTable(), nullptr, nullptr};
  UsbDevice device_{fake_};
};

using Calls = std::vector<std::string>;

TEST_F(UsbDeviceTest, ConstructionValues) {
  EXPECT_FALSE(device_.is_open());
  EXPECT_EQ(-1, device_.device_index());
  EXPECT_EQ(nullptr, device_.handle());
  EXPECT_EQ(FT_OK, device_.last_status());
  EXPECT_EQ(0u, device_.baud_rate());
  EXPECT_EQ(1000u, device_.write_timeout());
  EXPECT_EQ(0x0403, device_.vendor_id());
  EXPECT_EQ(0x6001, device_.product_id());
  EXPECT_FALSE(device_.identity_changed());
  EXPECT_TRUE(g.calls.empty());
}

TEST_F(UsbDeviceTest, ClosedObjectCallsNothingAndKeepsItsStatus) {
  g.open_status = FT_DEVICE_NOT_FOUND;
  EXPECT_EQ(FT_DEVICE_NOT_FOUND, device_.Open(3));
  g.calls.clear();
  uint8_t buffer[8] = {};
  EXPECT_EQ(FT_OK, device_.Close());
  EXPECT_EQ(FT_OK, device_.Read(buffer, 8));
  EXPECT_EQ(FT_OK, device_.Write(buffer, 8));
  EXPECT_EQ(FT_OK, device_.PurgeReceive());
  EXPECT_EQ(FT_OK, device_.PurgeTransmit());
  EXPECT_EQ(FT_OK, device_.SetBaudRate(115200));
  EXPECT_EQ(FT_OK, device_.SetDataCharacteristics(8, 0, 0));
  EXPECT_EQ(FT_OK, device_.SetFlowControl(0, 0, 0));
  EXPECT_EQ(FT_OK, device_.SetTimeouts(5, 5));
  EXPECT_EQ(FT_OK, device_.SetDtr(true));
  EXPECT_EQ(FT_OK, device_.CheckEepromIdentity());
  EXPECT_TRUE(g.calls.empty());
  EXPECT_EQ(FT_DEVICE_NOT_FOUND, device_.last_status());
  // Settings are recorded only by calls that reach the driver.
  EXPECT_EQ(0u, device_.baud_rate());
  EXPECT_EQ(1000u, device_.write_timeout());
  EXPECT_EQ(-1, device_.device_index());
}

TEST_F(UsbDeviceTest, ReadOnAClosedObjectLeavesBytesReadAlone) {
  ASSERT_EQ(FT_OK, device_.Open(0));
  g.read_count = 72;
  uint8_t buffer[72];
  ASSERT_EQ(FT_OK, device_.Read(buffer, 72));
  EXPECT_EQ(72u, device_.bytes_read());
  ASSERT_EQ(FT_OK, device_.Close());
  g.read_count = 5;
  EXPECT_EQ(FT_OK, device_.Read(buffer, 72));
  EXPECT_EQ(72u, device_.bytes_read());
}

TEST_F(UsbDeviceTest, ConfigureCallsInOrderWithItsArguments) {
  EXPECT_EQ(FT_OK, device_.Configure(2, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE));
  EXPECT_EQ((Calls{"Open 2", "ClrDtr", "SetBaudRate 115200", "SetDataCharacteristics 8 0 0",
                   "SetFlowControl 0 0 0"}),
            g.calls);
  EXPECT_TRUE(device_.is_open());
  EXPECT_EQ(2, device_.device_index());
  EXPECT_EQ(kHandle, device_.handle());
  EXPECT_EQ(115200u, device_.baud_rate());
  EXPECT_EQ(8, device_.word_length());
  EXPECT_EQ(0, device_.stop_bits());
  EXPECT_EQ(0, device_.parity());
}

TEST_F(UsbDeviceTest, ConfigureMakesEverySettingAndReturnsTheFirstFailure) {
  g.baud_status = FT_INVALID_BAUD_RATE;
  g.flow_status = FT_IO_ERROR;
  EXPECT_EQ(FT_INVALID_BAUD_RATE, device_.Configure(0, 115200, 8, 0, 0));
  EXPECT_EQ(5u, g.calls.size());            // went on past the failing baud rate
  EXPECT_EQ(115200u, device_.baud_rate());  // recorded whatever the status
  EXPECT_EQ(FT_INVALID_BAUD_RATE, device_.last_status());

  SetUp();
  UsbDevice other(fake_);
  g.flow_status = FT_IO_ERROR;
  EXPECT_EQ(FT_IO_ERROR, other.Configure(0, 115200, 8, 0, 0));
  EXPECT_EQ(FT_IO_ERROR, other.last_status());
}

TEST_F(UsbDeviceTest, ConfigureOnAMissingIndexCallsNothingElse) {
  g.open_status = FT_DEVICE_NOT_FOUND;
  EXPECT_EQ(FT_DEVICE_NOT_FOUND, device_.Configure(7, 115200, 8, 0, 0));
  EXPECT_EQ((Calls{"Open 7"}), g.calls);
  EXPECT_FALSE(device_.is_open());
  EXPECT_EQ(nullptr, device_.handle());
  EXPECT_EQ(-1, device_.device_index());
  EXPECT_EQ(FT_DEVICE_NOT_FOUND, device_.last_status());
}

TEST_F(UsbDeviceTest, FailedDtrLeavesTheDeviceOpenForTheNextClose) {
  g.dtr_status = FT_IO_ERROR;
  EXPECT_EQ(FT_IO_ERROR, device_.Configure(0, 115200, 8, 0, 0));
  EXPECT_EQ((Calls{"Open 0", "ClrDtr"}), g.calls);
  EXPECT_TRUE(device_.is_open());
  EXPECT_EQ(0, device_.device_index());
  g.calls.clear();
  EXPECT_EQ(FT_OK, device_.Close());
  EXPECT_EQ((Calls{"Close"}), g.calls);
  EXPECT_FALSE(device_.is_open());
  EXPECT_EQ(FT_IO_ERROR, device_.last_status()) << "the close hid the failure";
}

TEST_F(UsbDeviceTest, CloseAlwaysReturnsToClosed) {
  ASSERT_EQ(FT_OK, device_.Open(1));
  g.close_status = FT_IO_ERROR;
  EXPECT_EQ(FT_IO_ERROR, device_.Close());
  EXPECT_EQ(FT_IO_ERROR, device_.last_status());
  EXPECT_FALSE(device_.is_open());
  EXPECT_EQ(-1, device_.device_index());
  EXPECT_EQ(nullptr, device_.handle());
  g.calls.clear();
  EXPECT_EQ(FT_OK, device_.Close());  // a second Close: no call, status kept
  EXPECT_TRUE(g.calls.empty());
  EXPECT_EQ(FT_IO_ERROR, device_.last_status());
}

TEST_F(UsbDeviceTest, FailedOpenKeepsTheIndexAndDropsTheHandle) {
  ASSERT_EQ(FT_OK, device_.Open(1));
  g.open_status = FT_DEVICE_NOT_OPENED;
  // A second Open does not close the first handle; a failure drops it.
  EXPECT_EQ(FT_DEVICE_NOT_OPENED, device_.Open(4));
  EXPECT_EQ((Calls{"Open 1", "Open 4"}), g.calls);
  EXPECT_EQ(nullptr, device_.handle());
  EXPECT_EQ(1, device_.device_index());
}

TEST_F(UsbDeviceTest, EachOperationIsOneCallWithItsStatusStored) {
  ASSERT_EQ(FT_OK, device_.Open(0));
  g.calls.clear();
  const uint8_t request[8] = {2, 0, 4, 'L', 'R', 0, 0, 0xE6};
  g.written_count = 8;
  EXPECT_EQ(FT_OK, device_.Write(request, 8));
  EXPECT_EQ(8u, device_.bytes_written());
  EXPECT_EQ(static_cast<const void*>(request), g.write_buffer);  // no copy needed
  EXPECT_EQ(FT_OK, device_.PurgeReceive());
  EXPECT_EQ(FT_OK, device_.PurgeTransmit());
  EXPECT_EQ(FT_OK, device_.Purge(FT_PURGE_RX | FT_PURGE_TX));
  EXPECT_EQ(FT_OK, device_.SetTimeouts(200, 1000));
  EXPECT_EQ(FT_OK, device_.SetDtr(true));
  EXPECT_EQ(FT_OK, device_.SetDtr(false));
  EXPECT_EQ((Calls{"Write 8", "Purge 1", "Purge 2", "Purge 3", "SetTimeouts 200 1000", "SetDtr",
                   "ClrDtr"}),
            g.calls);
  EXPECT_EQ(200u, device_.read_timeout());
  EXPECT_EQ(1000u, device_.write_timeout());

  g.read_status = FT_IO_ERROR;
  g.read_count = 3;
  uint8_t buffer[72];
  EXPECT_EQ(FT_IO_ERROR, device_.Read(buffer, 72));
  EXPECT_EQ(FT_IO_ERROR, device_.last_status());
  EXPECT_EQ(3u, device_.bytes_read());
}

TEST_F(UsbDeviceTest, FailedEepromReadKeepsTheFlagAndReturnsTheStatus) {
  ASSERT_EQ(FT_OK, device_.Open(0));
  EXPECT_EQ(FT_EEPROM_READ_FAILED, device_.CheckEepromIdentity());
  EXPECT_EQ(FT_EEPROM_READ_FAILED, device_.last_status());
  EXPECT_FALSE(device_.identity_changed());
  // The record was prepared for the driver before the read.
  const FT_PROGRAM_DATA& e = device_.eeprom();
  EXPECT_EQ(0x00000000u, e.Signature1);
  EXPECT_EQ(0xFFFFFFFFu, e.Signature2);
  EXPECT_EQ(2u, e.Version);
  EXPECT_EQ(0x0403, e.VendorId);
  EXPECT_EQ(0x6001, e.ProductId);
  EXPECT_EQ(90, e.MaxPower);
  EXPECT_EQ(device_.description(), e.Description);
  EXPECT_EQ(device_.manufacturer(), e.Manufacturer);
  EXPECT_EQ(device_.manufacturer_id(), e.ManufacturerId);
  EXPECT_EQ(device_.serial_number(), e.SerialNumber);
}

}  // namespace
}  // namespace sq71
