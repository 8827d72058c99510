// The meter commands in process, over the simulated meter (--sim).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/sq71_cli.h"
#include "sim/sim_driver.h"

namespace sq71 {
namespace {

namespace fs = std::filesystem;

const std::string kDataDir = SQ71_TEST_DATA_DIR;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class MeterCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("sq71-meter-" + std::to_string(random()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  // A scenario file of instant meters whose ignored reply bytes differ from
  // the simulator's own.
  std::string Scenario(const std::string& devices) {
    const std::string path = PathOf("scenario.txt");
    std::ofstream(path) << "timing = instant\n" << devices;
    return path;
  }

  Outcome Sq71(std::initializer_list<std::string> args, const std::string& input = "",
               bool terminal = false) {
    std::vector<const char*> argv{"sq71"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream out, err;
    std::istringstream in(input);
    Console console;
    console.in = &in;
    console.in_terminal = terminal;
    const int status = RunSq71(static_cast<int>(argv.size()), argv.data(), out, err, console);
    return {status, out.str(), err.str()};
  }

  fs::path dir_;
};

TEST_F(MeterCommandsTest, EraseAsksOnATerminalAndErasesOnlyOnYes) {
  const std::string scenario = Scenario("[device]\nopen_bytes = 0x3C\n");
  Outcome run = Sq71({"erase", "--sim", scenario}, "n\n", true);
  EXPECT_EQ(kExitFailure, run.status);
  EXPECT_EQ(
      "Please confirm that you wish to erase the meter log data? [y/N] "
      "sq71: erase: not confirmed; the meter's log is left as it was\n",
      run.err);
  ASSERT_NE(nullptr, sim::MeterAt(0));
  EXPECT_EQ(0, sim::MeterAt(0)->exchanges());

  run = Sq71({"erase", "--sim", scenario}, "y\n", true);
  EXPECT_EQ(kExitOk, run.status) << run.err;
  EXPECT_EQ("device 0 (sim, CD710001): Meter log data erased\n", run.out);
  EXPECT_EQ(1, sim::MeterAt(0)->erases());
}

TEST_F(MeterCommandsTest, ReadWithoutANameNeverReplacesAnEarlierLog) {
  const std::string scenario = Scenario("[device]\nopen_bytes = 0x3C\n");
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  const Outcome first = Sq71({"read", "--sim", scenario, "-q"});
  const Outcome second = Sq71({"read", "--sim", scenario, "-q"});
  fs::current_path(before);
  const std::regex name("sq71-[0-9]{8}-[0-9]{6}(-[0-9]+)?\\.ulg\n");
  ASSERT_TRUE(std::regex_match(first.out, name)) << first.out;
  ASSERT_TRUE(std::regex_match(second.out, name)) << second.out;
  EXPECT_NE(first.out, second.out);
  const std::string sample = ReadAll(kDataDir + "/sample.ulg");
  EXPECT_EQ(sample, ReadAll(PathOf(first.out.substr(0, first.out.size() - 1))));
  EXPECT_EQ(sample, ReadAll(PathOf(second.out.substr(0, second.out.size() - 1))));
  EXPECT_EQ("", first.err + second.err);
}

TEST_F(MeterCommandsTest, FailuresNameTheDeviceTheRecordAndTheMessage) {
  const struct {
    const char* device;
    const char* err;
  } cases[] = {
      {"fault = record 3 bad_checksum\n",
       "sq71: read: device 0 (sim, CD710001): record 3: Checksum error; nothing written\n"},
      {"fault = record 9 record_number 1024\n",
       "sq71: read: device 0 (sim, CD710001): record 9: Invalid log entry; nothing written\n"},
      {"open = refuse\n",
       "sq71: read: device 0 (sim, CD710001): USB Port Error (the device cannot be opened, "
       "status 3)\n"},
  };
  for (const auto& c : cases) {
    const std::string scenario = Scenario(std::string("[device]\nopen_bytes = 0x3C\n") + c.device);
    const Outcome run = Sq71({"read", "--sim", scenario, "-o", PathOf("x.ulg")});
    EXPECT_EQ(kExitFailure, run.status) << c.device;
    EXPECT_EQ(c.err, run.err);
    EXPECT_FALSE(fs::exists(PathOf("x.ulg"))) << c.device;
  }
}

TEST_F(MeterCommandsTest, DevicesWithAnIndexListsThatDeviceOnly) {
  const std::string scenario = Scenario(
      "[device]\nopen_bytes = 0x3C\n"
      "[device]\nname = Second\nserial_number = CD710002\n"
      "[device]\nname = Third\nserial_number = CD710003\nopen_bytes = 0x3C\n");
  Outcome run = Sq71({"devices", "--sim", scenario, "-d", "2"});
  EXPECT_EQ(kExitOk, run.status);
  EXPECT_EQ("2\tThird\tCD710003\n1 meter found\n", run.out);
  run = Sq71({"devices", "--sim", scenario, "-d", "3"});
  EXPECT_EQ(kExitOk, run.status);
  EXPECT_EQ("0 meters found\n", run.out);
}

TEST_F(MeterCommandsTest, WrongUsageExitsWithTwoBeforeAnythingIsSent) {
  const std::string scenario = Scenario("[device]\n");
  const std::initializer_list<std::string> cases[] = {
      {"read", "--sim", scenario, "--backend", "d2xx"},
      {"read", "--port", "/dev/ttyUSB0", "--backend", "d2xx"},
      {"read", "-d", "-1"},
      {"read", "--backend", "serial"},
      {"read", "extra"},
      {"read", "-o", "a.ulg", "--csv", "a.ulg"},
      {"erase", "--sim", scenario},
      {"devices", "--keep-partial"},
  };
  for (const auto& args : cases) {
    const Outcome run = Sq71(args);
    const std::string command = *args.begin();
    EXPECT_EQ(kExitUsage, run.status) << run.err;
    EXPECT_EQ(0u, run.err.find("sq71: " + command + ": ")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("(see 'sq71 help " + command + "')\n")) << run.err;
    EXPECT_EQ("", run.out);
  }
  // The index in its own words, not the parser's range of a double.
  EXPECT_EQ("sq71: read: -d: a device index, 0 or more (see 'sq71 help read')\n",
            Sq71({"read", "-d", "-1"}).err);
}

TEST_F(MeterCommandsTest, HelpShowsTheMeterCommandsAndTheirOptions) {
  Outcome run = Sq71({"--help"});
  for (const char* line :
       {"\n  read [OPTIONS] ", "\n  erase [OPTIONS] ", "\n  devices [OPTIONS] "}) {
    EXPECT_NE(std::string::npos, run.out.find(line)) << line;
  }
  run = Sq71({"read", "-q", "--help"});
  EXPECT_EQ(kExitOk, run.status);
  EXPECT_EQ(0u, run.out.find("Usage: sq71 read [-o LOG.ulg]"));
  EXPECT_NE(std::string::npos, run.out.find("--backend NAME"));
}

#if !defined(_WIN32) && !defined(SQ71_HAVE_LIBFTDI)
TEST_F(MeterCommandsTest, ABackendLeftOutOfTheBuildIsReportedAsSuch) {
  const Outcome run = Sq71({"devices", "--backend", "libftdi"});
  EXPECT_EQ(kExitFailure, run.status);
  EXPECT_EQ(
      "sq71: devices: the libftdi backend is not built in (libftdi1 was not found when sq71 was "
      "built)\n",
      run.err);
}
#endif

}  // namespace
}  // namespace sq71
