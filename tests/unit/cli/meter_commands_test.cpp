// The meter commands in process, over the simulated meter (--sim).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/sq71_cli.h"
#include "tests/support/sq71_fixture.h"

namespace sq71 {
namespace {

namespace fs = std::filesystem;

const std::string kDataDir = SQ71_TEST_DATA_DIR;

using test::ReadFile;

class MeterCommandsTest : public test::TempDirTest {
 protected:
  // How many lines of the scenario's trace file start with `prefix`.
  int TraceCount(const std::string& prefix) {
    std::istringstream lines(ReadFile(PathOf("trace.txt")));
    int count = 0;
    for (std::string line; std::getline(lines, line);) count += line.rfind(prefix, 0) == 0;
    return count;
  }
  // A scenario file of instant meters whose ignored reply bytes differ from
  // the simulator's own.
  std::string Scenario(const std::string& devices) {
    const std::string path = PathOf("scenario.txt");
    std::ofstream(path) << "timing = instant\ntrace = trace.txt\n" << devices;
    return path;
  }

  test::Sq71Outcome Sq71(const std::vector<std::string>& args, const std::string& input = "",
                         bool terminal = false) {
    return test::RunSq71Command(args, input, terminal);
  }
};

TEST_F(MeterCommandsTest, EraseAsksOnATerminalAndErasesOnlyOnYes) {
  const std::string scenario = Scenario("[device]\nopen_bytes = 0x3C\n");
  test::Sq71Outcome run = Sq71({"erase", "--sim", scenario}, "n\n", true);
  EXPECT_EQ(kExitFailure, run.status);
  EXPECT_EQ(
      "device 0 (sim, CD710001): Please confirm that you wish to erase the meter log data? [y/N] "
      "sq71: erase: not confirmed; the meter's log is left as it was\n",
      run.err);
  EXPECT_EQ(std::string::npos, ReadFile(PathOf("trace.txt")).find("METER 0"))
      << "a request went out";

  run = Sq71({"erase", "--sim", scenario}, "y\n", true);
  EXPECT_EQ(kExitOk, run.status) << run.err;
  EXPECT_EQ("device 0 (sim, CD710001): Meter log data erased\n", run.out);
  EXPECT_NE(std::string::npos, ReadFile(PathOf("trace.txt")).find("METER 0 LE: reply 1 bytes"));
}

TEST_F(MeterCommandsTest, ReadWithoutANameNeverReplacesAnEarlierLog) {
  const std::string scenario = Scenario("[device]\nopen_bytes = 0x3C\n");
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  const test::Sq71Outcome first = Sq71({"read", "--sim", scenario, "-q"});
  const test::Sq71Outcome second = Sq71({"read", "--sim", scenario, "-q"});
  fs::current_path(before);
  const std::regex name("sq71-[0-9]{8}-[0-9]{6}(-[0-9]+)?\\.ulg\n");
  ASSERT_TRUE(std::regex_match(first.out, name)) << first.out;
  ASSERT_TRUE(std::regex_match(second.out, name)) << second.out;
  EXPECT_NE(first.out, second.out);
  const std::string sample = ReadFile(kDataDir + "/sample.ulg");
  EXPECT_EQ(sample, ReadFile(PathOf(first.out.substr(0, first.out.size() - 1))));
  EXPECT_EQ(sample, ReadFile(PathOf(second.out.substr(0, second.out.size() - 1))));
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
      {"fault = record 7 record_number 5\n",
       "sq71: read: device 0 (sim, CD710001): record 7: the meter answered for record 5; "
       "nothing written\n"},
      {"open = refuse\n",
       "sq71: read: device 0 (sim, CD710001): USB Port Error (the device cannot be opened, "
       "status 3); run `sq71 doctor` to see why\n"},
      {"refuse = baud_rate\n",
       "sq71: read: device 0 (sim, CD710001): USB Port Error (invalid baud rate, status 7); run "
       "`sq71 doctor` to see why\n"},
      // No meter at that index: its status said by name too.
      {"", "sq71: read: device 5 (sim): USB Port Error (no such device, status 2); run "
           "`sq71 doctor` to see why\n"},
  };
  for (const auto& c : cases) {
    const std::string scenario = Scenario(std::string("[device]\nopen_bytes = 0x3C\n") + c.device);
    std::vector<std::string> args = {"read", "--sim", scenario, "-o", PathOf("x.ulg")};
    if (*c.device == '\0') args.insert(args.end(), {"-d", "5"});
    const test::Sq71Outcome run = Sq71(args);
    EXPECT_EQ(kExitFailure, run.status) << c.device;
    EXPECT_EQ(c.err, run.err);
    EXPECT_FALSE(fs::exists(PathOf("x.ulg"))) << c.device;
  }
}

TEST_F(MeterCommandsTest, GlitchesThatPassAreRiddenOutUnlessRetriesAreOff) {
  // Noise after record 2's reply; a bad checksum at 5 and silence at 8, once.
  const std::string scenario = Scenario(
      "[device]\nopen_bytes = 0x3C\nfault = record 2 stray 3\n"
      "fault = record 5 bad_checksum once\nfault = record 8 no_reply once\n");
  const std::string log = PathOf("a.ulg");
  test::Sq71Outcome run = Sq71({"read", "--sim", scenario, "-o", log});
  EXPECT_EQ(kExitOk, run.status) << run.err;
  EXPECT_EQ(ReadFile(kDataDir + "/sample.ulg"), ReadFile(log));
  EXPECT_NE(std::string::npos, run.err.find("records/s, 2 retries)")) << run.err;
  // Both directions at the start, after the noise and after each failure.
  EXPECT_EQ(8, TraceCount("FT_Purge"));

  // Without retries the noise is still purged, and the first failure ends it.
  run = Sq71({"read", "--sim", scenario, "-o", log, "--retries", "0"});
  EXPECT_EQ(kExitFailure, run.status);
  EXPECT_EQ("sq71: read: device 0 (sim, CD710001): record 5: Checksum error; nothing written\n",
            run.err);
}

TEST_F(MeterCommandsTest, ResumeGoesOnFromAPartialLogOnlyWhenItsLastRecordIsUnchanged) {
  const std::string scenario = Scenario("[device]\nopen_bytes = 0x3C\nfault = record 7 no_reply\n");
  const std::string partial = PathOf("p.ulg");
  test::Sq71Outcome run = Sq71({"read", "--sim", scenario, "-o", partial, "--keep-partial", "-q"});
  EXPECT_EQ(kExitFailure, run.status);
  EXPECT_EQ(
      "sq71: read: device 0 (sim, CD710001): record 7: Error - Handshake not received; 7 records "
      "kept\n",
      run.err);
  EXPECT_EQ(3, TraceCount("METER 0 LR 7:")) << "asked once and retried twice";
  const std::string kept = ReadFile(partial);

  // A meter whose log has changed since: nothing is written.
  run = Sq71({"read", "--sim", Scenario("[device]\nlog = empty\n"), "--resume", partial, "-q"});
  EXPECT_EQ(kExitFailure, run.status);
  EXPECT_EQ(
      "sq71: read: device 0 (sim, CD710001): record 6 is not as '" + partial +
          "' holds it: the meter's log has changed; nothing written; read the whole log again "
          "without --resume\n",
      run.err);
  EXPECT_EQ(kept, ReadFile(partial));

  // The meter as it was, the glitch gone: the whole log, from record 6 on.
  run = Sq71({"read", "--sim", Scenario("[device]\nopen_bytes = 0x3C\n"), "--resume", partial});
  EXPECT_EQ(kExitOk, run.status) << run.err;
  EXPECT_EQ(ReadFile(kDataDir + "/sample.ulg"), ReadFile(partial));
  // Counted are record 6 again and 7 to the end marker at 36: this run's.
  EXPECT_NE(std::string::npos, run.err.find("sq71: read: 31 records, 36 entries in "))
      << run.err;
  EXPECT_EQ(0, TraceCount("METER 0 LR 5:"));
  EXPECT_EQ(1, TraceCount("METER 0 LR 6:"));
}

TEST_F(MeterCommandsTest, DashIsStandardOutputAndOnlyDataGoesThere) {
  const std::string scenario = Scenario("[device]\nopen_bytes = 0x3C\n");
  test::Sq71Outcome run = Sq71({"read", "--sim", scenario, "-o", "-", "--csv", PathOf("a.csv")});
  EXPECT_EQ(kExitOk, run.status) << run.err;
  EXPECT_EQ(ReadFile(kDataDir + "/sample.ulg"), run.out);
  EXPECT_NE(std::string::npos, run.err.find("saved standard output and '")) << run.err;
  // The CSV alone on standard output: the log's made-up name is not mixed in.
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  run = Sq71({"read", "--sim", scenario, "--csv", "-", "-q"});
  fs::current_path(before);
  EXPECT_EQ(kExitOk, run.status) << run.err;
  EXPECT_EQ(ReadFile(kDataDir + "/sample.csv"), run.out);
  EXPECT_EQ("", run.err);
  run = Sq71({"devices", "--sim", scenario, "-q"});
  EXPECT_EQ("0\tSQ-71 Meter\tCD710001\n", run.out);
}

// A log that could not be written is found out before the meter is asked
// for anything, and a binary log never goes to a terminal.
TEST_F(MeterCommandsTest, OutputsThatCannotBeWrittenStopTheReadBeforeItStarts) {
  const std::string scenario = Scenario("[device]\nopen_bytes = 0x3C\n");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{"-o", PathOf("none/x.ulg")}, kExitFailure,
       "sq71: read: cannot write '" + PathOf("none/x.ulg") +
           "': No such file or directory; nothing was asked of the meter\n"},
      {{"--csv", PathOf("scenario.txt/x.csv")}, kExitFailure,
       "sq71: read: cannot write '" + PathOf("scenario.txt/x.csv") +
           "': Not a directory; nothing was asked of the meter\n"},
      {{"-o", "-"}, kExitUsage,
       "sq71: read: a .ulg log is binary and standard output is a terminal: redirect it (sq71 "
       "read -o - > LOG.ulg) or name a file with -o (see 'sq71 help read')\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"read", "--sim", scenario};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const test::Sq71Outcome run = test::RunSq71Command(args, "", false, true);
    EXPECT_EQ(c.status, run.status);
    EXPECT_EQ(c.err, run.err);
    EXPECT_EQ("", run.out);
    EXPECT_EQ(0, TraceCount("METER")) << run.err;
  }
}

TEST_F(MeterCommandsTest, DevicesWithAnIndexListsThatDeviceOnly) {
  const std::string scenario = Scenario(
      "[device]\nopen_bytes = 0x3C\n"
      "[device]\nname = Second\nserial_number = CD710002\n"
      "[device]\nname = Third\nserial_number = CD710003\nopen_bytes = 0x3C\n");
  test::Sq71Outcome run = Sq71({"devices", "--sim", scenario, "-d", "2"});
  EXPECT_EQ(kExitOk, run.status);
  EXPECT_EQ("2\tThird\tCD710003\n1 meter found\n", run.out);
  run = Sq71({"devices", "--sim", scenario, "-d", "3"});
  EXPECT_EQ(kExitOk, run.status);
  EXPECT_EQ("0 meters found\n", run.out);
  EXPECT_EQ("sq71: devices: no meter answers; run `sq71 doctor` to see why\n", run.err);
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
      // An empty name is no demo meter, and never a real one either.
      {"erase", "--yes", "--sim", ""},
      {"devices", "--sim="},
      {"devices", "--keep-partial"},
  };
  for (const auto& args : cases) {
    const test::Sq71Outcome run = Sq71(args);
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
  test::Sq71Outcome run = Sq71({"--help"});
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
  const test::Sq71Outcome run = Sq71({"devices", "--backend", "libftdi"});
  EXPECT_EQ(kExitFailure, run.status);
  EXPECT_EQ(
      "sq71: devices: the libftdi backend is not built in (libftdi1 was not found when sq71 was "
      "built)\n",
      run.err);
}
#endif

}  // namespace
}  // namespace sq71

namespace sq71 {
namespace {

// Each reason the doctor finds gets its own advice: a chip set up as
// another device is about its description, one that cannot be opened about
// who holds it or may open it.
TEST_F(MeterCommandsTest, DoctorAdvisesForTheReasonItFound) {
  const struct {
    const char* device;
    const char* next;
  } cases[] = {
      {"description = FT232R USB UART\n",
       "0 meters answer. Next: the device found is not a meter: a meter's chip describes itself "
       "as \"SQ-71 Meter\"; plug in the meter itself, then run sq71 doctor again\n"},
      {"open = refuse\n", "0 meters answer. Next: close any program that holds the meter; if "
                          "none does, permission denied"},
  };
  for (const auto& c : cases) {
    const test::Sq71Outcome run =
        Sq71({"doctor", "--sim", Scenario(std::string("[device]\n") + c.device)});
    EXPECT_EQ(kExitFailure, run.status);
    EXPECT_NE(std::string::npos, run.out.find(c.next)) << run.out;
  }
}

}  // namespace
}  // namespace sq71
