// What a trace keeps and what its replay gives back: every line written
// before a kill, only the bytes that passed, the recorded pace through an
// injected clock, a stop that cuts a paced wait short, and the recording
// backend's label and identity warning.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/replay_driver.h"
#include "sim/sim_driver.h"
#include "sim/trace_reader.h"
#include "tests/support/sq71_fixture.h"
#include "usb/tracing_driver.h"

namespace sq71::sim {
namespace {

using Clock = std::chrono::steady_clock;
using TraceReplayTest = test::TempDirTest;

Scenario OneMeter(std::vector<Fault> faults = {}) {
  Scenario scenario;
  scenario.timing = Timing::kInstant;
  MeterConfig meter;
  meter.faults = std::move(faults);
  scenario.devices.push_back(meter);
  return scenario;
}

TEST_F(TraceReplayTest, EveryLineWrittenBeforeAKillIsKept) {
  const std::string path = PathOf("trace.txt");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SimDriver bus(OneMeter());
    std::unique_ptr<TraceFile> file = TraceFile::Over(std::fopen(path.c_str(), "w"), true);
    TracingDriver traced(bus, *file);
    FT_HANDLE handle = nullptr;
    traced.Open(0, &handle);
    raise(SIGKILL);  // no exit handler, no buffer flushed on the way out
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_NE(std::string::npos, test::ReadFile(path).find(" FT_Open index=0 -> 0 handle=1\n"));
}

TEST_F(TraceReplayTest, AFailedReadIsTracedWithTheBytesThatPassedOnly) {
  SimDriver bus(OneMeter({{FaultWhen::kRecord, 1, FaultAction::kUnplug, -1, false}}));
  std::ostringstream lines;
  struct Sink : TraceSink {
    explicit Sink(std::ostringstream& out) : out(out) {}
    void Line(const std::string& text) override { out << text << "\n"; }
    std::ostringstream& out;
  } sink(lines);
  TracingDriver traced(bus, sink);
  FT_HANDLE handle = nullptr;
  ASSERT_EQ(FT_OK, traced.Open(0, &handle));
  traced.SetBaudRate(handle, 115200);
  traced.SetTimeouts(handle, 1000, 1000);
  const uint8_t ask_1[] = {0x02, 0x00, 0x04, 0x4C, 0x52, 0x00, 0x01, 0xE5};
  uint32_t count = 72;  // what an earlier good read left in the caller's count
  traced.Write(handle, ask_1, sizeof ask_1, &count);
  uint8_t reply[72];
  count = 72;
  EXPECT_EQ(FT_IO_ERROR, traced.Read(handle, reply, 72, &count));
  EXPECT_EQ(0u, count);
  EXPECT_NE(std::string::npos, lines.str().find("FT_Read handle=1 wanted=72 -> 4 read=0\nREAD 0\n"))
      << lines.str();
}

// A session in which the meter took 250 ms to answer record 0.
const char kSession[] =
    "0 TRACE driver=tty\n"
    "10 FT_Open index=0 -> 0 handle=1\n"
    "1000 FT_Write handle=1 count=8 -> 0 written=8\n"
    "1001 WRITE 02 00 04 4C 52 00 00 E6\n"
    "251000 FT_Read handle=1 wanted=1 -> 0 read=1\n"
    "251001 READ 1 06\n";

std::shared_ptr<const std::vector<TracedCall>> Session() {
  auto calls = std::make_shared<std::vector<TracedCall>>();
  std::string error;
  EXPECT_TRUE(ParseTrace(kSession, calls.get(), &error)) << error;
  return calls;
}

TEST_F(TraceReplayTest, APacedReplayWaitsTheRecordedDelayAndAStopCutsItShort) {
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stopped" : "paced");
    ReplayDriver replay(Session(), true, [](const std::string&) {});
    Clock::time_point now{};  // the injected clock
    std::vector<Clock::time_point> waits;
    replay.set_pace_clock({[&now] { return now; },
                           [&now, &waits](Clock::time_point until) {
                             waits.push_back(until);
                             now = until;
                           }});
    replay.set_stop_query([stop] { return stop; });
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_OK, replay.Open(0, &handle));
    const uint8_t ask_0[] = {0x02, 0x00, 0x04, 0x4C, 0x52, 0x00, 0x00, 0xE6};
    uint32_t count = 0;
    replay.Write(handle, ask_0, sizeof ask_0, &count);
    const Clock::time_point asked = now;
    uint8_t ack = 0;
    EXPECT_EQ(FT_OK, replay.Read(handle, &ack, 1, &count));
    EXPECT_EQ(stop ? 0u : 1u, count);
    EXPECT_EQ(stop ? asked : asked + std::chrono::microseconds(250000), now);
    EXPECT_EQ(stop, waits.empty());
  }
}

TEST_F(TraceReplayTest, AReplayIsLabelledAndWarnedOfAsTheRecordingBackend) {
  test::WriteFile(PathOf("session.txt"),
                  "0 TRACE driver=tty\n5 Where index=0 -> \"/dev/ttyUSB0\"\n"
                  "10 FT_Open index=0 -> 0 handle=1\n"
                  "20 FT_EE_Read handle=1 -> 0 description=\"SQ-71 Meter\"\n");
  test::WriteFile(PathOf("scenario.txt"), "timing = instant\nreplay = session.txt\n");
  const test::Sq71Outcome run =
      test::RunSq71Command({"read", "--sim", PathOf("scenario.txt"), "-o", PathOf("x.ulg")});
  EXPECT_NE(std::string::npos,
            run.err.find("device 0 (tty, /dev/ttyUSB0): the chip's identity was not fully "
                         "checked (the tty backend"))
      << run.err;
}

}  // namespace
}  // namespace sq71::sim
