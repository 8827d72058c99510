// The log download against the simulated meter, tick by tick, with a window
// that records what the engine asks of it.
#include "protocol/transfer_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/protocol/recording_ui.h"
#include "tests/unit/protocol/sim_bus.h"
#include "ui/message_catalogue.h"

namespace sq71 {
namespace {

using sim::FaultAction;
using sim::FaultWhen;
using test::AttachMeters;
using test::LogWithEntries;
using test::MakeFault;
using test::MeterWithLog;
using test::ReadRequestLine;
using test::TestBus;
using test::TraceStarting;

bool RecordEquals(const LogImage& a, const LogImage& b, int n) {
  return std::memcmp(RecordAt(a, n), RecordAt(b, n), kRecordSize) == 0;
}

bool RecordIsZero(const LogImage& image, int n) {
  const uint8_t* r = RecordAt(image, n);
  return std::all_of(r, r + kRecordSize, [](uint8_t b) { return b == 0; });
}

// A whole end-marker record, as an erased meter holds.
bool RecordIsEndMarker(const LogImage& image, int n) {
  const uint8_t* r = RecordAt(image, n);
  return std::all_of(r, r + kRecordSize, [](uint8_t b) { return b == kEndMarker; });
}

class TransferEngineTest : public ::testing::Test {
 protected:
  TransferEngineTest() : ui_(&state_), engine_(state_, image_, ui_) {}

  void Attach(const LogImage& log, std::vector<sim::Fault> faults = {}) {
    sim::MeterConfig meter = MeterWithLog(log);
    meter.faults = std::move(faults);
    AttachMeters({meter});
  }

  // The timer as the window delivers it: ticks while it runs. Bounded, so a
  // download that never stops fails the test instead of hanging it.
  int RunTicks(int limit = 3000) {
    int ticks = 0;
    while (ui_.timer_running && ticks < limit) {
      engine_.TransferTick(&device_);
      ++ticks;
    }
    return ticks;
  }

  void Download() {
    engine_.StartTransfer(&device_);
    RunTicks();
  }

  int Exchanges() const { return TestBus().MeterAt(0)->exchanges(); }

  // The engine stopped for good: timer off, reading flag down, device closed.
  void ExpectStopped() {
    EXPECT_FALSE(ui_.timer_running);
    EXPECT_EQ(0, state_.reading);
    EXPECT_EQ(0, state_.busy);
    EXPECT_FALSE(device_.is_open());
  }

  TransferState state_;
  LogImage image_{};
  test::RecordingUi ui_;
  UsbDevice device_{TestBus()};
  TransferEngine engine_;
};

// --- Starting -------------------------------------------------------------

TEST_F(TransferEngineTest, StartOpensDeviceZeroAt115200AndArmsTheTimer) {
  Attach(LogWithEntries(3));
  image_ = LogWithEntries(9);
  ui_.view_enabled = true;
  engine_.StartTransfer(&device_);

  EXPECT_TRUE(device_.is_open());
  EXPECT_EQ(0, device_.device_index());
  EXPECT_EQ(115200u, device_.baud_rate());
  EXPECT_EQ(FT_BITS_8, device_.word_length());
  EXPECT_EQ(FT_STOP_BITS_1, device_.stop_bits());
  EXPECT_EQ(FT_PARITY_NONE, device_.parity());
  EXPECT_EQ(1000u, device_.read_timeout());
  EXPECT_EQ(1000u, device_.write_timeout());

  EXPECT_EQ(1, state_.reading);
  EXPECT_EQ(0, state_.busy);
  EXPECT_EQ(0, state_.next_record);
  EXPECT_EQ(1024, state_.total);
  EXPECT_EQ(0, state_.progress);
  EXPECT_TRUE(ui_.timer_running);
  EXPECT_FALSE(ui_.view_enabled);
  EXPECT_EQ(LogImage{}, image_) << "the image is cleared once the download goes ahead";
  EXPECT_TRUE(ui_.boxes.empty());
  EXPECT_EQ(0, Exchanges()) << "starting sends nothing; the ticks do";

  // The old timer is stopped and the bar erased before anything else, and
  // the new timer is the last thing armed.
  ASSERT_GE(ui_.events.size(), 2u);
  EXPECT_EQ("timer kill", ui_.events[0]);
  EXPECT_EQ("invalidate erase", ui_.events[1]);
  EXPECT_EQ("timer start", ui_.events.back());
}

TEST_F(TransferEngineTest, ReadThatCannotOpenTheDeviceKeepsTheEarlierLogAndView) {
  // Refused by the device, no device at all, and a baud rate the driver
  // refuses after a good open.
  for (const char* refused : {"open", "", "baud_rate"}) {
    SCOPED_TRACE(refused);
    sim::MeterConfig meter;
    meter.refuse_open = refused == std::string("open");
    if (refused == std::string("baud_rate")) meter.refused_setting = refused;
    AttachMeters(*refused ? std::vector<sim::MeterConfig>{meter} : std::vector<sim::MeterConfig>{});
    const LogImage earlier = LogWithEntries(5);
    image_ = earlier;
    ui_ = test::RecordingUi(&state_);
    ui_.view_enabled = true;

    engine_.StartTransfer(&device_);
    EXPECT_EQ(std::vector<int>{kMsgUsbPortError}, ui_.MessageNumbers());
    EXPECT_EQ(MessageStyle::kError, ui_.boxes[0].style);
    EXPECT_EQ(earlier, image_);
    EXPECT_TRUE(ui_.view_enabled);
    EXPECT_EQ(0, ui_.Count("view off"));
    ExpectStopped();
    EXPECT_TRUE(TraceStarting("WRITE").empty());
    if (refused == std::string("baud_rate")) {
      EXPECT_EQ(0u, TraceStarting("FT_").back().find("FT_Close")) << "left open";
      EXPECT_EQ(FT_INVALID_BAUD_RATE, device_.last_status());
    }
  }
}

TEST_F(TransferEngineTest, ReadOfAMeterWithAnotherIdentityKeepsTheEarlierLogAndClosesIt) {
  sim::MeterConfig meter;
  meter.eeprom.description = "SQ-71 meter";  // differs in case only
  AttachMeters({meter});
  const LogImage earlier = LogWithEntries(5);
  image_ = earlier;
  ui_.view_enabled = true;

  engine_.StartTransfer(&device_);
  EXPECT_EQ(std::vector<int>{kMsgDeviceRecycling}, ui_.MessageNumbers());
  EXPECT_EQ(MessageStyle::kError, ui_.boxes[0].style);
  EXPECT_EQ(earlier, image_);
  EXPECT_TRUE(ui_.view_enabled);
  ExpectStopped();
  // The device was closed before the box came up.
  EXPECT_FALSE(TraceStarting("FT_Close").empty());
  EXPECT_TRUE(TraceStarting("WRITE").empty());
}

TEST_F(TransferEngineTest, ReadWithoutADeviceObjectSaysSoAndKeepsTheLog) {
  Attach(LogWithEntries(3));
  const LogImage earlier = LogWithEntries(5);
  image_ = earlier;
  engine_.StartTransfer(nullptr);
  EXPECT_EQ(std::vector<int>{kMsgNoMemory}, ui_.MessageNumbers());
  EXPECT_EQ(earlier, image_);
  EXPECT_FALSE(ui_.timer_running);
  EXPECT_EQ(0, state_.reading);
  EXPECT_TRUE(TestBus().TraceLines().empty()) << "the driver is not called";
}

// --- Whole downloads ---------------------------------------------------------

TEST_F(TransferEngineTest, EmptyMeterLogTakesOneExchangeAndCompletesWithAFullBar) {
  Attach(sim::MakeEmptyLog());
  Download();

  EXPECT_EQ(1, Exchanges());
  EXPECT_EQ(std::vector<std::string>{ReadRequestLine(0)}, TraceStarting("WRITE"));
  EXPECT_EQ(sim::MakeEmptyLog(), image_) << "record 0, the end marker, is stored";
  ASSERT_EQ(std::vector<int>{kMsgTransferComplete}, ui_.MessageNumbers());
  const test::RecordingUi::Box& box = ui_.boxes[0];
  EXPECT_EQ(MessageStyle::kInformation, box.style);
  EXPECT_EQ(1, box.state.reading) << "the bar is still drawn while the box is up";
  EXPECT_EQ(1024, box.state.progress);
  EXPECT_EQ(1024, box.state.total);
  EXPECT_TRUE(box.erased_before) << "the full bar is repainted before the box";
  EXPECT_FALSE(ui_.view_enabled);
  EXPECT_EQ(0, ui_.Count("view on"));
  ExpectStopped();
}

class EndMarkerTest : public TransferEngineTest, public ::testing::WithParamInterface<int> {};

TEST_P(EndMarkerTest, StoresRecordsUpToTheMarkerAndMakesThatManyPlusOneExchanges) {
  const int k = GetParam();
  const LogImage log = LogWithEntries(k);
  Attach(log);
  Download();

  EXPECT_EQ(k + 1, Exchanges());
  const std::vector<std::string> writes = TraceStarting("WRITE");
  ASSERT_EQ(static_cast<size_t>(k + 1), writes.size());
  for (int n = 0; n <= k; ++n) EXPECT_EQ(ReadRequestLine(n), writes[n]);
  EXPECT_EQ(log, image_) << "records 0 to k stored, k with its marker, zeros after";
  EXPECT_EQ(kEndMarker, RecordAt(image_, k)[rec::kStatus]);
  EXPECT_EQ(std::vector<int>{kMsgTransferComplete}, ui_.MessageNumbers());
  EXPECT_TRUE(ui_.view_enabled);
  EXPECT_EQ(2, ui_.Count("menu bar")) << "redrawn when greyed at start and once when enabled";
  ExpectStopped();
}

INSTANTIATE_TEST_SUITE_P(Positions, EndMarkerTest, ::testing::Values(1, 2, 36, 512, 1023));

TEST_F(TransferEngineTest, FullLogTakes1024ExchangesAndNeverAsksForRecord1024) {
  const LogImage log = LogWithEntries(kRecordCount);
  Attach(log);
  Download();

  EXPECT_EQ(1024, Exchanges());
  const std::vector<std::string> writes = TraceStarting("WRITE");
  ASSERT_EQ(1024u, writes.size());
  EXPECT_EQ("WRITE 02 00 04 4C 52 00 00 E6", writes.front());
  EXPECT_EQ("WRITE 02 00 04 4C 52 03 FF 1A", writes.back());
  EXPECT_EQ(log, image_);
  ASSERT_EQ(std::vector<int>{kMsgTransferComplete}, ui_.MessageNumbers());
  EXPECT_EQ(1024, ui_.boxes[0].state.progress);
  EXPECT_TRUE(ui_.view_enabled);
  ExpectStopped();
}

TEST_F(TransferEngineTest, ProgressIsTheRecordLastAskedForAndEachTickRepaintsWithoutErase) {
  Attach(LogWithEntries(10));
  engine_.StartTransfer(&device_);
  for (int n = 0; n < 5; ++n) {
    ui_.events.clear();
    engine_.TransferTick(&device_);
    EXPECT_EQ(n, state_.progress);
    EXPECT_EQ(n + 1, state_.next_record);
    EXPECT_EQ(1, ui_.Count("invalidate"));
    EXPECT_EQ(0, ui_.Count("invalidate erase"));
    EXPECT_TRUE(device_.is_open());
  }
  EXPECT_TRUE(ui_.boxes.empty());
}

// --- Errors -------------------------------------------------------------------

struct ErrorCase {
  const char* name;
  sim::FaultAction action;
  int value;
  int message;
};

class ErrorTest : public TransferEngineTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ErrorTest, OnRecordThreeStopsForGoodKeepingExactlyWhatArrived) {
  const ErrorCase& c = GetParam();
  const LogImage log = LogWithEntries(20);
  Attach(log, {MakeFault(FaultWhen::kRecord, 3, c.action, c.value)});
  Download();

  EXPECT_EQ(4, Exchanges()) << "no retry, nothing after the failed record";
  ASSERT_EQ(std::vector<int>{c.message}, ui_.MessageNumbers());
  EXPECT_EQ(MessageStyle::kError, ui_.boxes[0].style);
  EXPECT_EQ(3, ui_.boxes[0].state.progress);
  for (int n = 0; n < 3; ++n) EXPECT_TRUE(RecordEquals(log, image_, n)) << "record " << n;
  // The log ends where the records stopped coming, so the zeros after them
  // are not shown, saved or exported as entries.
  EXPECT_TRUE(RecordIsEndMarker(image_, 3));
  EXPECT_EQ(3, EntryCount(image_, nullptr));
  for (int n = 4; n < kRecordCount; ++n) {
    ASSERT_TRUE(RecordIsZero(image_, n)) << "record " << n << " written";
  }
  EXPECT_TRUE(ui_.view_enabled) << "a partial log stays viewable";
  EXPECT_EQ(1, ui_.Count("view off")) << "greyed only when the download started";
  ExpectStopped();

  // Later timer messages (already queued) change nothing.
  engine_.TransferTick(&device_);
  EXPECT_EQ(4, Exchanges());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ErrorTest,
    ::testing::Values(
        ErrorCase{"NoReply", FaultAction::kNoReply, -1, kMsgHandshake},
        ErrorCase{"Nak", FaultAction::kNak, -1, kMsgHandshake},
        ErrorCase{"ShortReply", FaultAction::kShortReply, 71, kMsgHandshake},
        ErrorCase{"BadChecksum", FaultAction::kBadChecksum, -1, kMsgChecksumError},
        ErrorCase{"Record1024", FaultAction::kRecordNumber, 1024, kMsgInvalidLogEntry},
        ErrorCase{"Record65535", FaultAction::kRecordNumber, 65535, kMsgInvalidLogEntry}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return info.param.name; });

TEST_F(TransferEngineTest, NoMeterAnswerOnTheFirstRecordLeavesAnEmptyLogAndViewGrey) {
  Attach(LogWithEntries(20), {MakeFault(FaultWhen::kRecord, 0, FaultAction::kNoReply)});
  image_ = LogWithEntries(4);
  ui_.view_enabled = true;
  Download();

  EXPECT_EQ(std::vector<int>{kMsgHandshake}, ui_.MessageNumbers());
  EXPECT_EQ(sim::MakeEmptyLog(), image_) << "no entries, not 1024 zero ones";
  EXPECT_FALSE(ui_.view_enabled);
  ExpectStopped();
}

TEST_F(TransferEngineTest, ErrorOnTheLastRecordShowsOnlyItsMessage) {
  const LogImage log = LogWithEntries(kRecordCount);
  Attach(log, {MakeFault(FaultWhen::kRecord, 1023, FaultAction::kBadChecksum)});
  Download();

  EXPECT_EQ(1024, Exchanges());
  EXPECT_EQ(std::vector<int>{kMsgChecksumError}, ui_.MessageNumbers());
  EXPECT_EQ(1023, state_.progress) << "the bar never reaches full";
  for (int n = 0; n < 1023; ++n) ASSERT_TRUE(RecordEquals(log, image_, n)) << "record " << n;
  EXPECT_TRUE(RecordIsEndMarker(image_, 1023));
  EXPECT_EQ(1023, EntryCount(image_, nullptr));
  ExpectStopped();
}

TEST_F(TransferEngineTest, ReplyNamingAnotherRecordIsStoredWhereItSays) {
  const LogImage log = LogWithEntries(10);
  Attach(log, {MakeFault(FaultWhen::kRecord, 3, FaultAction::kRecordNumber, 5)});
  engine_.StartTransfer(&device_);
  for (int tick = 0; tick < 4; ++tick) engine_.TransferTick(&device_);

  EXPECT_TRUE(RecordIsZero(image_, 3)) << "the record asked for stays empty";
  EXPECT_TRUE(RecordEquals(log, image_, 5)) << "the record named is stored";
  EXPECT_TRUE(RecordIsZero(image_, 4));
  EXPECT_EQ(4, state_.next_record) << "the counter goes on from the request, not the reply";
  EXPECT_TRUE(ui_.boxes.empty());

  engine_.TransferTick(&device_);
  EXPECT_EQ(ReadRequestLine(4), TraceStarting("WRITE").back());
  RunTicks();
  EXPECT_EQ(std::vector<int>{kMsgTransferComplete}, ui_.MessageNumbers());
  EXPECT_TRUE(RecordIsZero(image_, 3));
  for (int n = 4; n <= 10; ++n) EXPECT_TRUE(RecordEquals(log, image_, n)) << "record " << n;
}

TEST_F(TransferEngineTest, ReplyNamingRecord1024WritesNothingButTheLogsEnd) {
  Attach(LogWithEntries(10), {MakeFault(FaultWhen::kRecord, 2, FaultAction::kRecordNumber, 1024)});
  engine_.StartTransfer(&device_);
  engine_.TransferTick(&device_);
  engine_.TransferTick(&device_);
  LogImage expected = image_;
  sim::WriteEndMarker(RecordAt(expected, 2));
  engine_.TransferTick(&device_);

  EXPECT_EQ(std::vector<int>{kMsgInvalidLogEntry}, ui_.MessageNumbers());
  EXPECT_EQ(expected, image_);
  ExpectStopped();
}

// --- Re-entry and restarts ---------------------------------------------------

TEST_F(TransferEngineTest, TicksFromInsideATicksBoxAreTurnedAway) {
  // The box's nested loop delivers timer messages: each one must return at
  // once, sending nothing and touching nothing.
  for (bool failing : {false, true}) {
    SCOPED_TRACE(failing ? "error box" : "completion box");
    Attach(LogWithEntries(4), failing ? std::vector<sim::Fault>{MakeFault(
                                            FaultWhen::kRecord, 2, FaultAction::kBadChecksum)}
                                      : std::vector<sim::Fault>{});
    ui_ = test::RecordingUi(&state_);
    int nested_exchanges = -1;
    size_t events_before = 0;
    size_t events_after = 0;
    int depth = 0;
    ui_.while_box_up = [&] {
      // A box shown by a nested tick would nest again: look only once.
      if (depth++ > 0) return;
      const int before = Exchanges();
      events_before = ui_.events.size();
      for (int i = 0; i < 3; ++i) engine_.TransferTick(&device_);
      events_after = ui_.events.size();
      nested_exchanges = Exchanges() - before;
    };
    Download();

    EXPECT_EQ(0, nested_exchanges);
    EXPECT_EQ(events_before, events_after);
    EXPECT_EQ(1u, ui_.boxes.size());
    EXPECT_EQ(0, state_.busy);
    ExpectStopped();
  }
}

// --- Pace -------------------------------------------------------------------

TEST_F(TransferEngineTest, LatencyTimerGoesTo2MsRightAfterConfigureWhenTheDriverHasIt) {
  Attach(LogWithEntries(2));
  engine_.StartTransfer(&device_);
  const std::vector<std::string> lines = TestBus().TraceLines();
  const auto flow = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.rfind("FT_SetFlowControl", 0) == 0;
  });
  ASSERT_NE(lines.end(), flow);
  ASSERT_NE(lines.end(), flow + 1);
  EXPECT_EQ(0u, flow[1].find("FT_SetLatencyTimer handle="));
  EXPECT_NE(std::string::npos, flow[1].find(" 2 -> 0"));

  // A driver without the call downloads as before.
  struct WithoutLatencyTimer : sim::SimDriver {
    FT_STATUS SetLatencyTimer(FT_HANDLE, uint8_t) override { return FT_NOT_SUPPORTED; }
  } old_driver;
  UsbDevice device(old_driver);
  const LogImage log = LogWithEntries(5);
  sim::Scenario scenario;
  scenario.timing = sim::Timing::kInstant;
  scenario.devices = {MeterWithLog(log)};
  old_driver.Configure(scenario);
  engine_.StartTransfer(&device);
  for (int ticks = 0; ui_.timer_running && ticks < 100; ++ticks) engine_.TransferTick(&device);
  EXPECT_EQ(std::vector<int>{kMsgTransferComplete}, ui_.MessageNumbers());
  EXPECT_EQ(log, image_);
}

TEST_F(TransferEngineTest, TickGoesOnWhileNoInputWaitsWithinItsSlice) {
  const LogImage log = LogWithEntries(10);
  Attach(log);
  engine_.StartTransfer(&device_);
  ui_.input_waiting = false;
  engine_.set_time_slice(std::chrono::milliseconds(0));
  engine_.TransferTick(&device_);
  EXPECT_EQ(1, Exchanges()) << "a used-up slice ends the tick";

  engine_.set_time_slice(std::chrono::hours(1));
  ui_.input_waiting = true;
  engine_.TransferTick(&device_);
  EXPECT_EQ(2, Exchanges()) << "waiting input ends the tick";

  ui_.input_waiting = false;
  engine_.TransferTick(&device_);
  EXPECT_EQ(11, Exchanges()) << "records 2 to 9 and the end marker in one tick";
  EXPECT_EQ(std::vector<int>{kMsgTransferComplete}, ui_.MessageNumbers());
  EXPECT_EQ(log, image_);
  ExpectStopped();
}

TEST_F(TransferEngineTest, ReadAgainMidTransferRestartsAtRecordZeroWithAClearedImage) {
  Attach(LogWithEntries(50));
  engine_.StartTransfer(&device_);
  for (int tick = 0; tick < 10; ++tick) engine_.TransferTick(&device_);
  ASSERT_FALSE(RecordIsZero(image_, 9));
  TestBus().ClearTrace();

  engine_.StartTransfer(&device_);
  EXPECT_EQ(LogImage{}, image_);
  EXPECT_EQ(0, state_.next_record);
  EXPECT_EQ(0, state_.progress);
  EXPECT_EQ(1, state_.reading);
  EXPECT_TRUE(ui_.timer_running);
  // The device held by the download was closed before being opened again
  // (the driver refuses a second handle on one device).
  const std::vector<std::string> lines = TestBus().TraceLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(0u, lines[0].find("FT_Close"));

  engine_.TransferTick(&device_);
  EXPECT_EQ(ReadRequestLine(0), TraceStarting("WRITE").back());
  RunTicks();
  EXPECT_EQ(LogWithEntries(50), image_);
  EXPECT_EQ(std::vector<int>{kMsgTransferComplete}, ui_.MessageNumbers());
}

TEST_F(TransferEngineTest, StopTimerEndsTheTicksButLeavesTheDeviceAlone) {
  Attach(LogWithEntries(50));
  engine_.StartTransfer(&device_);
  engine_.TransferTick(&device_);
  engine_.StopTimer();

  EXPECT_FALSE(ui_.timer_running);
  EXPECT_EQ(0, state_.reading);
  EXPECT_TRUE(device_.is_open());
  engine_.TransferTick(&device_);
  EXPECT_EQ(1, Exchanges());
}

TEST_F(TransferEngineTest, StopForLoadEndsARunningDownloadAndClosesTheDevice) {
  Attach(LogWithEntries(50));
  engine_.StartTransfer(&device_);
  for (int tick = 0; tick < 3; ++tick) engine_.TransferTick(&device_);
  engine_.StopForLoad(&device_);
  ExpectStopped();
  EXPECT_EQ("invalidate erase", ui_.events.back()) << "the bar is blanked";

  // What a load then puts into the image is not written over.
  const LogImage loaded = LogWithEntries(7);
  image_ = loaded;
  engine_.TransferTick(&device_);
  EXPECT_EQ(loaded, image_);
  EXPECT_EQ(3, Exchanges());
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(TransferEngineTest, StopEarlyKeepsTheRecordsThatCameAndEndsTheLogThere) {
  const LogImage log = LogWithEntries(50);
  Attach(log);
  engine_.StartTransfer(&device_);
  for (int tick = 0; tick < 4; ++tick) engine_.TransferTick(&device_);
  engine_.StopEarly(&device_);
  ExpectStopped();
  EXPECT_EQ("invalidate erase", ui_.events.back()) << "the bar is blanked";
  EXPECT_TRUE(ui_.boxes.empty());
  for (int n = 0; n < 4; ++n) EXPECT_TRUE(RecordEquals(log, image_, n)) << "record " << n;
  EXPECT_TRUE(RecordIsEndMarker(image_, 4));
  EXPECT_TRUE(ui_.view_enabled);

  // Later ticks fetch nothing, and a second stop finds nothing to do.
  const LogImage stopped = image_;
  engine_.TransferTick(&device_);
  ui_.events.clear();
  engine_.StopEarly(&device_);
  EXPECT_EQ(4, Exchanges());
  EXPECT_EQ(stopped, image_);
  EXPECT_TRUE(ui_.events.empty());
}

TEST_F(TransferEngineTest, StopForLoadWithNoDownloadDoesNothing) {
  Attach(LogWithEntries(5));
  device_.Configure(0, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE);
  engine_.StopForLoad(&device_);
  EXPECT_TRUE(ui_.events.empty());
  EXPECT_TRUE(device_.is_open());
  engine_.StopForLoad(nullptr);
  EXPECT_TRUE(ui_.events.empty());
}

TEST_F(TransferEngineTest, ReadAfterADeviceLeftOpenClosesItFirst) {
  // Erase Log leaves the device open; the next Read must not fail for that.
  Attach(LogWithEntries(2));
  ASSERT_EQ(FT_OK, device_.Configure(0, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE));
  Download();
  EXPECT_EQ(std::vector<int>{kMsgTransferComplete}, ui_.MessageNumbers());
  EXPECT_EQ(LogWithEntries(2), image_);
}

}  // namespace
}  // namespace sq71
