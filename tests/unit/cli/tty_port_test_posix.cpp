// sq71 over the tty backend (--port) against a simulated meter on a
// pseudo-terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/sq71_cli.h"
#include "log/log_files.h"
#include "log/log_image.h"
#include "sim/pty_meter_posix.h"
#include "sim/sample_log.h"

namespace sq71 {
namespace {

namespace fs = std::filesystem;

class TtyPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("sq71-tty-" + std::to_string(random()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  int Sq71(const std::vector<std::string>& args, std::string* err) {
    std::vector<const char*> argv{"sq71"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream out, errors;
    const int status = RunSq71(static_cast<int>(argv.size()), argv.data(), out, errors);
    *err = errors.str();
    return status;
  }
  static sim::MeterConfig Meter() {
    sim::MeterConfig config;
    config.record_reply_open = {0x7E, 0x01, 0x02, 0x03};
    config.identify_reply_open = 0x7E;
    return config;
  }

  fs::path dir_;
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

TEST_F(TtyPortTest, CtrlCKeepsWhatCameAndAsksNothingMore) {
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
}

}  // namespace
}  // namespace sq71
