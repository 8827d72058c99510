#include "sim/simulated_meter.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "protocol/frame.h"
#include "sim/sample_log.h"

namespace sq71::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadRequest(int record) {
  Bytes b(kReadRequestSize);
  BuildReadRequest(record, b.data());
  return b;
}
Bytes EraseRequest() {
  Bytes b(kEraseRequestSize);
  BuildEraseRequest(b.data());
  return b;
}
Bytes IdentifyRequest() {
  Bytes b(kIdentifyRequestSize);
  BuildIdentifyRequest(b.data());
  return b;
}

std::vector<MeterReply> Send(SimulatedMeter& meter, const Bytes& bytes) {
  return meter.Receive(bytes.data(), bytes.size());
}

// The one reply to one request.
MeterReply Ask(SimulatedMeter& meter, const Bytes& request) {
  std::vector<MeterReply> replies = Send(meter, request);
  EXPECT_EQ(1u, replies.size());
  return replies.empty() ? MeterReply() : replies[0];
}

MeterConfig WithFaults(std::vector<Fault> faults) {
  MeterConfig config;
  config.faults = std::move(faults);
  return config;
}

TEST(SimulatedMeter, ReadRecordReplyCarriesTheRecord) {
  SimulatedMeter meter;
  const MeterReply reply = Ask(meter, ReadRequest(2));
  ASSERT_EQ(72u, reply.bytes.size());
  EXPECT_TRUE(reply.accepted);
  EXPECT_EQ("LR 2", reply.request);
  EXPECT_EQ((Bytes{0x06, 0x00, 0x44, 'L', 'R', 0x00, 0x02}),
            Bytes(reply.bytes.begin(), reply.bytes.begin() + 7));
  EXPECT_EQ(0, std::memcmp(reply.bytes.data() + 7, RecordAt(meter.log(), 2), 64));
  int number = -1;
  EXPECT_EQ(ReadReplyVerdict::kGood, TestReadReply(FT_OK, 72, reply.bytes.data(), &number));
  EXPECT_EQ(2, number);
}

TEST(SimulatedMeter, LastRecordAnsweredAndPastItSilent) {
  SimulatedMeter meter;
  MeterReply last = Ask(meter, ReadRequest(1023));
  int number = -1;
  EXPECT_EQ(ReadReplyVerdict::kGood, TestReadReply(FT_OK, 72, last.bytes.data(), &number));
  EXPECT_EQ(1023, number);
  for (int r : {1024, 0xFFFF}) {
    MeterReply past = Ask(meter, ReadRequest(r));
    EXPECT_TRUE(past.accepted);
    EXPECT_TRUE(past.bytes.empty()) << r;
  }
}

TEST(SimulatedMeter, IdentifyReplyLayout) {
  MeterConfig config;
  config.name = "Roof Meter";
  SimulatedMeter meter(config);
  MeterReply reply = Ask(meter, IdentifyRequest());
  // 06, L = 11 (the "I" body byte and 10 name bytes), 'I', name, checksum.
  ASSERT_EQ(15u, reply.bytes.size());
  EXPECT_EQ(0x06, reply.bytes[0]);
  EXPECT_EQ(0x00, reply.bytes[1]);
  EXPECT_EQ(11, reply.bytes[2]);
  EXPECT_EQ('I', reply.bytes[3]);
  EXPECT_EQ(FrameChecksum(reply.bytes.data() + 1, 13), reply.bytes[14]);
  std::array<uint8_t, kIdentifyReplyMax> buffer{};
  std::memcpy(buffer.data(), reply.bytes.data(), reply.bytes.size());
  std::string name;
  ASSERT_TRUE(TestIdentifyReply(FT_OK, 15, buffer.data(), &name));
  EXPECT_EQ("Roof Meter", name);
}

TEST(SimulatedMeter, EraseAcksAndLeavesOnlyTheEndMarker) {
  SimulatedMeter meter;
  ASSERT_NE(kEndMarker, RecordAt(meter.log(), 0)[0]);
  MeterReply reply = Ask(meter, EraseRequest());
  EXPECT_EQ((Bytes{0x06}), reply.bytes);
  EXPECT_EQ(1, meter.erases());
  EXPECT_EQ(0, EntryCount(meter.log(), nullptr));
  EXPECT_EQ(MakeEmptyLog(), meter.log());
}

TEST(SimulatedMeter, FramesArriveInPiecesAndAfterNoise) {
  SimulatedMeter meter;
  Bytes request = ReadRequest(7);
  Bytes noise = {0xFF, 0x00, 0x06, 0x02, 0x01};  // a stray 02 whose length byte is not 0
  EXPECT_TRUE(Send(meter, noise).empty());
  EXPECT_TRUE(Send(meter, Bytes(request.begin(), request.begin() + 3)).empty());
  std::vector<MeterReply> replies = Send(meter, Bytes(request.begin() + 3, request.end()));
  ASSERT_EQ(1u, replies.size());
  EXPECT_EQ("LR 7", replies[0].request);

  // Two requests in one write get two replies, in order.
  Bytes both = IdentifyRequest();
  Bytes second = ReadRequest(1);
  both.insert(both.end(), second.begin(), second.end());
  replies = Send(meter, both);
  ASSERT_EQ(2u, replies.size());
  EXPECT_EQ("I", replies[0].request);
  EXPECT_EQ("LR 1", replies[1].request);
}

TEST(SimulatedMeter, BadChecksumOrUnknownCommandGetsNoReply) {
  SimulatedMeter meter;
  Bytes bad = ReadRequest(3);
  bad[7] ^= 0x01;
  MeterReply ignored = Ask(meter, bad);
  EXPECT_FALSE(ignored.accepted);
  EXPECT_TRUE(ignored.bytes.empty());

  Bytes unknown = {0x02, 0x00, 0x02, 'L', 'X', 0};
  unknown[5] = FrameChecksum(unknown.data() + 1, 4);
  EXPECT_TRUE(Ask(meter, unknown).bytes.empty());
  Bytes wrong_length = {0x02, 0x00, 0x03, 'L', 'R', 0x00, 0};  // LR needs two argument bytes
  wrong_length[6] = FrameChecksum(wrong_length.data() + 1, 5);
  EXPECT_TRUE(Ask(meter, wrong_length).bytes.empty());
  EXPECT_EQ(0, meter.exchanges());  // none of them was an exchange

  // Still in step: the next good request is answered.
  EXPECT_EQ(72u, Ask(meter, ReadRequest(3)).bytes.size());
  EXPECT_EQ(1, meter.exchanges());
}

TEST(SimulatedMeterFaults, NoReplyForOneRecordOnly) {
  SimulatedMeter meter(WithFaults({{FaultWhen::kRecord, 5, FaultAction::kNoReply, -1}}));
  EXPECT_TRUE(Ask(meter, ReadRequest(5)).bytes.empty());
  EXPECT_TRUE(Ask(meter, ReadRequest(5)).bytes.empty());  // every time it is asked
  EXPECT_EQ(72u, Ask(meter, ReadRequest(4)).bytes.size());
  EXPECT_EQ(72u, Ask(meter, ReadRequest(6)).bytes.size());
}

TEST(SimulatedMeterFaults, ShortReply) {
  SimulatedMeter meter(WithFaults({{FaultWhen::kRecord, 1, FaultAction::kShortReply, -1},
                                   {FaultWhen::kRecord, 2, FaultAction::kShortReply, 10}}));
  MeterReply full = Ask(meter, ReadRequest(0));
  MeterReply one_short = Ask(meter, ReadRequest(1));
  ASSERT_EQ(71u, one_short.bytes.size());
  EXPECT_EQ(ReadReplyVerdict::kNoHandshake,
            TestReadReply(FT_OK, 71, one_short.bytes.data(), nullptr));
  EXPECT_EQ(10u, Ask(meter, ReadRequest(2)).bytes.size());
  EXPECT_EQ(72u, full.bytes.size());
}

TEST(SimulatedMeterFaults, NakKeepsAValidChecksum) {
  SimulatedMeter meter(WithFaults({{FaultWhen::kRecord, 3, FaultAction::kNak, -1}}));
  MeterReply reply = Ask(meter, ReadRequest(3));
  ASSERT_EQ(72u, reply.bytes.size());
  EXPECT_EQ(kNak, reply.bytes[0]);
  EXPECT_EQ(FrameChecksum(reply.bytes.data() + 1, 70), reply.bytes[71]);
  EXPECT_EQ(ReadReplyVerdict::kNoHandshake, TestReadReply(FT_OK, 72, reply.bytes.data(), nullptr));
}

TEST(SimulatedMeterFaults, BadChecksum) {
  SimulatedMeter meter(WithFaults({{FaultWhen::kRecord, 8, FaultAction::kBadChecksum, -1},
                                   {FaultWhen::kIdentify, 0, FaultAction::kBadChecksum, -1}}));
  MeterReply reply = Ask(meter, ReadRequest(8));
  EXPECT_EQ(ReadReplyVerdict::kChecksumFailure,
            TestReadReply(FT_OK, 72, reply.bytes.data(), nullptr));
  MeterReply id = Ask(meter, IdentifyRequest());
  std::array<uint8_t, kIdentifyReplyMax> buffer{};
  std::memcpy(buffer.data(), id.bytes.data(), id.bytes.size());
  EXPECT_FALSE(
      TestIdentifyReply(FT_OK, static_cast<uint32_t>(id.bytes.size()), buffer.data(), nullptr));
}

TEST(SimulatedMeterFaults, AnotherRecordNumber) {
  SimulatedMeter meter(WithFaults({{FaultWhen::kRecord, 3, FaultAction::kRecordNumber, 5},
                                   {FaultWhen::kRecord, 4, FaultAction::kRecordNumber, 1024}}));
  MeterReply swapped = Ask(meter, ReadRequest(3));
  int number = -1;
  EXPECT_EQ(ReadReplyVerdict::kGood, TestReadReply(FT_OK, 72, swapped.bytes.data(), &number));
  EXPECT_EQ(5, number);
  EXPECT_EQ(0, std::memcmp(swapped.bytes.data() + 7, RecordAt(meter.log(), 5), 64));
  MeterReply invalid = Ask(meter, ReadRequest(4));
  EXPECT_EQ(ReadReplyVerdict::kInvalidRecord,
            TestReadReply(FT_OK, 72, invalid.bytes.data(), nullptr));
}

TEST(SimulatedMeterFaults, DelayOnlyDelays) {
  SimulatedMeter meter(WithFaults({{FaultWhen::kRecord, 7, FaultAction::kDelay, 1500}}));
  MeterReply reply = Ask(meter, ReadRequest(7));
  EXPECT_EQ(1500, reply.delay_ms);
  EXPECT_EQ(ReadReplyVerdict::kGood, TestReadReply(FT_OK, 72, reply.bytes.data(), nullptr));
  EXPECT_EQ(0, Ask(meter, ReadRequest(6)).delay_ms);
}

TEST(SimulatedMeterFaults, ExchangeCountsAcceptedRequests) {
  SimulatedMeter meter(WithFaults({{FaultWhen::kExchange, 3, FaultAction::kBadChecksum, -1}}));
  Bytes bad = ReadRequest(0);
  bad[7] ^= 0xFF;
  Send(meter, bad);  // ignored: not an exchange
  Ask(meter, IdentifyRequest());
  Ask(meter, ReadRequest(0));
  MeterReply third = Ask(meter, ReadRequest(1));
  EXPECT_EQ(3, meter.exchanges());
  EXPECT_EQ((std::vector<std::string>{"exchange 3 bad_checksum"}), third.faults);
  EXPECT_EQ(ReadReplyVerdict::kChecksumFailure,
            TestReadReply(FT_OK, 72, third.bytes.data(), nullptr));
  EXPECT_EQ(ReadReplyVerdict::kGood,
            TestReadReply(FT_OK, 72, Ask(meter, ReadRequest(1)).bytes.data(), nullptr));
}

TEST(SimulatedMeterFaults, RefusedOrLostEraseKeepsTheLog) {
  const LogImage sample = MakeSampleLog();
  SimulatedMeter nak(WithFaults({{FaultWhen::kErase, 0, FaultAction::kNak, -1}}));
  EXPECT_EQ((Bytes{kNak}), Ask(nak, EraseRequest()).bytes);
  EXPECT_EQ(sample, nak.log());
  EXPECT_EQ(0, nak.erases());

  SimulatedMeter silent(WithFaults({{FaultWhen::kErase, 0, FaultAction::kNoReply, -1}}));
  EXPECT_TRUE(Ask(silent, EraseRequest()).bytes.empty());
  EXPECT_EQ(sample, silent.log());

  SimulatedMeter slow(WithFaults({{FaultWhen::kErase, 0, FaultAction::kDelay, 3000}}));
  MeterReply reply = Ask(slow, EraseRequest());
  EXPECT_EQ((Bytes{kAck}), reply.bytes);
  EXPECT_EQ(3000, reply.delay_ms);
  EXPECT_EQ(0, EntryCount(slow.log(), nullptr));
}

TEST(SimulatedMeterFaults, DescribedInScenarioWords) {
  EXPECT_EQ("record 5 no_reply", DescribeFault({FaultWhen::kRecord, 5, FaultAction::kNoReply}));
  EXPECT_EQ("exchange 3 short_reply 10",
            DescribeFault({FaultWhen::kExchange, 3, FaultAction::kShortReply, 10}));
  EXPECT_EQ("erase nak", DescribeFault({FaultWhen::kErase, 0, FaultAction::kNak}));
  EXPECT_EQ("record 3 record_number 1024",
            DescribeFault({FaultWhen::kRecord, 3, FaultAction::kRecordNumber, 1024}));
  EXPECT_EQ("identify delay 250",
            DescribeFault({FaultWhen::kIdentify, 0, FaultAction::kDelay, 250}));
}

}  // namespace
}  // namespace sq71::sim
