#include "protocol/frame.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace sq71 {
namespace {

int Checksum(std::vector<uint8_t> bytes) {
  return FrameChecksum(bytes.data(), static_cast<int>(bytes.size()));
}

TEST(FrameChecksum, IsTheTwosComplementOfTheXor) {
  EXPECT_EQ(0x00, FrameChecksum(nullptr, 0));
  EXPECT_EQ(0x00, FrameChecksum(nullptr, -3));
  EXPECT_EQ(0x00, Checksum({0x00, 0x00}));  // 0, never 0x100
  EXPECT_EQ(0xB8, Checksum({0x00, 0x01, 0x49}));
  EXPECT_EQ(0xF5, Checksum({0x00, 0x02, 0x4C, 0x45}));
  EXPECT_EQ(0xE6, Checksum({0x00, 0x04, 0x4C, 0x52, 0x00, 0x00}));
  EXPECT_EQ(0x1A, Checksum({0x00, 0x04, 0x4C, 0x52, 0x03, 0xFF}));
  EXPECT_EQ(0x70, Checksum({0x90}));  // top bit set: 256 - 0x90
  EXPECT_EQ(0x01, Checksum({0xFF}));
  EXPECT_EQ(0x00, Checksum({0x5A, 0x5A}));
}

TEST(FrameChecksum, CoversOnlyTheCountGiven) {
  const uint8_t bytes[] = {0x12, 0x34, 0x56};
  EXPECT_EQ(0xEE, FrameChecksum(bytes, 1));
  EXPECT_EQ(0xDA, FrameChecksum(bytes, 2));  // 0x12 ^ 0x34 = 0x26
}

TEST(Requests, AreBuiltByteForByte) {
  std::array<uint8_t, kIdentifyRequestSize> identify{};
  BuildIdentifyRequest(identify.data());
  EXPECT_EQ((std::array<uint8_t, 5>{0x02, 0x00, 0x01, 0x49, 0xB8}), identify);

  std::array<uint8_t, kEraseRequestSize> erase{};
  BuildEraseRequest(erase.data());
  EXPECT_EQ((std::array<uint8_t, 6>{0x02, 0x00, 0x02, 0x4C, 0x45, 0xF5}), erase);

  std::array<uint8_t, kReadRequestSize> read{};
  BuildReadRequest(0, read.data());
  EXPECT_EQ((std::array<uint8_t, 8>{0x02, 0x00, 0x04, 0x4C, 0x52, 0x00, 0x00, 0xE6}), read);
  BuildReadRequest(1, read.data());
  EXPECT_EQ((std::array<uint8_t, 8>{0x02, 0x00, 0x04, 0x4C, 0x52, 0x00, 0x01, 0xE5}), read);
  BuildReadRequest(1023, read.data());
  EXPECT_EQ((std::array<uint8_t, 8>{0x02, 0x00, 0x04, 0x4C, 0x52, 0x03, 0xFF, 0x1A}), read);
  // 0x1A ^ 0x02 ^ 0x5B = 0x43, so the checksum is 0xBD.
  BuildReadRequest(0x025B, read.data());
  EXPECT_EQ(0x02, read[5]);
  EXPECT_EQ(0x5B, read[6]);
  EXPECT_EQ(0xBD, read[7]);
}

// A well-formed read-record reply naming `number`, with a record whose
// bytes are `fill`.
std::array<uint8_t, kReadReplySize> ReadReply(int number, uint8_t fill = 0x11) {
  std::array<uint8_t, kReadReplySize> r{};
  r[0] = kAck;
  r[1] = 0x00;
  r[2] = 0x44;
  r[3] = 'L';
  r[4] = 'R';
  r[5] = static_cast<uint8_t>(number >> 8);
  r[6] = static_cast<uint8_t>(number & 0xFF);
  for (int i = 7; i < 71; ++i) r[i] = fill;
  r[71] = FrameChecksum(r.data() + 1, 70);
  return r;
}

TEST(ReadReply, GoodReplyNamesItsRecord) {
  auto r = ReadReply(517);
  int number = -1;
  EXPECT_EQ(ReadReplyVerdict::kGood, TestReadReply(FT_OK, 72, r.data(), &number));
  EXPECT_EQ(517, number);
}

TEST(ReadReply, ChecksumWithTheTopBitSetPasses) {
  // Choose the record bytes so the XOR of bytes 1..70 is 0x90: the covered
  // bytes other than byte 7 XOR to X, and byte 7 makes up the difference.
  auto r = ReadReply(3, 0x00);
  uint8_t x = 0;
  for (int i = 1; i <= 70; ++i) x ^= r[i];
  r[7] = static_cast<uint8_t>(x ^ 0x90);
  r[71] = 0x70;
  int number = -1;
  EXPECT_EQ(ReadReplyVerdict::kGood, TestReadReply(FT_OK, 72, r.data(), &number));
  EXPECT_EQ(3, number);
}

TEST(ReadReply, HandshakeIsTestedBeforeTheChecksum) {
  auto r = ReadReply(5);
  r[0] = 0x15;  // checksum still right: NAK is no handshake
  EXPECT_EQ(ReadReplyVerdict::kNoHandshake, TestReadReply(FT_OK, 72, r.data(), nullptr));
  r[71] ^= 0xFF;  // and wrong too: still no handshake first
  EXPECT_EQ(ReadReplyVerdict::kNoHandshake, TestReadReply(FT_OK, 72, r.data(), nullptr));
}

TEST(ReadReply, CountAndStatusMustBeExact) {
  auto r = ReadReply(5);
  EXPECT_EQ(ReadReplyVerdict::kNoHandshake, TestReadReply(FT_OK, 71, r.data(), nullptr));
  EXPECT_EQ(ReadReplyVerdict::kNoHandshake, TestReadReply(FT_OK, 73, r.data(), nullptr));
  EXPECT_EQ(ReadReplyVerdict::kNoHandshake, TestReadReply(FT_OK, 0, r.data(), nullptr));
  EXPECT_EQ(ReadReplyVerdict::kNoHandshake, TestReadReply(FT_IO_ERROR, 72, r.data(), nullptr));
}

TEST(ReadReply, ChecksumIsTestedBeforeTheRecordNumber) {
  auto r = ReadReply(1024);
  r[71] ^= 0x01;
  EXPECT_EQ(ReadReplyVerdict::kChecksumFailure, TestReadReply(FT_OK, 72, r.data(), nullptr));
  auto s = ReadReply(9);
  s[40] ^= 0x20;  // a flipped record bit
  EXPECT_EQ(ReadReplyVerdict::kChecksumFailure, TestReadReply(FT_OK, 72, s.data(), nullptr));
}

TEST(ReadReply, RecordNumberMustBeBelow1024) {
  int number = -1;
  auto last = ReadReply(0x03FF);
  EXPECT_EQ(ReadReplyVerdict::kGood, TestReadReply(FT_OK, 72, last.data(), &number));
  EXPECT_EQ(1023, number);
  number = -1;
  auto past = ReadReply(0x0400);
  EXPECT_EQ(ReadReplyVerdict::kInvalidRecord, TestReadReply(FT_OK, 72, past.data(), &number));
  EXPECT_EQ(-1, number);  // only a good reply names a record
  auto far = ReadReply(0xFFFF);
  EXPECT_EQ(ReadReplyVerdict::kInvalidRecord, TestReadReply(FT_OK, 72, far.data(), nullptr));
}

TEST(EraseReply, NeedsStatusOkAByteAndAck) {
  EXPECT_TRUE(TestEraseReply(FT_OK, 1, kAck));
  EXPECT_TRUE(TestEraseReply(FT_OK, 5, kAck));
  EXPECT_FALSE(TestEraseReply(FT_OK, 0, kAck));
  EXPECT_FALSE(TestEraseReply(FT_OK, 1, 0x15));
  EXPECT_FALSE(TestEraseReply(FT_IO_ERROR, 1, kAck));
}

// An identify reply with length field `length` carrying `name` (shorter
// names are padded with 'x' to fill length - 1 bytes), checksummed.
std::array<uint8_t, kIdentifyReplyMax> IdentifyReply(int length, const std::string& name) {
  std::array<uint8_t, kIdentifyReplyMax> r{};
  r[0] = kAck;
  r[1] = static_cast<uint8_t>(length >> 8);
  r[2] = static_cast<uint8_t>(length & 0xFF);
  r[3] = 'I';
  for (int i = 0; i < length - 1 && 4 + i < kIdentifyReplyMax; ++i) {
    r[4 + i] = i < static_cast<int>(name.size()) ? name[i] : 'x';
  }
  if (length >= 0 && length + 3 < kIdentifyReplyMax) {
    r[length + 3] = FrameChecksum(r.data() + 1, length + 2);
  }
  return r;
}

TEST(IdentifyReply, GoodReplyGivesTheNameAndEndsItWithNul) {
  auto r = IdentifyReply(12, "SQ-71 Meter");
  std::string name;
  ASSERT_TRUE(TestIdentifyReply(FT_OK, 16, r.data(), &name));
  EXPECT_EQ("SQ-71 Meter", name);
  EXPECT_EQ(0, r[15]);  // the checksum byte became the terminator
  EXPECT_STREQ("SQ-71 Meter", reinterpret_cast<const char*>(r.data() + 4));
}

TEST(IdentifyReply, LengthBounds) {
  std::string name = "?";
  auto zero = IdentifyReply(0, "");
  EXPECT_FALSE(TestIdentifyReply(FT_OK, 4, zero.data(), &name));
  EXPECT_EQ("?", name);  // untouched on failure

  auto one = IdentifyReply(1, "");
  ASSERT_TRUE(TestIdentifyReply(FT_OK, 5, one.data(), &name));
  EXPECT_EQ("", name);

  auto most = IdentifyReply(96, "");
  ASSERT_TRUE(TestIdentifyReply(FT_OK, 100, most.data(), &name));
  EXPECT_EQ(std::string(95, 'x'), name);
  EXPECT_EQ(0, most[99]);

  auto too_long = IdentifyReply(97, "");
  EXPECT_FALSE(TestIdentifyReply(FT_OK, 100, too_long.data(), &name));
  auto huge = IdentifyReply(0x0100 + 12, "SQ-71 Meter");  // high length byte set
  EXPECT_FALSE(TestIdentifyReply(FT_OK, 100, huge.data(), &name));
}

TEST(IdentifyReply, EachTestRejects) {
  auto r = IdentifyReply(6, "Alpha");
  EXPECT_FALSE(TestIdentifyReply(FT_IO_ERROR, 10, r.data(), nullptr));
  EXPECT_FALSE(TestIdentifyReply(FT_OK, 0, r.data(), nullptr));
  auto nak = IdentifyReply(6, "Alpha");
  nak[0] = 0x15;
  EXPECT_FALSE(TestIdentifyReply(FT_OK, 10, nak.data(), nullptr));
  auto bad = IdentifyReply(6, "Alpha");
  bad[9] ^= 0x80;
  EXPECT_FALSE(TestIdentifyReply(FT_OK, 10, bad.data(), nullptr));
  EXPECT_EQ(bad[9], static_cast<uint8_t>(FrameChecksum(bad.data() + 1, 8) ^ 0x80));  // untouched
}

TEST(IdentifyReply, CountReceivedIsNotComparedWithTheLength) {
  auto r = IdentifyReply(6, "Alpha");
  std::string name;
  EXPECT_TRUE(TestIdentifyReply(FT_OK, 1, r.data(), &name));
  EXPECT_EQ("Alpha", name);
}

TEST(IdentifyReply, NameStopsAtAnEmbeddedNul) {
  auto r = IdentifyReply(6, std::string("Ab\0de", 5));
  std::string name;
  ASSERT_TRUE(TestIdentifyReply(FT_OK, 10, r.data(), &name));
  EXPECT_EQ("Ab", name);
}

}  // namespace
}  // namespace sq71
