// Erase Log against the simulated meter: the question first, then one erase
// request and the meter's one-byte answer.
#include "protocol/log_erase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "protocol/device_listing.h"
#include "tests/unit/protocol/recording_ui.h"
#include "tests/unit/protocol/sim_bus.h"
#include "ui/message_catalogue.h"

namespace sq71 {
namespace {

using sim::FaultAction;
using sim::FaultWhen;
using test::AttachMeters;
using test::MakeFault;
using test::TestBus;
using test::TraceStarting;

// The erase request, worked out by hand: "LE" is 4C 45, and
// 00 ^ 02 ^ 4C ^ 45 = 0B, whose two's complement is F5.
const char kEraseWrite[] = "WRITE 02 00 02 4C 45 F5";

sim::MeterConfig MeterWith(std::vector<sim::Fault> faults) {
  sim::MeterConfig meter;
  meter.faults = std::move(faults);
  return meter;
}

class LogEraseTest : public ::testing::Test {
 protected:
  int Erases() const { return TestBus().MeterAt(0)->erases(); }

  test::RecordingUi ui_;
  UsbDevice device_{TestBus()};
};

TEST_F(LogEraseTest, NoOrCancelSendsNothingAndOpensNothing) {
  for (int answer : {kAnswerNo, kAnswerCancel}) {
    SCOPED_TRACE("answer " + std::to_string(answer));
    AttachMeters({sim::MeterConfig()});
    ui_ = test::RecordingUi();
    ui_.answer = answer;
    EraseLogCommand(&device_, ui_);

    EXPECT_EQ(std::vector<int>{kMsgConfirmErase}, ui_.questions);
    EXPECT_TRUE(ui_.boxes.empty());
    EXPECT_TRUE(TestBus().TraceLines().empty()) << "the driver was called";
    EXPECT_FALSE(device_.is_open());
    EXPECT_EQ(0, Erases());
  }
}

TEST_F(LogEraseTest, YesSendsTheEraseRequestAndReportsTheAck) {
  AttachMeters({sim::MeterConfig()});
  ui_.answer = kAnswerYes;
  EraseLogCommand(&device_, ui_);

  EXPECT_EQ(std::vector<int>{kMsgConfirmErase}, ui_.questions);
  ASSERT_EQ(std::vector<int>{kMsgLogErased}, ui_.MessageNumbers());
  EXPECT_EQ(MessageStyle::kInformation, ui_.boxes[0].style);
  EXPECT_EQ(std::vector<std::string>{kEraseWrite}, TraceStarting("WRITE"));
  EXPECT_EQ(1, Erases());
  EXPECT_TRUE(TestBus().MeterAt(0)->log()[0] == kEndMarker) << "the meter's log is empty now";
}

TEST_F(LogEraseTest, ExchangeRunsOnDeviceZeroWithSevenSecondTimeoutsAndThenCloses) {
  AttachMeters({sim::MeterConfig()});
  EraseMeterLog(&device_, ui_);

  EXPECT_EQ(std::vector<int>{kMsgLogErased}, ui_.MessageNumbers());
  EXPECT_FALSE(device_.is_open());
  const std::vector<std::string> opens = TraceStarting("FT_Open");
  ASSERT_EQ(1u, opens.size());
  EXPECT_EQ(0u, opens[0].find("FT_Open index=0 "));
  EXPECT_EQ(115200u, device_.baud_rate());
  EXPECT_EQ(7000u, device_.read_timeout());
  EXPECT_EQ(7000u, device_.write_timeout());
  // Only the receive side is purged before the request.
  const std::vector<std::string> purges = TraceStarting("FT_Purge");
  ASSERT_EQ(1u, purges.size());
  EXPECT_NE(std::string::npos, purges[0].find("mask=1"));
  // One byte is read for the answer.
  const std::vector<std::string> reads = TraceStarting("FT_Read");
  ASSERT_EQ(1u, reads.size());
  EXPECT_NE(std::string::npos, reads[0].find("wanted=1 "));
}

TEST_F(LogEraseTest, LatencyTimerIsSetRightAfterConfigure) {
  AttachMeters({sim::MeterConfig()});
  EraseMeterLog(&device_, ui_);
  const std::vector<std::string> lines = TestBus().TraceLines();
  const auto set = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.rfind("FT_SetLatencyTimer", 0) == 0;
  });
  ASSERT_NE(lines.end(), set);
  EXPECT_EQ(0u, set[-1].find("FT_SetFlowControl"));
  EXPECT_NE(std::string::npos, set->find(" 2 -> 0"));
}

TEST_F(LogEraseTest, NakOrSilenceIsNoHandshake) {
  for (FaultAction action : {FaultAction::kNak, FaultAction::kNoReply}) {
    SCOPED_TRACE(action == FaultAction::kNak ? "nak" : "silence");
    AttachMeters({MeterWith({MakeFault(FaultWhen::kErase, 0, action)})});
    ui_ = test::RecordingUi();
    EraseMeterLog(&device_, ui_);

    ASSERT_EQ(std::vector<int>{kMsgHandshake}, ui_.MessageNumbers());
    EXPECT_EQ(MessageStyle::kError, ui_.boxes[0].style);
    EXPECT_EQ(std::vector<std::string>{kEraseWrite}, TraceStarting("WRITE"));
    EXPECT_FALSE(device_.is_open()) << "closed after a failed exchange too";
    EXPECT_EQ(0, Erases());
  }
}

TEST_F(LogEraseTest, MeterWithAnotherIdentityGetsNoRequest) {
  sim::MeterConfig meter;
  meter.eeprom.description = "SQ-71 Meter ";  // a trailing blank
  AttachMeters({meter});
  EraseMeterLog(&device_, ui_);

  EXPECT_EQ(std::vector<int>{kMsgDeviceRecycling}, ui_.MessageNumbers());
  EXPECT_TRUE(TraceStarting("WRITE").empty());
  EXPECT_FALSE(device_.is_open());
  EXPECT_EQ(0, Erases());
}

TEST_F(LogEraseTest, DeviceThatCannotBeOpenedIsAPortError) {
  sim::MeterConfig meter;
  meter.refuse_open = true;
  AttachMeters({meter});
  EraseMeterLog(&device_, ui_);
  EXPECT_EQ(std::vector<int>{kMsgUsbPortError}, ui_.MessageNumbers());
  EXPECT_TRUE(TraceStarting("WRITE").empty());

  AttachMeters({});
  ui_ = test::RecordingUi();
  EraseMeterLog(&device_, ui_);
  EXPECT_EQ(std::vector<int>{kMsgUsbPortError}, ui_.MessageNumbers());
}

TEST_F(LogEraseTest, SecondEraseReopensTheDevice) {
  AttachMeters({sim::MeterConfig()});
  EraseMeterLog(&device_, ui_);
  EraseMeterLog(&device_, ui_);
  EXPECT_EQ((std::vector<int>{kMsgLogErased, kMsgLogErased}), ui_.MessageNumbers());
  EXPECT_EQ(2, Erases());
  EXPECT_EQ(2u, TraceStarting("FT_Close").size()) << "each erase closes what it opened";
}

TEST_F(LogEraseTest, DeviceListingFindsTheMeterAfterAnErase) {
  // Whatever the meter answered, the device is not left held open, or the
  // listing could not open it to ask its name.
  for (bool nak : {false, true}) {
    SCOPED_TRACE(nak ? "nak" : "ack");
    sim::MeterConfig meter =
        MeterWith(nak ? std::vector<sim::Fault>{MakeFault(FaultWhen::kErase, 0, FaultAction::kNak)}
                      : std::vector<sim::Fault>{});
    meter.name = "Roof";
    AttachMeters({meter});
    EraseMeterLog(&device_, ui_);
    std::vector<std::string> names;
    EXPECT_EQ(1, ListDevices(TestBus(), [&](int, const char* name) { names.push_back(name); }));
    EXPECT_EQ(std::vector<std::string>{"Roof"}, names);
  }
}

// --- Erase Log while a download runs ------------------------------------------

class EraseDuringDownloadTest : public LogEraseTest {
 protected:
  EraseDuringDownloadTest() : window_(&state_), engine_(state_, image_, window_) {
    AttachMeters({test::MeterWithLog(test::LogWithEntries(40))});
    engine_.StartTransfer(&device_);
    for (int tick = 0; tick < 6; ++tick) engine_.TransferTick(&device_);
  }

  TransferState state_;
  LogImage image_{};
  test::RecordingUi window_;
  TransferEngine engine_;
};

TEST_F(EraseDuringDownloadTest, YesStopsTheDownloadKeepingItsRecordsThenErases) {
  EraseLogCommand(&device_, ui_, &engine_);

  EXPECT_EQ(std::vector<int>{kMsgLogErased}, ui_.MessageNumbers());
  EXPECT_EQ(1, Erases());
  EXPECT_FALSE(window_.timer_running);
  EXPECT_EQ(0, state_.reading);
  EXPECT_FALSE(device_.is_open());
  EXPECT_TRUE(window_.view_enabled);
  const LogImage meter_log = test::LogWithEntries(40);
  EXPECT_TRUE(std::equal(meter_log.begin(), meter_log.begin() + 6 * kRecordSize, image_.begin()))
      << "the records fetched before the erase are kept";
  EXPECT_EQ(6, EntryCount(image_, nullptr));

  // A tick already queued reads nothing from the erased meter.
  const LogImage before = image_;
  const int exchanges = TestBus().MeterAt(0)->exchanges();
  engine_.TransferTick(&device_);
  EXPECT_EQ(before, image_);
  EXPECT_EQ(exchanges, TestBus().MeterAt(0)->exchanges());
}

TEST_F(EraseDuringDownloadTest, NoLeavesTheDownloadRunning) {
  ui_.answer = kAnswerNo;
  EraseLogCommand(&device_, ui_, &engine_);

  EXPECT_EQ(0, Erases());
  EXPECT_TRUE(window_.timer_running);
  EXPECT_TRUE(device_.is_open());
  engine_.TransferTick(&device_);
  EXPECT_EQ(6, state_.progress) << "the download goes on where it was";
}

TEST_F(LogEraseTest, WithoutADeviceObjectSaysSo) {
  AttachMeters({sim::MeterConfig()});
  EraseMeterLog(nullptr, ui_);
  EXPECT_EQ(std::vector<int>{kMsgNoMemory}, ui_.MessageNumbers());
  EXPECT_TRUE(TestBus().TraceLines().empty());
}

}  // namespace
}  // namespace sq71

namespace sq71 {
namespace {

// A terminal's user who presses Ctrl-C once the erase has asked `after`
// times whether to stop.
class StoppingUi : public test::RecordingUi {
 public:
  explicit StoppingUi(int after) : after_(after) {}
  bool StopWanted() override { return ++asked_ > after_; }

 private:
  int after_;
  int asked_ = 0;
};

// The request is the point of no return: a stop before it (before the open,
// or after the open and purge) sends nothing and closes the device; none
// lets the erase through.
TEST(EraseStopTest, AStopBeforeTheRequestSendsNothing) {
  for (int after : {0, 1, 2}) {
    SCOPED_TRACE("stop after " + std::to_string(after) + " queries");
    AttachMeters({sim::MeterConfig()});
    StoppingUi ui(after);
    UsbDevice device(TestBus());
    const EraseOutcome outcome = EraseMeterLog(&device, ui);
    EXPECT_EQ(after < 2 ? EraseOutcome::kStopped : EraseOutcome::kSent, outcome);
    EXPECT_EQ(after < 2 ? 0 : 1, TestBus().MeterAt(0)->erases());
    EXPECT_EQ(after < 2 ? 0u : 1u, TraceStarting("WRITE").size());
    EXPECT_FALSE(device.is_open());
  }
}

}  // namespace
}  // namespace sq71
