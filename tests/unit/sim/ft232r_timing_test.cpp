// The chip's timing model alone, on a timeline of our choosing, against
// figures worked out by hand.
#include "sim/ft232r_timing.h"

#include <gtest/gtest.h>

#include <vector>

namespace sq71::sim {
namespace {

constexpr Nanos kMs = kNanosPerMs;

// The k-th reply byte (from 1) reaches the chip at 4,194,440 + k * 86,805 ns
// in the exchange below: the request reaches the chip at 3 ms, its 8 bytes
// take 694,440 ns on the line, the meter thinks for 0.5 ms.

// Open at 0 (reset done at 1 ms, the timer starts then), purge both ways as
// the program does before each request, write the 8-byte request, and the
// meter's 72-byte reply. Returns when the purges began (1 ms).
Nanos Exchange(Ft232rTiming& chip, int latency_ms) {
  EXPECT_EQ(1 * kMs, chip.Open(0, latency_ms));
  const Nanos start = 1 * kMs;
  const Nanos purged = chip.Control(chip.PurgeReceive(start));
  EXPECT_EQ(3 * kMs, purged);
  Nanos request_end = 0;
  EXPECT_EQ(3 * kMs, chip.Write(purged, 8, &request_end));
  EXPECT_EQ(3 * kMs + 8 * kByteTimeNs, request_end);
  chip.Reply(std::vector<uint8_t>(72, 0x55), request_end, 0);
  return start;
}

TEST(Ft232rTiming, ExchangeAtTheDefaultLatencyWaitsForTheTimer) {
  Ft232rTiming chip;
  const Nanos start = Exchange(chip, 16);
  // The 62nd byte (at 9,576,350 ns) fills a packet, which the host has at the
  // next frame; the last 10 bytes wait for the timer, restarted by that
  // packet: 25,576,350 ns, so frame 26.
  EXPECT_EQ(10 * kMs, chip.WhenHostHolds(62, start));
  EXPECT_EQ(26 * kMs, chip.WhenHostHolds(72, start));
  EXPECT_EQ(kNever, chip.WhenHostHolds(73, start));
  EXPECT_EQ(25 * kMs, chip.WhenHostHolds(72, start) - start);
}

TEST(Ft232rTiming, ExchangeAtTwoMillisecondsGoesOutInTimerSizedPackets) {
  Ft232rTiming chip;
  const Nanos start = Exchange(chip, 2);
  // The timer, started at 1 ms, sends what has come every 2 ms: bytes 1-9 at
  // 5 ms, up to 32 at 7, up to 55 at 9, the rest (last at 10,444,400) at 11.
  EXPECT_EQ(5 * kMs, chip.WhenHostHolds(9, start));
  EXPECT_EQ(7 * kMs, chip.WhenHostHolds(10, start));
  EXPECT_EQ(9 * kMs, chip.WhenHostHolds(55, start));
  EXPECT_EQ(11 * kMs, chip.WhenHostHolds(72, start));
  EXPECT_EQ(10 * kMs, chip.WhenHostHolds(72, start) - start);

  uint8_t out[72] = {};
  EXPECT_EQ(32u, chip.Take(8 * kMs, out, 72));
  EXPECT_EQ(0u, chip.Take(8 * kMs, out, 72));
  EXPECT_EQ(40u, chip.Take(11 * kMs, out, 72));
}

TEST(Ft232rTiming, StatusPacketsKeepTheTimersBeat) {
  // Idle from the reset at 1 ms, the timer expires at 17, 33, ... 97, 113 ms;
  // ten bytes arriving from 100.5 ms leave at 113, not 16 ms after the first.
  Ft232rTiming chip;
  chip.Open(0, 16);
  chip.Reply(std::vector<uint8_t>(10, 1), 100 * kMs, 0);
  EXPECT_EQ(113 * kMs, chip.WhenHostHolds(10, 0));
  EXPECT_EQ(113 * kMs, chip.WhenAllDelivered(0));

  // A new timer value restarts it: set at 200 ms, done at 201, expiring at 203.
  EXPECT_EQ(201 * kMs, chip.SetLatency(200 * kMs, 2));
  chip.Reply(std::vector<uint8_t>(1, 1), 201 * kMs, 0);
  EXPECT_EQ(203 * kMs, chip.WhenHostHolds(11, 201 * kMs));
}

TEST(Ft232rTiming, FramesAndControlRequests) {
  Ft232rTiming chip;
  // FT_Open, DTR, baud, line, flow, then FT_EE_Read's 64 word reads: 69 ms.
  Nanos t = chip.Open(0, 16);
  t = chip.Control(t, 4);
  EXPECT_EQ(5 * kMs, t);
  EXPECT_EQ(69 * kMs, chip.Control(t, kEepromWordReads));
  // A write mid-frame reaches the chip at the next frame start.
  Nanos line_end = 0;
  EXPECT_EQ(70 * kMs, chip.Write(69 * kMs + 300000, 8, &line_end));
  EXPECT_EQ(70 * kMs + 8 * kByteTimeNs, line_end);

  Ft232rTiming instant(false);
  EXPECT_EQ(7, instant.Control(7, kEepromWordReads));
  EXPECT_EQ(7, instant.Write(7, 8, &line_end));
  instant.Reply(std::vector<uint8_t>(72, 0), 7, 30 * kMs);
  EXPECT_EQ(7 + 30 * kMs, instant.WhenHostHolds(72, 7));
}

TEST(Ft232rTiming, ReceivePurgeDropsOnlyWhatHasReachedTheChip) {
  Ft232rTiming chip;
  const Nanos start = Exchange(chip, 16);
  // Purged at 6 ms, done at 7: bytes 1-32 are gone; 33-72 come in a packet of
  // their own when the timer (running since 1 ms) expires at 17 ms.
  EXPECT_EQ(7 * kMs, chip.PurgeReceive(start + 5 * kMs));
  EXPECT_EQ(17 * kMs, chip.WhenHostHolds(40, 7 * kMs));
  EXPECT_EQ(kNever, chip.WhenHostHolds(41, 7 * kMs));
  // A reopen drops everything still on its way.
  chip.Open(8 * kMs, 16);
  EXPECT_EQ(8 * kMs, chip.WhenAllDelivered(8 * kMs));
}

}  // namespace
}  // namespace sq71::sim
