// The libftdi backend against the real libftdi1 and libusb, talking to a
// faked FT232R with the simulated meter behind it. Runs under
// umockdev-wrapper, which points libusb's view of /sys and /dev at the
// testbed.
#include <gtest/gtest.h>
#include <signal.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli/sq71_cli.h"
#include "fake_ft232r_posix.h"
#include "log/log_files.h"
#include "protocol/device_listing.h"
#include "protocol/log_erase.h"
#include "protocol/transfer_engine.h"
#include "tests/support/sq71_fixture.h"
#include "tests/unit/protocol/recording_ui.h"
#include "ui/message_catalogue.h"
#include "usb/libftdi_backend_posix.h"
#include "usb/usb_device.h"
#include "usb/webusb_driver.h"

namespace sq71 {
namespace {

// A meter that fills the reply bytes the program leaves unread with other
// values than the simulator's, so nothing can depend on them.
sim::MeterConfig SampleMeter() {
  sim::MeterConfig meter;
  meter.record_reply_open = {0x5A, 0xC3, 0x00, 0xFF};
  meter.identify_reply_open = 0x81;
  return meter;
}

class LibftdiBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testbed_ = umockdev_testbed_new();
    ASSERT_TRUE(umockdev_in_mock_environment()) << "run this test under umockdev-wrapper";
    std::string error;
    driver_ = MakeLibftdiDriver(&error);
    ASSERT_NE(nullptr, driver_) << error;
    ASSERT_EQ("libftdi", driver_->name());
  }

  void TearDown() override {
    if (device_ != nullptr) device_->Close();
    device_.reset();
    // The testbed goes first: it stops the thread that calls the fake.
    if (testbed_ != nullptr) g_object_unref(testbed_);
    fake_.reset();
  }

  void Plug(sim::MeterConfig meter) {
    fake_ = std::make_unique<test::FakeFt232r>(std::move(meter));
    std::string error;
    ASSERT_TRUE(fake_->Plug(testbed_, 2, &error)) << error;
    device_ = std::make_unique<UsbDevice>(*driver_);
  }

  // Read as the program does it: one exchange a tick until the engine stops.
  void Download() {
    engine_.StartTransfer(device_.get());
    for (int tick = 0; state_.reading != 0 && tick < 2 * kTransferTotal; ++tick) {
      engine_.TransferTick(device_.get());
    }
    ASSERT_EQ(0, state_.reading);
  }

  UMockdevTestbed* testbed_ = nullptr;
  std::unique_ptr<LibftdiDriver> driver_;
  std::unique_ptr<test::FakeFt232r> fake_;
  std::unique_ptr<UsbDevice> device_;
  TransferState state_;
  LogImage image_{};
  test::RecordingUi ui_{&state_};
  TransferEngine engine_{state_, image_, ui_};
};

TEST_F(LibftdiBackendTest, CountsOpensConfiguresAndGivesTheChipBack) {
  Plug(SampleMeter());
  uint32_t count = 0;
  ASSERT_EQ(FT_OK, driver_->CountDevices(&count));
  EXPECT_EQ(1u, count);
  EXPECT_EQ("CD710001", driver_->Where(0));
  EXPECT_EQ("", driver_->Where(1));
  FT_HANDLE none = nullptr;
  EXPECT_EQ(FT_DEVICE_NOT_FOUND, driver_->Open(1, &none));
  EXPECT_EQ(nullptr, none);

  ASSERT_EQ(FT_OK, device_->Configure(0, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE));
  ASSERT_EQ(FT_OK, driver_->SetLatencyTimer(device_->handle(), 2));
  test::FakeFt232r::Seen seen = fake_->seen();
  EXPECT_NEAR(115200, seen.baud, 115200 / 33);
  EXPECT_EQ(0x0008, seen.line);
  EXPECT_FALSE(seen.dtr);
  EXPECT_EQ(2, seen.latency_ms);
  EXPECT_TRUE(seen.kernel_driver_detached);
  EXPECT_FALSE(seen.kernel_driver_reattached);

  // Nothing asked, nothing comes: the read waits out its time-out and
  // reports success with no bytes, as the driver does.
  ASSERT_EQ(FT_OK, device_->SetTimeouts(50, 50));
  uint8_t buffer[8];
  EXPECT_EQ(FT_OK, device_->Read(buffer, sizeof buffer));
  EXPECT_EQ(0u, device_->bytes_read());

  device_->Close();
  EXPECT_TRUE(fake_->seen().kernel_driver_reattached);
}

TEST_F(LibftdiBackendTest, IdentityCheckAndListingReadTheChipsEeprom) {
  Plug(SampleMeter());
  ASSERT_EQ(FT_OK, device_->Open(0));
  EXPECT_EQ(FT_OK, device_->CheckEepromIdentity());
  EXPECT_FALSE(device_->identity_changed());
  EXPECT_STREQ("SQ-71 Meter", device_->description());
  EXPECT_STREQ("Corvale Data", device_->manufacturer());
  EXPECT_STREQ("CD710001", device_->serial_number());
  EXPECT_GE(fake_->seen().eeprom_word_reads, 64);
  device_->Close();
  std::vector<std::string> names;
  EXPECT_EQ(1, ListDevices(*driver_, [&](int, const char* name) { names.push_back(name); }));
  EXPECT_EQ(std::vector<std::string>{"SQ-71 Meter"}, names);
}

TEST_F(LibftdiBackendTest, MismatchedEepromIsRefused) {
  sim::MeterConfig meter = SampleMeter();
  meter.eeprom.description = "FT232R USB UART";
  meter.eeprom.cbus4 = 3;
  Plug(meter);
  Download();
  EXPECT_EQ(std::vector<int>{kMsgDeviceRecycling}, ui_.MessageNumbers());
  EXPECT_EQ(0, fake_->exchanges());
  EXPECT_EQ(0, ListDevices(*driver_, [](int, const char*) {}));
}

TEST_F(LibftdiBackendTest, DownloadsTheSampleLogByteForByte) {
  sim::MeterConfig meter = SampleMeter();
  ASSERT_TRUE(ReadUlgFile(SQ71_TEST_DATA_DIR "/sample.ulg", &meter.log).ok());
  const LogImage expected = meter.log;
  Plug(meter);
  Download();
  EXPECT_EQ(std::vector<int>{kMsgTransferComplete}, ui_.MessageNumbers());
  EXPECT_TRUE(image_ == expected);
  EXPECT_FALSE(device_->is_open());
}

TEST_F(LibftdiBackendTest, ErasesTheMeterLog) {
  Plug(SampleMeter());
  EraseMeterLog(device_.get(), ui_);
  EXPECT_EQ(std::vector<int>{kMsgLogErased}, ui_.MessageNumbers());
  EXPECT_EQ(1, fake_->erases());
  EXPECT_EQ(kEndMarker, RecordAt(fake_->meter_log(), 0)[0]);
}

// Ctrl-C while the meter erases: the exchange ends, the device is closed and
// the chip goes back to the kernel's serial driver.
TEST_F(LibftdiBackendTest, CtrlCDuringEraseClosesTheDeviceAndGivesTheChipBack) {
  sim::MeterConfig meter = SampleMeter();
  meter.faults.push_back({sim::FaultWhen::kErase, 0, sim::FaultAction::kDelay, 1000});
  Plug(meter);
  std::thread interrupt([this] {
    while (fake_->exchanges() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    kill(getpid(), SIGINT);
  });
  const test::Sq71Outcome run =
      test::RunSq71Command({"erase", "--yes", "--backend", "libftdi", "-q"});
  interrupt.join();
  EXPECT_EQ(kExitInterrupted, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.err.find(": interrupted; the meter had erased its log\n"));
  EXPECT_TRUE(fake_->seen().kernel_driver_reattached);
}

// A reply cut short mid-download: the read gives what came once its time-out
// has run out, successfully, and the program's handshake error follows.
TEST_F(LibftdiBackendTest, ShortReplyMidDownloadStopsWithTheRecordsBeforeIt) {
  sim::MeterConfig meter = SampleMeter();
  meter.log = LogImage{};
  for (int r = 0; r < kRecordCount; ++r) RecordAt(meter.log, r)[1] = static_cast<uint8_t>(r + 1);
  meter.faults.push_back({sim::FaultWhen::kRecord, 300, sim::FaultAction::kShortReply, 40});
  const LogImage expected = meter.log;
  Plug(meter);
  Download();
  EXPECT_EQ(std::vector<int>{kMsgHandshake}, ui_.MessageNumbers());
  EXPECT_EQ(40u, device_->bytes_read());
  EXPECT_EQ(0, std::memcmp(image_.data(), expected.data(), 300 * kRecordSize));
  EXPECT_EQ(kEndMarker, RecordAt(image_, 300)[rec::kStatus]);
}

// Pulling the cable mid-download: libusb reports the device gone, the read
// fails as a driver I/O error, and the program's handshake error follows.
TEST_F(LibftdiBackendTest, UnplugMidDownloadIsAnIoErrorAndAHandshakeError) {
  sim::MeterConfig meter = SampleMeter();
  meter.log = LogImage{};
  for (int r = 0; r < kRecordCount; ++r) RecordAt(meter.log, r)[1] = 1;
  Plug(meter);
  fake_->UnplugAtExchange(301);
  Download();
  EXPECT_EQ(std::vector<int>{kMsgHandshake}, ui_.MessageNumbers());
  EXPECT_EQ(DriverFailure::kGone, driver_->last_failure()) << driver_->last_error();
  EXPECT_EQ(1, RecordAt(image_, 299)[1]);
  EXPECT_EQ(kEndMarker, RecordAt(image_, 300)[rec::kStatus]);
  EXPECT_FALSE(device_->is_open());
}

// The steps of a download's start: the open sequence with the latency
// timer and the identity check, then a purge of each direction.
// Every step is made whatever the one before gave, so the device is always
// closed (a libftdi handle left open outlives the fake it talks to).
void OpenAndPurge(Driver& driver) {
  UsbDevice device(driver);
  EXPECT_EQ(FT_OK, device.Configure(0, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE));
  EXPECT_EQ(FT_OK, device.SetLatencyTimer(kLatencyTimerMs));
  EXPECT_EQ(FT_OK, device.CheckEepromIdentity());
  EXPECT_EQ(FT_OK, device.PurgeReceive());
  EXPECT_EQ(FT_OK, device.PurgeTransmit());
  device.Close();
}

std::vector<std::string> Described(const std::vector<sim::SeenRequest>& requests) {
  std::vector<std::string> text;
  for (const sim::SeenRequest& r : requests) text.push_back(sim::Describe(r));
  return text;
}

// libftdi is the reference for the chip's requests: our own driver sends
// the very (request, value, index) list that libftdi sends for the same
// steps. libftdi also reads EEPROM words 64 to 127, to learn the size of
// an EEPROM that on an FT232R is always 64 words: those are left out.
TEST_F(LibftdiBackendTest, WebUsbDriverSendsLibftdisRequests) {
  Plug(SampleMeter());
  OpenAndPurge(*driver_);
  std::vector<sim::SeenRequest> reference = fake_->requests();
  reference.erase(std::remove_if(reference.begin(), reference.end(),
                                 [](const sim::SeenRequest& r) {
                                   return r.request == ft232r::kRequestReadEeprom &&
                                          r.index >= ft232r::kEepromWords;
                                 }),
                  reference.end());
  auto chip = std::make_shared<sim::SimUsbTransport>(SampleMeter(),
                                                     sim::UsbModelTiming{false, 16, 0, 1000});
  WebUsbDriver webusb;
  webusb.Attach(chip);
  OpenAndPurge(webusb);
  EXPECT_EQ(Described(reference), Described(chip->model().requests()));
}

// The baud divisor of each rate as libftdi works it out: the standard rates
// and the chip's three fixed ones, then random rates (SQ71_SEED replays a
// run).
TEST_F(LibftdiBackendTest, BaudDivisorsAreLibftdis) {
  Plug(SampleMeter());
  ASSERT_EQ(FT_OK, device_->Open(0));
  const char* given = std::getenv("SQ71_SEED");
  const unsigned seed = given != nullptr ? static_cast<unsigned>(std::strtoul(given, nullptr, 10))
                                         : std::random_device()();
  std::mt19937 random(seed);
  std::vector<uint32_t> rates = {183,    300,    1200,    9600,    19200,  57600,
                                 115200, 921600, 1500000, 2000000, 3000000};
  std::uniform_int_distribution<uint32_t> any(184, 1499999);
  for (int i = 0; i < 300; ++i) rates.push_back(any(random));
  for (const uint32_t rate : rates) {
    ASSERT_EQ(FT_OK, device_->SetBaudRate(rate)) << rate;
    const sim::SeenRequest sent = fake_->requests().back();
    ft232r::ControlRequest ours;
    ASSERT_TRUE(ft232r::BaudRateRequest(rate, &ours)) << rate;
    ASSERT_EQ(sim::Describe(sent),
              sim::Describe({ours.request_type, ours.request, ours.value, ours.index}))
        << rate << " baud (SQ71_SEED=" << seed << ")";
  }
}

}  // namespace
}  // namespace sq71
