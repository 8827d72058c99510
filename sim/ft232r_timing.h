// When things happen between the host and one simulated meter: the meter's
// serial line and an FT232R on full-speed USB in front of it. Pure
// arithmetic on a timeline of nanoseconds that the caller supplies, so the
// figures can be checked by hand; the simulated driver feeds it the wall
// clock and sleeps until the times it returns.
//
// Wire timing (115200 baud, 10 bits a byte):
//  - written bytes leave on the line one after another, from when they reach
//    the chip; the meter starts its reply 0.5 ms after the request's last
//    byte (plus any delay it is told to add), after any reply it is still
//    sending.
// USB, full speed:
//  - frames of 1 ms, starting at every whole millisecond of the timeline; a
//    written block reaches the chip at the first frame start at or after the
//    write, and a packet the chip sends reaches the host at the first frame
//    start at or after it leaves;
//  - every control request (reset, purge, line settings, latency timer, one
//    EEPROM word) costs 1 ms;
//  - the chip gathers received bytes into packets of up to 62 data bytes; a
//    packet leaves when full or when the latency timer expires, whichever
//    comes first. The timer restarts whenever a packet leaves, and when it
//    expires with nothing gathered the chip sends a status-only packet, which
//    restarts it too: so it ticks every latency period from the last full
//    packet on.
// In instant mode there are no frames, control requests cost nothing and
// every byte reaches the host as soon as the meter has it (delays aside).
#ifndef SQ71_SIM_FT232R_TIMING_H
#define SQ71_SIM_FT232R_TIMING_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

namespace sq71::sim {

using Nanos = int64_t;
constexpr Nanos kNever = std::numeric_limits<Nanos>::max();
constexpr Nanos kNanosPerMs = 1000000;

// Byte time on the meter's line and the meter's own processing time.
constexpr Nanos kByteTimeNs = 10LL * 1000000000LL / 115200;  // 86,805 ns
constexpr Nanos kMeterProcessingNs = 500000;
constexpr int kUsbPacketDataBytes = 62;
constexpr Nanos kUsbFrameNs = kNanosPerMs;
constexpr Nanos kControlRequestNs = kNanosPerMs;
// FT_EE_Read reads the FT232R's EEPROM one 16-bit word per control request.
constexpr int kEepromWordReads = 64;

// The first frame start at or after t.
Nanos FrameStartAtOrAfter(Nanos t);

class Ft232rTiming {
 public:
  explicit Ft232rTiming(bool wire = true) : wire_(wire) {}

  bool wire() const { return wire_; }
  int latency_ms() const { return latency_ms_; }

  // FT_Open: one control request resets the chip, whose latency timer is then
  // `latency_ms` and starts when the reset is done. Nothing received before
  // survives. Returns when the call is done.
  Nanos Open(Nanos now, int latency_ms);

  // `requests` control requests made one after another from `now`; returns
  // when the last is done.
  Nanos Control(Nanos now, int requests = 1) const;

  // Sets the latency timer, which restarts with the new value once the
  // request is done. Returns then.
  Nanos SetLatency(Nanos now, int latency_ms);

  // A receive purge: once the request is done, what the chip has gathered and
  // what the host holds is dropped; bytes still on the line come afterwards
  // in packets of their own. Returns when done.
  Nanos PurgeReceive(Nanos now);

  // A write of `count` bytes at `now`. Returns when they reach the chip (the
  // call returns then); *line_end is when the last of them has left on the
  // line.
  Nanos Write(Nanos now, std::size_t count, Nanos* line_end);

  // The meter's reply to a request whose last byte left at `request_end`,
  // started `delay` later than usual.
  void Reply(const std::vector<uint8_t>& bytes, Nanos request_end, Nanos delay);

  // When the host will hold `count` received bytes if nothing else happens
  // (now or earlier if it holds them already; kNever if fewer are coming).
  Nanos WhenHostHolds(std::size_t count, Nanos now);
  // When everything on its way will have reached the host (`now` when
  // nothing is).
  Nanos WhenAllDelivered(Nanos now);
  // How many received bytes the host holds at `now`: what the driver's
  // receive queue reports. Answered on the host, so it costs no request.
  std::size_t HostHolds(Nanos now);
  // Moves up to `wanted` bytes the host holds at `now` into `out`.
  std::size_t Take(Nanos now, uint8_t* out, std::size_t wanted);

  // The same at the chip's USB packets, for a model of its bulk IN endpoint:
  // when the next packet reaches the host, holding data or (when the timer
  // runs out with nothing gathered) only the status bytes; `now` or earlier
  // when the host holds one already. In instant mode there are no status
  // packets and bytes come in packets of up to 62 as they are there.
  Nanos NextPacketAt(Nanos now);
  // The data of the packets the host holds at `now`, one entry a packet, at
  // most `max_packets`, ending with the first packet that is not full (a USB
  // transfer ends there).
  std::vector<std::vector<uint8_t>> TakePackets(Nanos now, std::size_t max_packets);

 private:
  struct Byte {
    uint8_t value;
    Nanos at;  // on the line: when it reaches the chip; at the host: when it arrives there
    bool packet_start = false;  // at the host: the first byte of a USB packet
  };

  // Runs the chip up to and including `t`.
  void Advance(Nanos t);
  // The gathered bytes leave as one packet at `at`; the timer restarts.
  void SendPacket(Nanos at);
  // The next moment at which the chip's state changes, kNever when idle for good.
  Nanos NextEvent() const;

  bool wire_;
  int latency_ms_ = 16;
  Nanos timer_start_ = 0;  // the latency timer's last restart
  Nanos tx_free_ = 0;      // when the request line is idle again
  Nanos meter_free_ = 0;   // when the meter has sent its last reply
  std::deque<Byte> line_;  // coming from the meter, in order of arrival
  std::vector<uint8_t> gathered_;
  std::deque<Byte> host_;  // sent to the host, in order
};

}  // namespace sq71::sim

#endif
