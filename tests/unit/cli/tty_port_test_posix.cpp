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

}  // namespace
}  // namespace sq71
