// What every driver must do the same way, run over the WebUSB driver on the
// simulated chip's USB interface and over the simulated driver: reopen, a
// read that times out and comes back short, purge, an unplug that ends only
// its own device and is reported once, and downloads whose outcome the
// meter's log and fault plan decide.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "protocol/transfer_engine.h"
#include "sim/ft232r_usb_model.h"
#include "sim/replay_driver.h"
#include "tests/unit/protocol/recording_ui.h"
#include "tests/unit/protocol/sim_bus.h"
#include "ui/message_catalogue.h"
#include "usb/tracing_driver.h"
#include "usb/usb_device.h"
#include "usb/webusb_driver.h"

namespace sq71 {
namespace {

using sim::FaultAction;
using sim::FaultWhen;
using test::LogWithEntries;
using test::MakeFault;
using test::MeterWithLog;

enum class Kind { kWebUsb, kSim };

std::unique_ptr<Driver> MakeDriver(Kind kind, std::vector<sim::MeterConfig> meters, bool wire) {
  if (kind == Kind::kSim) {
    sim::Scenario scenario;
    scenario.timing = wire ? sim::Timing::kWire : sim::Timing::kInstant;
    scenario.latency_ms = 2;
    scenario.devices = std::move(meters);
    auto driver = std::make_unique<sim::SimDriver>(scenario);
    driver->SetMemoryTrace(false);
    return driver;
  }
  auto driver = std::make_unique<WebUsbDriver>();
  for (sim::MeterConfig& meter : meters) {
    driver->Attach(std::make_shared<sim::SimUsbTransport>(std::move(meter),
                                                          sim::UsbModelTiming{wire, 2, 0, 1000}));
  }
  return driver;
}

class DriverConformance : public ::testing::TestWithParam<Kind> {
 protected:
  void Attach(std::vector<sim::MeterConfig> meters, bool wire = false) {
    driver_ = MakeDriver(GetParam(), std::move(meters), wire);
    device_ = std::make_unique<UsbDevice>(*driver_);
  }

  // Opens device `index` on the meter's line and asks it to identify
  // itself; the reply is read with this time-out into a buffer larger than
  // any reply.
  void Identify(int index, uint32_t read_ms, bool purge_first = false) {
    ASSERT_EQ(FT_OK, device_->Configure(index, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE));
    ASSERT_EQ(FT_OK, device_->SetTimeouts(read_ms, 1000));
    uint8_t request[kIdentifyRequestSize];
    BuildIdentifyRequest(request);
    ASSERT_EQ(FT_OK, device_->Write(request, sizeof request));
    if (purge_first) {
      ASSERT_EQ(FT_OK, device_->PurgeReceive());
    }
    std::memset(reply_, 0, sizeof reply_);
    ASSERT_EQ(FT_OK, device_->Read(reply_, sizeof reply_));
  }

  // The engine's download with sq71's exchange policy (purge when the
  // receive queue is not empty, retry a failed exchange), tick by tick,
  // bounded.
  std::vector<int> Download() {
    state_ = TransferState{};
    test::RecordingUi ui(&state_);
    TransferEngine engine(state_, image_, ui, ExchangePolicy{false, 2});
    engine.StartTransfer(device_.get());
    for (int tick = 0; state_.reading != 0 && tick < 3 * kTransferTotal; ++tick) {
      engine.TransferTick(device_.get());
    }
    return ui.MessageNumbers();
  }

  std::unique_ptr<Driver> driver_;
  std::unique_ptr<UsbDevice> device_;
  uint8_t reply_[kIdentifyReplyMax + 16] = {};
  TransferState state_;
  LogImage image_{};
};

TEST_P(DriverConformance, ReopensAndRefusesASecondOpen) {
  Attach({sim::MeterConfig()});
  FT_HANDLE first = nullptr;
  FT_HANDLE second = nullptr;
  ASSERT_EQ(FT_OK, driver_->Open(0, &first));
  EXPECT_EQ(FT_DEVICE_NOT_OPENED, driver_->Open(0, &second));
  EXPECT_EQ(FT_DEVICE_NOT_FOUND, driver_->Open(1, &second));
  EXPECT_EQ(FT_OK, driver_->Close(first));
  EXPECT_EQ(FT_INVALID_HANDLE, driver_->Close(first));
  // The session after a reopen works: identify answers.
  Identify(0, 200);
  std::string name;
  EXPECT_TRUE(TestIdentifyReply(FT_OK, device_->bytes_read(), reply_, &name));
  EXPECT_EQ("SQ-71 Meter", name);
}

// Asked for more than the reply, the read waits out its time-out and gives
// what came, successfully; with nothing more coming, the next gives none.
TEST_P(DriverConformance, ReadTimesOutAndComesBackShort) {
  Attach({sim::MeterConfig()}, /*wire=*/true);
  Identify(0, 60);
  const uint32_t got = device_->bytes_read();
  EXPECT_GT(got, 4u);
  EXPECT_LT(got, static_cast<uint32_t>(kIdentifyReplyMax));
  EXPECT_TRUE(TestIdentifyReply(FT_OK, got, reply_, nullptr));
  EXPECT_EQ(FT_OK, device_->Read(reply_, 8));
  EXPECT_EQ(0u, device_->bytes_read());
}

// A receive purge drops a reply that has come in, all of it: the next read
// sees nothing, and the next request gets a whole, clean reply.
TEST_P(DriverConformance, PurgeDropsWhatHasComeIn) {
  Attach({sim::MeterConfig()});
  Identify(0, 50, /*purge_first=*/true);
  EXPECT_EQ(0u, device_->bytes_read());
  uint8_t request[kIdentifyRequestSize];
  BuildIdentifyRequest(request);
  ASSERT_EQ(FT_OK, device_->Write(request, sizeof request));
  ASSERT_EQ(FT_OK, device_->Read(reply_, sizeof reply_));
  EXPECT_TRUE(TestIdentifyReply(FT_OK, device_->bytes_read(), reply_, nullptr));
}

// Unplugged mid-download: one message, the records before it kept, the
// device no longer counted; the other meter on the bus is untouched.
TEST_P(DriverConformance, UnplugEndsOnlyItsDeviceAndIsReportedOnce) {
  sim::MeterConfig pulled = MeterWithLog(LogWithEntries(200));
  pulled.faults.push_back(MakeFault(FaultWhen::kExchange, 101, FaultAction::kUnplug));
  sim::MeterConfig other;
  other.name = "Other";
  Attach({pulled, other});
  EXPECT_EQ(std::vector<int>{kMsgHandshake}, Download());
  EXPECT_EQ(0, std::memcmp(image_.data(), LogWithEntries(200).data(), 99 * kRecordSize));
  EXPECT_FALSE(device_->is_open());
  uint32_t count = 0;
  ASSERT_EQ(FT_OK, driver_->CountDevices(&count));
  EXPECT_EQ(1u, count);
  Identify(0, 200);
  std::string name;
  EXPECT_TRUE(TestIdentifyReply(FT_OK, device_->bytes_read(), reply_, &name));
  EXPECT_EQ("Other", name);
}

// Downloads whose outcome the plan decides: the log comes whole (a glitch
// that passes is retried), or the engine stops with the plan's message and
// never asks a meter whose chip is not the meter's.
TEST_P(DriverConformance, DownloadsAsTheMetersPlanSays) {
  struct Plan {
    const char* what;
    int entries;
    std::vector<sim::Fault> faults;
    bool foreign_chip;
    bool wire;
    int message;
  };
  sim::Fault glitch = MakeFault(FaultWhen::kRecord, 40, FaultAction::kBadChecksum);
  glitch.once = true;
  const std::vector<Plan> plans = {
      {"whole log", 1024, {}, false, false, kMsgTransferComplete},
      {"whole log at wire timing", 12, {}, false, true, kMsgTransferComplete},
      {"passing glitch", 60, {glitch}, false, false, kMsgTransferComplete},
      {"line noise after a reply, purged",
       30,
       {MakeFault(FaultWhen::kRecord, 7, FaultAction::kStray, 5)},
       false,
       false,
       kMsgTransferComplete},
      {"chip of another device", 5, {}, true, false, kMsgDeviceRecycling},
  };
  for (const Plan& plan : plans) {
    SCOPED_TRACE(plan.what);
    sim::MeterConfig meter = MeterWithLog(LogWithEntries(plan.entries));
    meter.faults = plan.faults;
    if (plan.foreign_chip) meter.eeprom.cbus4 = 3;
    Attach({meter}, plan.wire);
    image_ = LogImage{};
    EXPECT_EQ(std::vector<int>{plan.message}, Download());
    if (plan.message == kMsgTransferComplete) {
      EXPECT_TRUE(image_ == meter.log);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, DriverConformance, ::testing::Values(Kind::kWebUsb, Kind::kSim),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                           return std::string(info.param == Kind::kWebUsb ? "WebUsb" : "Sim");
                         });

// A download through the WebUSB driver, traced, replays as the simulator's
// meter with the same outcome and log; the trace names its driver, and a
// name the tracer never writes is refused.
TEST(WebUsbTrace, ReplaysWithTheSameOutcome) {
  struct Lines : TraceSink {
    void Line(const std::string& line) override { text += line + "\n"; }
    std::string text;
  };
  struct Forward : TraceSink {
    explicit Forward(Lines& to) : to(to) {}
    void Line(const std::string& line) override { to.Line(line); }
    Lines& to;
  };
  sim::MeterConfig meter = MeterWithLog(LogWithEntries(30));
  meter.faults.push_back(MakeFault(FaultWhen::kRecord, 20, FaultAction::kShortReply, 30));
  Lines lines;
  std::vector<int> outcomes[2];
  LogImage images[2] = {};
  auto calls = std::make_shared<std::vector<sim::TracedCall>>();
  for (int run = 0; run < 2; ++run) {
    std::unique_ptr<Driver> driver;
    if (run == 0) {
      driver = std::make_unique<TracingDriver>(MakeDriver(Kind::kWebUsb, {meter}, false),
                                               std::make_unique<Forward>(lines));
    } else {
      std::string error;
      ASSERT_TRUE(sim::ParseTrace(lines.text, calls.get(), &error)) << error;
      driver = std::make_unique<sim::ReplayDriver>(calls, false, [](const std::string&) {});
    }
    UsbDevice device(*driver);
    TransferState state;
    test::RecordingUi ui(&state);
    TransferEngine engine(state, images[run], ui);
    engine.StartTransfer(&device);
    for (int tick = 0; state.reading != 0 && tick < 100; ++tick) engine.TransferTick(&device);
    outcomes[run] = ui.MessageNumbers();
  }
  EXPECT_EQ(0u, lines.text.find("TRACE driver=webusb\n"));
  EXPECT_EQ(std::vector<int>{kMsgHandshake}, outcomes[0]);
  EXPECT_EQ(outcomes[0], outcomes[1]);
  EXPECT_TRUE(images[0] == images[1]);
  std::string error;
  EXPECT_TRUE(sim::ParseTrace("TRACE driver=webserial\n", calls.get(), &error)) << error;
  EXPECT_FALSE(sim::ParseTrace("TRACE driver=webusb2\n", calls.get(), &error));
  EXPECT_EQ("line 1: unknown driver 'webusb2'", error);
}

}  // namespace
}  // namespace sq71
