// The simulated driver through the same function table and UsbDevice the
// program uses.
#include "sim/sim_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "protocol/frame.h"
#include "sim/sample_log.h"
#include "usb/usb_device.h"

namespace sq71::sim {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool HasLine(SimDriver& bus, const std::string& line) {
  const std::vector<std::string> lines = bus.TraceLines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

Scenario Bus(Timing timing, std::vector<MeterConfig> devices) {
  Scenario s;
  s.timing = timing;
  s.devices = std::move(devices);
  return s;
}

MeterConfig Meter(std::vector<Fault> faults = {}) {
  MeterConfig config;
  config.faults = std::move(faults);
  return config;
}

// One read-record exchange as a transfer tick makes it.
struct Exchange {
  FT_STATUS status = FT_OK;
  uint32_t count = 0;
  std::array<uint8_t, kReadReplySize> reply{};
  ReadReplyVerdict verdict = ReadReplyVerdict::kNoHandshake;
  int number = -1;
};

Exchange ReadRecord(UsbDevice& device, int record) {
  Exchange x;
  uint8_t request[kReadRequestSize];
  BuildReadRequest(record, request);
  device.PurgeReceive();
  device.PurgeTransmit();
  device.Write(request, kReadRequestSize);
  x.status = device.Read(x.reply.data(), kReadReplySize);
  x.count = device.bytes_read();
  x.verdict = TestReadReply(x.status, x.count, x.reply.data(), &x.number);
  return x;
}

class SimDriverTest : public ::testing::Test {
 protected:
  // Opens device 0 as every user of the link does.
  void Connect(uint32_t read_ms = 1000) {
    ASSERT_EQ(FT_OK, device_.Configure(0, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE));
    device_.CheckEepromIdentity();
    ASSERT_FALSE(device_.identity_changed());
    device_.SetTimeouts(read_ms, 1000);
  }
  void TearDown() override { device_.Close(); }

  SimDriver bus_;
  UsbDevice device_{bus_};
};

TEST_F(SimDriverTest, ScriptedSessionIdentifyReadEraseReadAgain) {
  bus_.Configure(Bus(Timing::kInstant, {Meter()}));
  Connect(200);

  uint8_t identify[kIdentifyRequestSize];
  BuildIdentifyRequest(identify);
  std::array<uint8_t, kIdentifyReplyMax> id{};
  device_.PurgeReceive();
  device_.PurgeTransmit();
  device_.Write(identify, kIdentifyRequestSize);
  device_.Read(id.data(), kIdentifyReplyMax);
  EXPECT_EQ(16u, device_.bytes_read());  // fewer than asked: the read timed out
  std::string name;
  ASSERT_TRUE(TestIdentifyReply(device_.last_status(), device_.bytes_read(), id.data(), &name));
  EXPECT_EQ("SQ-71 Meter", name);

  device_.SetTimeouts(1000, 1000);
  LogImage image{};
  int exchanges = 0;
  for (int r = 0; r < kRecordCount; ++r) {
    Exchange x = ReadRecord(device_, r);
    ++exchanges;
    ASSERT_EQ(ReadReplyVerdict::kGood, x.verdict) << r;
    ASSERT_EQ(r, x.number);
    std::memcpy(RecordAt(image, x.number), x.reply.data() + 7, kRecordSize);
    if (x.reply[7] == kEndMarker) break;
  }
  EXPECT_EQ(kSampleEntryCount + 1, exchanges);
  EXPECT_EQ(MakeSampleLog(), image);

  uint8_t erase[kEraseRequestSize];
  BuildEraseRequest(erase);
  uint8_t ack = 0;
  device_.PurgeReceive();
  device_.SetTimeouts(7000, 7000);
  device_.Write(erase, kEraseRequestSize);
  device_.Read(&ack, 1);
  EXPECT_TRUE(TestEraseReply(device_.last_status(), device_.bytes_read(), ack));
  EXPECT_TRUE(HasLine(bus_, "WRITE 02 00 02 4C 45 F5"));
  EXPECT_TRUE(HasLine(bus_, "METER 0 LE: reply 1 bytes"));
  EXPECT_TRUE(HasLine(bus_, "READ 1 06"));

  device_.SetTimeouts(1000, 1000);
  Exchange after = ReadRecord(device_, 0);
  ASSERT_EQ(ReadReplyVerdict::kGood, after.verdict);
  EXPECT_EQ(kEndMarker, after.reply[7]);
  EXPECT_EQ(1 + (kSampleEntryCount + 1) + 1 + 1, bus_.MeterAt(0)->exchanges());
}

TEST_F(SimDriverTest, TraceShowsCallsAndFrames) {
  bus_.Configure(Bus(Timing::kInstant, {Meter()}));
  Connect();
  bus_.ClearTrace();
  ReadRecord(device_, 5);
  const std::vector<std::string> lines = bus_.TraceLines();
  ASSERT_EQ(7u, lines.size());
  EXPECT_EQ("FT_Purge handle=" + std::to_string(reinterpret_cast<uintptr_t>(device_.handle())) +
                " mask=1 -> 0",
            lines[0]);
  EXPECT_EQ("WRITE 02 00 04 4C 52 00 05 E1", lines[3]);  // 0x1A ^ 0x05 = 0x1F
  EXPECT_EQ("METER 0 LR 5: reply 72 bytes", lines[4]);
  EXPECT_EQ(0u, lines[5].find("FT_Read handle="));
  EXPECT_NE(std::string::npos, lines[5].find(" wanted=72 -> 0 read=72"));
  EXPECT_EQ(0u, lines[6].find("READ 72 06 00 44 4C 52 00 05 "));
  EXPECT_EQ(7 + 72 * 3u, lines[6].size());  // "READ 72" and 72 " XX"
}

TEST_F(SimDriverTest, EachFaultProducesWhatItNames) {
  bus_.Configure(
      Bus(Timing::kInstant, {Meter({{FaultWhen::kRecord, 1, FaultAction::kNoReply, -1},
                                    {FaultWhen::kRecord, 2, FaultAction::kShortReply, -1},
                                    {FaultWhen::kRecord, 3, FaultAction::kNak, -1},
                                    {FaultWhen::kRecord, 4, FaultAction::kBadChecksum, -1},
                                    {FaultWhen::kRecord, 5, FaultAction::kRecordNumber, 9},
                                    {FaultWhen::kRecord, 6, FaultAction::kRecordNumber, 1024}})}));
  Connect();
  Exchange silent = ReadRecord(device_, 1);
  EXPECT_EQ(FT_OK, silent.status);
  EXPECT_EQ(0u, silent.count);
  EXPECT_EQ(ReadReplyVerdict::kNoHandshake, silent.verdict);
  Exchange short_reply = ReadRecord(device_, 2);
  EXPECT_EQ(71u, short_reply.count);
  EXPECT_EQ(ReadReplyVerdict::kNoHandshake, short_reply.verdict);
  Exchange nak = ReadRecord(device_, 3);
  EXPECT_EQ(72u, nak.count);
  EXPECT_EQ(kNak, nak.reply[0]);
  EXPECT_EQ(ReadReplyVerdict::kNoHandshake, nak.verdict);
  EXPECT_EQ(ReadReplyVerdict::kChecksumFailure, ReadRecord(device_, 4).verdict);
  Exchange other = ReadRecord(device_, 5);
  EXPECT_EQ(ReadReplyVerdict::kGood, other.verdict);
  EXPECT_EQ(9, other.number);
  EXPECT_EQ(ReadReplyVerdict::kInvalidRecord, ReadRecord(device_, 6).verdict);
  // Nothing left over to spoil the next exchange.
  Exchange next = ReadRecord(device_, 7);
  EXPECT_EQ(ReadReplyVerdict::kGood, next.verdict);
  EXPECT_EQ(7, next.number);
  EXPECT_TRUE(HasLine(bus_, "METER 0 LR 1: no reply [fault record 1 no_reply]"));
}

TEST_F(SimDriverTest, DelayInInstantModeWaitsOnlyAsAsked) {
  bus_.Configure(
      Bus(Timing::kInstant, {Meter({{FaultWhen::kRecord, 2, FaultAction::kDelay, 30},
                                    {FaultWhen::kRecord, 3, FaultAction::kDelay, 150}})}));
  Connect();
  auto start = Clock::now();
  Exchange late = ReadRecord(device_, 2);
  EXPECT_GE(MsSince(start), 30.0);
  EXPECT_EQ(ReadReplyVerdict::kGood, late.verdict);

  device_.SetTimeouts(50, 1000);
  start = Clock::now();
  Exchange too_late = ReadRecord(device_, 3);
  EXPECT_GE(MsSince(start), 50.0);
  EXPECT_EQ(0u, too_late.count);
  // The late reply still comes; a receive purge after it has come drops it.
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  Exchange next = ReadRecord(device_, 4);
  EXPECT_EQ(ReadReplyVerdict::kGood, next.verdict);
  EXPECT_EQ(4, next.number);
}

TEST_F(SimDriverTest, ReceivePurgeDropsAWaitingReply) {
  bus_.Configure(Bus(Timing::kInstant, {Meter()}));
  Connect();
  uint8_t request[kReadRequestSize];
  BuildReadRequest(0, request);
  device_.Write(request, kReadRequestSize);
  device_.PurgeReceive();
  uint8_t reply[kReadReplySize];
  EXPECT_EQ(FT_OK, device_.Read(reply, kReadReplySize));
  EXPECT_EQ(0u, device_.bytes_read());
}

TEST_F(SimDriverTest, UnconfiguredLineGetsNoReply) {
  bus_.Configure(Bus(Timing::kInstant, {Meter()}));
  ASSERT_EQ(FT_OK, device_.Open(0));  // still at the chip's 9600 baud
  device_.SetTimeouts(20, 20);
  EXPECT_EQ(0u, ReadRecord(device_, 0).count);
  EXPECT_TRUE(
      HasLine(bus_, "METER 0 line at 9600 baud, bits 8 stop 0 parity 0: bytes not understood"));
  device_.SetBaudRate(115200);
  device_.SetDataCharacteristics(FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_EVEN);
  EXPECT_EQ(0u, ReadRecord(device_, 0).count);
  device_.SetDataCharacteristics(FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE);
  EXPECT_EQ(72u, ReadRecord(device_, 0).count);
}

TEST_F(SimDriverTest, DeviceFaultsAndHandles) {
  MeterConfig refused = Meter();
  refused.refuse_open = true;
  MeterConfig no_eeprom = Meter();
  no_eeprom.eeprom_read_fails = true;
  bus_.Configure(Bus(Timing::kInstant, {refused, no_eeprom, Meter()}));

  uint32_t count = 99;
  EXPECT_EQ(FT_OK, bus_.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY));
  EXPECT_EQ(3u, count);
  EXPECT_NE(FT_OK, bus_.ListDevices(&count, nullptr, FT_LIST_ALL));

  EXPECT_EQ(FT_DEVICE_NOT_OPENED, device_.Configure(0, 115200, 8, 0, 0));
  EXPECT_FALSE(device_.is_open());
  EXPECT_EQ(FT_DEVICE_NOT_FOUND, device_.Configure(3, 115200, 8, 0, 0));

  ASSERT_EQ(FT_OK, device_.Configure(1, 115200, 8, 0, 0));
  EXPECT_EQ(FT_EEPROM_READ_FAILED, device_.CheckEepromIdentity());
  // One handle per device at a time.
  UsbDevice second(bus_);
  EXPECT_EQ(FT_DEVICE_NOT_OPENED, second.Open(1));
  const FT_HANDLE old = device_.handle();
  device_.Close();
  EXPECT_EQ(FT_OK, second.Open(1));
  EXPECT_NE(old, second.handle());  // a stale handle never comes back to life

  uint8_t buffer[8] = {};
  uint32_t n = 0;
  EXPECT_EQ(FT_INVALID_HANDLE, bus_.Read(old, buffer, 8, &n));
  EXPECT_EQ(FT_INVALID_HANDLE, bus_.Write(old, buffer, 8, &n));
  EXPECT_EQ(FT_INVALID_HANDLE, bus_.Close(old));
  EXPECT_EQ(FT_INVALID_HANDLE, bus_.Purge(nullptr, FT_PURGE_RX));
  EXPECT_EQ(FT_INVALID_HANDLE,
            bus_.SetTimeouts(reinterpret_cast<FT_HANDLE>(uintptr_t{12345}), 1, 1));
  FT_PROGRAM_DATA data{};
  EXPECT_EQ(FT_INVALID_HANDLE, bus_.EE_Read(old, &data));
  EXPECT_EQ(FT_OK, second.Close());
}

TEST_F(SimDriverTest, UnpluggedDeviceFailsEveryCallAndLeavesTheList) {
  MeterConfig second = Meter();
  second.name = "Second";
  bus_.Configure(
      Bus(Timing::kInstant, {Meter({{FaultWhen::kRecord, 3, FaultAction::kUnplug, -1}}), second}));
  Connect();
  EXPECT_EQ(ReadReplyVerdict::kGood, ReadRecord(device_, 2).verdict);
  Exchange gone = ReadRecord(device_, 3);
  EXPECT_EQ(FT_IO_ERROR, gone.status);
  EXPECT_EQ(ReadReplyVerdict::kNoHandshake, gone.verdict);
  EXPECT_EQ(FT_IO_ERROR, device_.PurgeReceive());
  FT_PROGRAM_DATA data{};
  data.Signature2 = 0xFFFFFFFF;
  EXPECT_EQ(FT_IO_ERROR, bus_.EE_Read(device_.handle(), &data));
  EXPECT_EQ(FT_IO_ERROR, device_.Close());

  uint32_t count = 0;
  bus_.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
  EXPECT_EQ(1u, count);
  // Index 0 is now the meter that is still there.
  Connect();
  uint8_t request[kIdentifyRequestSize];
  BuildIdentifyRequest(request);
  device_.Write(request, kIdentifyRequestSize);
  std::array<uint8_t, kIdentifyReplyMax> reply{};
  device_.Read(reply.data(), kIdentifyReplyMax);
  std::string name;
  EXPECT_TRUE(TestIdentifyReply(device_.last_status(), device_.bytes_read(), reply.data(), &name));
  EXPECT_EQ("Second", name);
}

TEST_F(SimDriverTest, LateReplyWaitsForTheNextReadUnlessPurged) {
  bus_.Configure(Bus(Timing::kInstant, {Meter({{FaultWhen::kRecord, 1, FaultAction::kLate, 10},
                                               {FaultWhen::kRecord, 2, FaultAction::kLate, 10}})}));
  Connect(40);
  EXPECT_EQ(0u, ReadRecord(device_, 1).count);  // gave up at 40 ms; the reply comes at 50
  uint8_t reply[kReadReplySize] = {};
  device_.Read(reply, kReadReplySize);
  int number = -1;
  EXPECT_EQ(ReadReplyVerdict::kGood,
            TestReadReply(device_.last_status(), device_.bytes_read(), reply, &number));
  EXPECT_EQ(1, number);

  EXPECT_EQ(0u, ReadRecord(device_, 2).count);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  Exchange next = ReadRecord(device_, 3);
  EXPECT_EQ(ReadReplyVerdict::kGood, next.verdict);
  EXPECT_EQ(3, next.number);
}

TEST_F(SimDriverTest, SeveralMetersAnswerWithTheirOwnNames) {
  MeterConfig a = Meter();
  a.name = "Zulu";
  MeterConfig b = Meter();
  b.name = "Alpha";
  bus_.Configure(Bus(Timing::kInstant, {a, b}));
  for (int i = 0; i < 2; ++i) {
    UsbDevice device(bus_);
    ASSERT_EQ(FT_OK, device.Configure(i, 115200, 8, 0, 0));
    device.SetTimeouts(200, 1000);
    uint8_t request[kIdentifyRequestSize];
    BuildIdentifyRequest(request);
    device.Write(request, kIdentifyRequestSize);
    std::array<uint8_t, kIdentifyReplyMax> reply{};
    device.Read(reply.data(), kIdentifyReplyMax);
    std::string name;
    EXPECT_TRUE(TestIdentifyReply(device.last_status(), device.bytes_read(), reply.data(), &name));
    EXPECT_EQ(i == 0 ? "Zulu" : "Alpha", name);
    device.Close();
  }
}

TEST_F(SimDriverTest, LatencyTimerPerOpenHandle) {
  Scenario s = Bus(Timing::kWire, {Meter()});
  s.latency_ms = 9;
  bus_.Configure(s);
  ASSERT_EQ(FT_OK, device_.Open(0));
  uint8_t ms = 0;
  EXPECT_EQ(FT_OK, bus_.GetLatencyTimer(device_.handle(), &ms));
  EXPECT_EQ(9, ms);
  EXPECT_EQ(FT_INVALID_PARAMETER, bus_.SetLatencyTimer(device_.handle(), 1));
  EXPECT_EQ(FT_OK, bus_.SetLatencyTimer(device_.handle(), 2));
  EXPECT_EQ(FT_OK, bus_.GetLatencyTimer(device_.handle(), &ms));
  EXPECT_EQ(2, ms);
  device_.Close();
  EXPECT_EQ(FT_INVALID_HANDLE, bus_.GetLatencyTimer(device_.handle(), &ms));
  ASSERT_EQ(FT_OK, device_.Open(0));
  EXPECT_EQ(FT_OK, bus_.GetLatencyTimer(device_.handle(), &ms));
  EXPECT_EQ(9, ms);  // back to the default on a new open
  device_.Close();

  // A driver that keeps the timer to itself.
  s.latency_settable = false;
  bus_.Configure(s);
  ASSERT_EQ(FT_OK, device_.Open(0));
  EXPECT_EQ(FT_NOT_SUPPORTED, bus_.SetLatencyTimer(device_.handle(), 2));
  EXPECT_EQ(FT_OK, bus_.GetLatencyTimer(device_.handle(), &ms));
  EXPECT_EQ(9, ms);
}

// Wire timing: only lower bounds, which cannot flake.
TEST_F(SimDriverTest, WireExchangeTakesAtLeastItsWireTime) {
  Scenario s = Bus(Timing::kWire, {Meter()});
  s.latency_ms = 2;
  bus_.Configure(s);
  Connect();
  auto start = Clock::now();
  Exchange x = ReadRecord(device_, 0);
  const double fast = MsSince(start);
  EXPECT_EQ(ReadReplyVerdict::kGood, x.verdict);
  EXPECT_GE(fast, 80 * 10 * 1000.0 / 115200);  // 80 bytes at 115200 baud: 6.94 ms

  // With the default timer the last 10 bytes wait for it: 8 + 63 bytes on the
  // wire, 0.5 ms in the meter and 16 ms in the chip.
  ASSERT_EQ(FT_OK, bus_.SetLatencyTimer(device_.handle(), 16));
  start = Clock::now();
  x = ReadRecord(device_, 1);
  EXPECT_EQ(ReadReplyVerdict::kGood, x.verdict);
  EXPECT_GE(MsSince(start), 71 * 10 * 1000.0 / 115200 + 0.5 + 16);
}

TEST_F(SimDriverTest, WireReadWithoutReplyReturnsAfterItsTimeout) {
  bus_.Configure(Bus(Timing::kWire, {Meter({{FaultWhen::kRecord, 4, FaultAction::kNoReply, -1},
                                            {FaultWhen::kIdentify, 0, FaultAction::kDelay, 40}})}));
  Connect(50);
  auto start = Clock::now();
  Exchange x = ReadRecord(device_, 4);
  EXPECT_GE(MsSince(start), 50.0);
  EXPECT_EQ(FT_OK, x.status);
  EXPECT_EQ(0u, x.count);

  // A reply shorter than the count asked for also waits the whole time-out.
  device_.SetTimeouts(60, 1000);
  uint8_t request[kIdentifyRequestSize];
  BuildIdentifyRequest(request);
  device_.PurgeReceive();
  start = Clock::now();
  device_.Write(request, kIdentifyRequestSize);
  std::array<uint8_t, kIdentifyReplyMax> reply{};
  device_.Read(reply.data(), kIdentifyReplyMax);
  EXPECT_GE(MsSince(start), 60.0);
  EXPECT_EQ(16u, device_.bytes_read());
}

TEST_F(SimDriverTest, TraceFileIsWrittenLineByLine) {
  const std::string path = ::testing::TempDir() + "link_trace_test.txt";
  Scenario s = Bus(Timing::kInstant, {Meter()});
  s.trace_path = path;
  bus_.Configure(s);
  Connect();
  ReadRecord(device_, 0);
  // Read while the bus still holds the file open.
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  std::string text(1 << 16, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), f));
  std::fclose(f);
  EXPECT_EQ(0u, text.find("BUS timing=instant latency_ms=16 devices=1\n"));
  EXPECT_NE(std::string::npos, text.find("\nWRITE 02 00 04 4C 52 00 00 E6\n"));
  EXPECT_NE(std::string::npos, text.find("\nREAD 72 06 00 44 4C 52 00 00 "));
  bus_.Configure(Bus(Timing::kInstant, {}));  // closes the file
  std::remove(path.c_str());
}

void SetSimEnv(const std::string& value) {
#ifdef _WIN32
  _putenv_s("SQ71_SIM", value.c_str());
#else
  if (value.empty()) {
    unsetenv("SQ71_SIM");
  } else {
    setenv("SQ71_SIM", value.c_str(), 1);
  }
#endif
}

TEST_F(SimDriverTest, ConfiguredFromTheEnvironment) {
  const std::string dir = ::testing::TempDir();
  const std::string trace = dir + "link_env_trace.txt";
  const std::string bad = dir + "link_env_bad.txt";
  std::FILE* f = std::fopen(bad.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  std::fputs("trace = link_env_trace.txt\nwobble = 3\n", f);
  std::fclose(f);

  SetSimEnv(bad);
  std::string error;
  EXPECT_FALSE(bus_.ConfigureFromEnvironment(&error));
  EXPECT_EQ(bad + ": line 2: unknown key 'wobble'", error);
  EXPECT_EQ(0, bus_.MeterCount());  // serves no devices
  EXPECT_TRUE(HasLine(bus_, "ERROR " + error));
  bus_.Configure(Bus(Timing::kInstant, {}));
  f = std::fopen(trace.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  char text[256] = {};
  std::fread(text, 1, sizeof(text) - 1, f);
  std::fclose(f);
  EXPECT_NE(nullptr, std::strstr(text, "ERROR ")) << text;

  SetSimEnv("");
  EXPECT_TRUE(bus_.ConfigureFromEnvironment(&error));
  EXPECT_EQ(1, bus_.MeterCount());
  EXPECT_TRUE(HasLine(bus_, "BUS timing=wire latency_ms=16 devices=1"));
  EXPECT_EQ(MakeSampleLog(), bus_.MeterAt(0)->log());
  std::remove(bad.c_str());
  std::remove(trace.c_str());
}

}  // namespace
}  // namespace sq71::sim
