// sq71 over the tty backend (--port) against a simulated meter on a
// pseudo-terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/sq71_cli.h"
#include "log/log_files.h"
#include "log/log_image.h"
#include "sim/pty_meter_posix.h"
#include "sim/sample_log.h"
#include "sim/trace_reader.h"
#include "tests/support/sq71_fixture.h"

namespace sq71 {
namespace {

namespace fs = std::filesystem;

class TtyPortTest : public test::TempDirTest {
 protected:
  int Sq71(const std::vector<std::string>& args, std::string* err) {
    const test::Sq71Outcome run = test::RunSq71Command(args);
    *err = run.err;
    return run.status;
  }
  static sim::MeterConfig Meter() {
    sim::MeterConfig config;
    config.record_reply_open = {0x7E, 0x01, 0x02, 0x03};
    config.identify_reply_open = 0x7E;
    return config;
  }
};

TEST_F(TtyPortTest, ReadsTheLogWithAWarningThatTheIdentityWasNotFullyChecked) {
  sim::PtyMeter meter(Meter());
  ASSERT_TRUE(meter.ok()) << meter.error();
  const std::string log = (dir_ / "a.ulg").string();
  std::string err;
  EXPECT_EQ(kExitOk, Sq71({"read", "--port", meter.port(), "-o", log}, &err)) << err;
  EXPECT_EQ(0u, err.find("sq71: warning: device 0 (tty, " + meter.port() +
                         "): the chip's identity was not fully checked"))
      << err;
  LogImage image{};
  ASSERT_TRUE(ReadUlgFile(log.c_str(), &image).ok());
  EXPECT_TRUE(image == sim::MakeSampleLog());
}

// The identity warning belongs to a read that goes on: a failure is one line.
TEST_F(TtyPortTest, APortThatWillNotOpenGivesOneLineWithoutTheWarning) {
  const std::string port = (dir_ / "none").string();
  std::string err;
  EXPECT_EQ(kExitFailure, Sq71({"read", "--port", port, "-o", (dir_ / "x.ulg").string()}, &err));
  EXPECT_EQ(0u, err.find("sq71: read: device 0 (tty, " + port + "): ")) << err;
  EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;
}

TEST_F(TtyPortTest, CtrlCKeepsWhatCameAndResumeCompletesIt) {
  sim::MeterConfig config = Meter();
  // Slow from record 3 on: the interrupt always comes mid-download.
  for (int record = 3; record < 36; ++record) {
    config.faults.push_back({sim::FaultWhen::kRecord, record, sim::FaultAction::kDelay, 300});
  }
  sim::PtyMeter meter(config);
  ASSERT_TRUE(meter.ok()) << meter.error();
  std::thread interrupter([&meter] {
    while (meter.Requests().size() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    kill(getpid(), SIGINT);
  });
  const std::string log = (dir_ / "b.ulg").string();
  std::string err;
  const int status =
      Sq71({"read", "-q", "--port", meter.port(), "-o", log, "--keep-partial"}, &err);
  interrupter.join();
  EXPECT_EQ(kExitInterrupted, status) << err;

  LogImage image{};
  ASSERT_TRUE(ReadUlgFile(log.c_str(), &image).ok()) << err;
  const int kept = EntryCount(image, nullptr);
  const std::size_t asked = meter.Requests().size();
  // Every record asked for came and was kept, the log ends right after
  // them, and nothing was asked once the interrupt had come.
  EXPECT_EQ(asked, static_cast<std::size_t>(kept));
  EXPECT_GE(kept, 3);
  EXPECT_LT(kept, 36);
  const LogImage sample = sim::MakeSampleLog();
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + kept * kRecordSize, sample.begin()));
  EXPECT_EQ(kEndMarker, RecordAt(image, kept)[rec::kStatus]);

  // Resumed on a meter without the delays: the whole log.
  sim::PtyMeter again(Meter());
  ASSERT_TRUE(again.ok()) << again.error();
  EXPECT_EQ(kExitOk, Sq71({"read", "-q", "--port", again.port(), "--resume", log}, &err)) << err;
  ASSERT_TRUE(ReadUlgFile(log.c_str(), &image).ok());
  EXPECT_TRUE(image == sample);
}

TEST_F(TtyPortTest, TraceHoldsEveryRequestAndReplyThatPassed) {
  sim::PtyMeter meter(Meter());
  ASSERT_TRUE(meter.ok()) << meter.error();
  const std::string trace = (dir_ / "trace.txt").string();
  std::string err;
  ASSERT_EQ(kExitOk, Sq71({"read", "-q", "--port", meter.port(), "-o", (dir_ / "c.ulg").string(),
                           "--trace", trace},
                          &err))
      << err;
  std::vector<sim::TracedCall> calls;
  ASSERT_TRUE(sim::LoadTraceFile(trace, &calls, &err)) << err;
  // Each request as the meter took it, and the reply it sent: the record
  // behind the bytes this meter puts where the program does not look.
  std::vector<std::string> requests;
  const LogImage sample = sim::MakeSampleLog();
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].name != "FT_Write") continue;
    const std::vector<uint8_t>& w = calls[i].bytes;
    ASSERT_EQ(8u, w.size());
    const int record = w[5] * 256 + w[6];
    requests.push_back("LR " + std::to_string(record));
    ASSERT_LT(i + 1, calls.size());
    const std::vector<uint8_t>& r = calls[i + 1].bytes;
    ASSERT_EQ("FT_Read", calls[i + 1].name);
    ASSERT_EQ(72u, r.size()) << "line " << calls[i + 1].line;
    EXPECT_EQ(0x7E, r[1]);
    EXPECT_TRUE(std::equal(r.begin() + 7, r.begin() + 71, RecordAt(sample, record)));
  }
  EXPECT_EQ(meter.Requests(), requests);
}

TEST_F(TtyPortTest, DoctorTellsAMeterFromAPortThatDoesNotAnswer) {
  sim::MeterConfig silent = Meter();
  silent.faults.push_back({sim::FaultWhen::kIdentify, 0, sim::FaultAction::kNoReply, -1});
  sim::PtyMeter meter(Meter());
  sim::PtyMeter other(silent);
  ASSERT_TRUE(meter.ok() && other.ok());
  test::Sq71Outcome run = test::RunSq71Command({"doctor", "--port", meter.port()});
  EXPECT_EQ(kExitOk, run.status) << run.err;
  EXPECT_EQ("tty, serial ports (/dev/ttyUSB*):\n  " + meter.port() +
                ": a meter, answers as \"SQ-71 Meter\"\n1 meter answers. Next: sq71 read --port " +
                meter.port() + " downloads its log\n",
            run.out);
  run = test::RunSq71Command({"doctor", "--port", other.port()});
  EXPECT_EQ(kExitFailure, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.out.find(other.port() + ": opens, but gives no answer"))
      << run.out;
  EXPECT_NE(std::string::npos, run.out.find("0 meters answer. Next: switch the meter on"))
      << run.out;
}

}  // namespace
}  // namespace sq71
