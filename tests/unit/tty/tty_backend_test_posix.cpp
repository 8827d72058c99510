// The tty backend against simulated meters on pseudo-terminals, driven by the
// program's own device object, transfer engine, erase and listing. The meters
// fill the reply bytes the program leaves unexamined with values of their
// own, so nothing passes only because of the simulator's usual bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/device_listing.h"
#include "protocol/frame.h"
#include "protocol/log_erase.h"
#include "protocol/transfer_engine.h"
#include "sim/pty_meter_posix.h"
#include "tests/unit/protocol/recording_ui.h"
#include "ui/message_catalogue.h"
#include "usb/tty_backend_posix.h"
#include "usb/usb_device.h"

namespace sq71 {
namespace {

namespace fs = std::filesystem;
using sim::PtyMeter;

sim::MeterConfig OddMeter(const std::string& name = "SQ-71 Meter") {
  sim::MeterConfig meter;
  meter.name = name;
  meter.record_reply_open = {0xA5, 0x5A, 0xFF, 0x00};
  meter.identify_reply_open = 0x7E;
  return meter;
}

std::unique_ptr<TtyDriver> Tty(const std::vector<std::string>& ports) {
  std::string error;
  std::unique_ptr<TtyDriver> driver = MakeTtyDriver(ports, &error);
  EXPECT_NE(nullptr, driver) << error;
  return driver;
}

// Keeps every read's status, so a test can see what the engine saw.
class RecordingTty : public TtyDriver {
 public:
  using TtyDriver::TtyDriver;
  FT_STATUS Read(FT_HANDLE handle, void* buffer, uint32_t wanted, uint32_t* returned) override {
    const FT_STATUS status = TtyDriver::Read(handle, buffer, wanted, returned);
    read_statuses.push_back(status);
    return status;
  }
  std::vector<FT_STATUS> read_statuses;
};

LogImage SampleUlg() {
  std::ifstream file(std::string(SQ71_TEST_DATA_DIR) + "/sample.ulg", std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
  LogImage image{};
  EXPECT_EQ(image.size(), bytes.size());
  std::memcpy(image.data(), bytes.data(), std::min(image.size(), bytes.size()));
  return image;
}

class TtyDownload : public ::testing::Test {
 protected:
  TtyDownload() : ui_(&state_), engine_(state_, image_, ui_) {}

  // A download of the meter's log through the tty backend, ticked as the
  // window's timer would until the engine stops it.
  void Download(PtyMeter& meter) {
    driver_ = std::make_unique<RecordingTty>(std::vector<std::string>{meter.port()});
    UsbDevice device(*driver_);
    engine_.StartTransfer(&device);
    for (int ticks = 0; ui_.timer_running && ticks < 3000; ++ticks) engine_.TransferTick(&device);
    EXPECT_FALSE(device.is_open());
  }

  bool SameRecords(const LogImage& log, int count) const {
    return std::memcmp(image_.data(), log.data(), static_cast<std::size_t>(count) * kRecordSize) ==
           0;
  }

  std::unique_ptr<RecordingTty> driver_;
  TransferState state_;
  LogImage image_{};
  test::RecordingUi ui_;
  TransferEngine engine_;
};

TEST_F(TtyDownload, SampleLogByteForByte) {
  sim::MeterConfig config = OddMeter();
  config.log = SampleUlg();
  PtyMeter meter(config);
  ASSERT_TRUE(meter.ok()) << meter.error();
  Download(meter);
  EXPECT_EQ(std::vector<int>{kMsgTransferComplete}, ui_.MessageNumbers());
  EXPECT_TRUE(image_ == config.log);
  // The entries and the end marker, asked for one by one.
  const std::vector<std::string> requests = meter.Requests();
  ASSERT_EQ(37u, requests.size());
  for (int r = 0; r < 37; ++r) EXPECT_EQ("LR " + std::to_string(r), requests[r]);
}

TEST_F(TtyDownload, BadChecksumMidwayStopsWithWhatCame) {
  sim::MeterConfig config = OddMeter();
  config.faults.push_back({sim::FaultWhen::kRecord, 5, sim::FaultAction::kBadChecksum, -1});
  PtyMeter meter(config);
  ASSERT_TRUE(meter.ok()) << meter.error();
  Download(meter);
  EXPECT_EQ(std::vector<int>{kMsgChecksumError}, ui_.MessageNumbers());
  EXPECT_TRUE(SameRecords(config.log, 5));
  EXPECT_EQ(6u, meter.Requests().size());
}

TEST_F(TtyDownload, UnpluggedMeterIsAnIoErrorAndNoHandshake) {
  PtyMeter meter(OddMeter());
  ASSERT_TRUE(meter.ok()) << meter.error();
  meter.UnplugAtExchange(10);
  Download(meter);
  EXPECT_EQ(std::vector<int>{kMsgHandshake}, ui_.MessageNumbers());
  ASSERT_EQ(10u, driver_->read_statuses.size());
  EXPECT_EQ(FT_OK, driver_->read_statuses[8]);
  EXPECT_EQ(FT_IO_ERROR, driver_->read_statuses[9]);
  EXPECT_TRUE(SameRecords(sim::MeterConfig().log, 9));
  // The port has gone with the device.
  UsbDevice device(*driver_);
  EXPECT_NE(FT_OK, device.Open(0));
}

TEST(TtyBackend, EraseReachesTheMeter) {
  PtyMeter meter(OddMeter());
  ASSERT_TRUE(meter.ok()) << meter.error();
  const std::unique_ptr<TtyDriver> driver = Tty({meter.port()});
  UsbDevice device(*driver);
  test::RecordingUi ui;
  EraseMeterLog(&device, ui);
  device.Close();
  EXPECT_EQ(std::vector<int>{kMsgLogErased}, ui.MessageNumbers());
  EXPECT_EQ(std::vector<std::string>{"LE"}, meter.Requests());
  meter.WithMeter([](sim::SimulatedMeter& m) { EXPECT_EQ(1, m.erases()); });
}

TEST(TtyBackend, CountsListsAndTellsWhyAnOpenFailed) {
  PtyMeter first(OddMeter("Meter B"));
  PtyMeter second(OddMeter("Meter A"));
  ASSERT_TRUE(first.ok() && second.ok()) << first.error() << second.error();
  char file_template[] = "/tmp/sq71-tty-XXXXXX";
  const int file = mkstemp(file_template);
  ASSERT_GE(file, 0);
  close(file);
  const std::string missing = "/nonexistent/ttyUSB9";
  const std::unique_ptr<TtyDriver> tty = Tty({first.port(), missing, second.port(), file_template});

  uint32_t count = 0;
  EXPECT_EQ(FT_OK, tty->CountDevices(&count));
  EXPECT_EQ(4u, count);
  EXPECT_EQ(second.port(), tty->Where(2));
  EXPECT_TRUE(tty->partial_identity());

  std::vector<std::string> names;
  EXPECT_EQ(2, ListDevices(*tty, [&](int, const char* name) { names.push_back(name); }));
  EXPECT_EQ((std::vector<std::string>{"Meter B", "Meter A"}), names);

  FT_HANDLE handle = nullptr;
  EXPECT_EQ(FT_DEVICE_NOT_FOUND, tty->Open(1, &handle));
  EXPECT_EQ(ENOENT, tty->last_open_failure().error_number);
  EXPECT_EQ(missing, tty->last_open_failure().port);
  EXPECT_EQ(FT_DEVICE_NOT_OPENED, tty->Open(3, &handle));
  EXPECT_EQ(ENOTTY, tty->last_open_failure().error_number);
  EXPECT_EQ(std::string(file_template) + ": not a serial port", tty->last_error());
  EXPECT_EQ(FT_DEVICE_NOT_FOUND, tty->Open(4, &handle));
  unlink(file_template);

  std::string error;
  EXPECT_EQ(nullptr, MakeTtyDriver({}, &error));
  EXPECT_FALSE(error.empty());
}

TEST(TtyBackend, SecondOpenOfAPortIsRefusedUntilTheFirstCloses) {
  PtyMeter meter(OddMeter());
  ASSERT_TRUE(meter.ok()) << meter.error();
  const std::unique_ptr<TtyDriver> tty = Tty({meter.port()});
  UsbDevice holder(*tty);
  UsbDevice other(*tty);
  ASSERT_EQ(FT_OK, holder.Open(0));
  EXPECT_EQ(FT_DEVICE_NOT_OPENED, other.Open(0));
  EXPECT_EQ(EBUSY, tty->last_open_failure().error_number);
  EXPECT_EQ(DriverFailure::kBusy, tty->last_failure());
  holder.Close();
  EXPECT_EQ(FT_OK, other.Open(0));
  EXPECT_EQ(0, tty->last_open_failure().error_number);
  other.Close();
}

// One identify exchange on an open device: the name, or "" when no valid
// reply came within the listing's time-out.
std::string Identify(UsbDevice& device, uint32_t* bytes_read = nullptr) {
  device.SetTimeouts(kIdentifyReadTimeoutMs, kIdentifyWriteTimeoutMs);
  device.PurgeReceive();
  uint8_t request[kIdentifyRequestSize];
  BuildIdentifyRequest(request);
  device.Write(request, kIdentifyRequestSize);
  uint8_t reply[kIdentifyReplyMax] = {};
  const FT_STATUS status = device.Read(reply, kIdentifyReplyMax);
  if (bytes_read != nullptr) *bytes_read = device.bytes_read();
  std::string name;
  return TestIdentifyReply(status, device.bytes_read(), reply, &name) ? name : "";
}

TEST(TtyBackend, ReadEndsAtItsTimeOutWithWhatCame) {
  PtyMeter meter(OddMeter("SQ-71 Meter"));
  ASSERT_TRUE(meter.ok()) << meter.error();
  const std::unique_ptr<TtyDriver> tty = Tty({meter.port()});
  UsbDevice device(*tty);
  ASSERT_EQ(FT_OK, device.Configure(0, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE));
  const auto start = std::chrono::steady_clock::now();
  uint32_t got = 0;
  EXPECT_EQ("SQ-71 Meter", Identify(device, &got));
  // 100 bytes asked, 16 came: the read waited out its whole time-out for
  // the rest, as the driver's does.
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(kIdentifyReadTimeoutMs));
  EXPECT_EQ(16u, got);
  EXPECT_EQ(FT_OK, device.last_status());
  device.Close();
}

TEST(TtyBackend, QueueStatusCountsTheBytesWaitingUntilAPurge) {
  PtyMeter meter(OddMeter("SQ-71 Meter"));
  ASSERT_TRUE(meter.ok()) << meter.error();
  const std::unique_ptr<TtyDriver> tty = Tty({meter.port()});
  UsbDevice device(*tty);
  ASSERT_EQ(FT_OK, device.Configure(0, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE));
  uint8_t request[kIdentifyRequestSize];
  BuildIdentifyRequest(request);
  device.Write(request, kIdentifyRequestSize);
  uint32_t queued = 0;
  for (int tries = 0; tries < 1000 && device.GetQueueStatus(&queued) == FT_OK && queued < 16;
       ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(16u, queued) << "the whole identify reply, unread";
  device.PurgeReceive();
  device.GetQueueStatus(&queued);
  EXPECT_EQ(0u, queued);
}

TEST(TtyBackend, LineSettingsReachThePortAndUnusableOnesAreRefused) {
  PtyMeter meter(OddMeter("SQ-71 Meter"));
  ASSERT_TRUE(meter.ok()) << meter.error();
  const std::unique_ptr<TtyDriver> tty = Tty({meter.port()});
  UsbDevice device(*tty);
  // Opened but not yet set to the meter's speed: nothing understood.
  ASSERT_EQ(FT_OK, device.Open(0));
  EXPECT_EQ("", Identify(device));
  ASSERT_EQ(FT_OK, device.SetBaudRate(115200));
  EXPECT_EQ(FT_OK, device.SetDataCharacteristics(FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE));
  EXPECT_EQ(FT_OK, device.SetFlowControl(FT_FLOW_NONE, 0, 0));
  EXPECT_EQ(FT_OK, device.SetDtr(false));
  EXPECT_EQ("SQ-71 Meter", Identify(device));

  // Refused, and the line is left as it was.
  EXPECT_EQ(FT_INVALID_BAUD_RATE, device.SetBaudRate(115201));
  EXPECT_EQ(FT_INVALID_PARAMETER,
            device.SetDataCharacteristics(FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_MARK));
  EXPECT_EQ(FT_NOT_SUPPORTED, device.SetFlowControl(FT_FLOW_DTR_DSR, 0, 0));
  EXPECT_EQ("SQ-71 Meter", Identify(device));

  EXPECT_EQ(FT_OK, device.SetDataCharacteristics(FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE));
  EXPECT_EQ("", Identify(device));
  device.Close();
}

// A sysfs tree of our own for the port: the usb-serial port under its
// interface under the USB device, as ftdi_sio lays it out.
class FakeSysfs {
 public:
  FakeSysfs(const std::string& port, TtyDriver& driver) : tty_(driver) {
    char root_template[] = "/tmp/sq71-sysfs-XXXXXX";
    root_ = mkdtemp(root_template);
    usb_ = root_ / "devices/usb1/1-2";
    serial_ = usb_ / "1-2:1.0/ttyUSB0";
    const fs::path tty = root_ / "class/tty" / fs::path(port).filename();
    fs::create_directories(serial_);
    fs::create_directories(tty);
    fs::create_directory_symlink(serial_, tty / "device");
    std::ofstream(serial_ / "latency_timer") << "16\n";
    tty_.set_sysfs_root(root_.string());
  }
  ~FakeSysfs() {
    tty_.set_sysfs_root("/sys");
    fs::remove_all(root_);
  }
  void Device(const char* attribute, const char* value) const {
    std::ofstream(usb_ / attribute) << value << "\n";
  }
  std::string Latency() const {
    std::ifstream in(serial_ / "latency_timer");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  TtyDriver& tty_;
  fs::path root_;
  fs::path usb_;
  fs::path serial_;
};

TEST(TtyBackend, IdentityIsWhatSysfsTellsAndTheReadStillFails) {
  PtyMeter meter(OddMeter());
  ASSERT_TRUE(meter.ok()) << meter.error();
  const std::unique_ptr<TtyDriver> tty = Tty({meter.port()});
  FakeSysfs sysfs(meter.port(), *tty);
  sysfs.Device("product", "SQ-71 Meter");
  sysfs.Device("manufacturer", "Corvale Data");
  sysfs.Device("serial", "CD7100420000000000");  // longer than the record holds
  sysfs.Device("idVendor", "0403");
  sysfs.Device("idProduct", "6015");
  sysfs.Device("bMaxPower", "100mA");
  sysfs.Device("bmAttributes", "c0");
  UsbDevice device(*tty);
  ASSERT_EQ(FT_OK, device.Configure(0, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE));

  EXPECT_EQ(FT_EEPROM_READ_FAILED, device.CheckEepromIdentity());
  EXPECT_FALSE(device.identity_changed());
  EXPECT_STREQ("SQ-71 Meter", device.description());
  EXPECT_STREQ("Corvale Data", device.manufacturer());
  EXPECT_STREQ("CD7100420000000", device.serial_number());
  EXPECT_EQ(0x6015, device.eeprom().ProductId);
  EXPECT_EQ(100, device.eeprom().MaxPower);
  EXPECT_EQ(1, device.eeprom().SelfPowered);

  EXPECT_EQ(FT_OK, tty->SetLatencyTimer(device.handle(), 2));
  EXPECT_EQ("2\n", sysfs.Latency());
  device.Close();
}

}  // namespace
}  // namespace sq71
