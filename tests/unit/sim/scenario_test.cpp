#include "sim/scenario.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "sim/sample_log.h"

namespace sq71::sim {
namespace {

std::string WriteFile(const std::string& name, const std::string& bytes) {
  const std::string path = ::testing::TempDir() + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(nullptr, f) << path;
  if (f != nullptr) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return path;
}

std::string Folder(const std::string& path) { return path.substr(0, path.find_last_of("/\\")); }

TEST(Scenario, FullFile) {
  LogImage custom = MakeEmptyLog();
  RecordAt(custom, 0)[0] = 2;
  WriteFile("link_custom.ulg", std::string(custom.begin(), custom.end()));
  const std::string text =
      "# two meters on a slow timer\n"
      "timing = instant\n"
      "  latency_ms = 2  \n"
      "latency_timer = fixed\n"
      "erase_ms = 40\n"
      "trace = link_trace.txt\n"
      "\n"
      "[device]\n"
      "name = Roof # 1\n"
      "log = empty\n"
      "description = \"SQ-71 Meter \"\n"
      "pnp = 2\n"
      "self_powered = 1\n"
      "invert_dtr = 0\n"
      "invert_rxd = 1\n"
      "invert_txd = 0x02\n"
      "cbus4 = 3\n"
      "vendor_id = 0x0403\n"
      "product_id = 24597\n"
      "manufacturer = FTDI\n"
      "serial_number = A1B2C3\n"
      "open = refuse\n"
      "eeprom = fail\n"
      "fault = record 5 no_reply\n"
      "fault = exchange 3 bad_checksum\n"
      "fault = record 3 record_number 5\n"
      "fault = record 7 delay 1500\n"
      "fault = erase nak\n"
      "fault = identify short_reply 4\n"
      "fault = record 9 short_reply\n"
      "fault = record 11 late 250\n"
      "fault = exchange 12 unplug\n"
      "fault = record 300 checksum once\n"
      "fault = record 4 stray 3\n"
      "[device]\n"
      "log = link_custom.ulg\n";
  Scenario s;
  std::string error;
  const std::string dir = Folder(::testing::TempDir() + "x");
  ASSERT_TRUE(ParseScenario(text, dir, &s, &error)) << error;
  EXPECT_EQ(Timing::kInstant, s.timing);
  EXPECT_EQ(2, s.latency_ms);
  EXPECT_FALSE(s.latency_settable);
  EXPECT_EQ(40, s.erase_ms);
  EXPECT_EQ(dir + "/link_trace.txt", s.trace_path);
  ASSERT_EQ(2u, s.devices.size());

  const MeterConfig& a = s.devices[0];
  EXPECT_EQ("Roof # 1", a.name);  // '#' inside a value is kept
  EXPECT_EQ(MakeEmptyLog(), a.log);
  EXPECT_EQ("SQ-71 Meter ", a.eeprom.description);
  EXPECT_EQ(2, a.eeprom.pnp);
  EXPECT_EQ(1, a.eeprom.self_powered);
  EXPECT_EQ(0, a.eeprom.invert_dtr);
  EXPECT_EQ(1, a.eeprom.invert_rxd);
  EXPECT_EQ(2, a.eeprom.invert_txd);
  EXPECT_EQ(3, a.eeprom.cbus4);
  EXPECT_EQ(0x6015, a.eeprom.product_id);
  EXPECT_EQ("FTDI", a.eeprom.manufacturer);
  EXPECT_EQ("A1B2C3", a.eeprom.serial_number);
  EXPECT_TRUE(a.refuse_open);
  EXPECT_TRUE(a.eeprom_read_fails);
  ASSERT_EQ(11u, a.faults.size());
  const char* described[] = {"record 5 no_reply",
                             "exchange 3 bad_checksum",
                             "record 3 record_number 5",
                             "record 7 delay 1500",
                             "erase nak",
                             "identify short_reply 4",
                             "record 9 short_reply",
                             "record 11 late 250",
                             "exchange 12 unplug",
                             "record 300 bad_checksum once",
                             "record 4 stray 3"};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(described[i], DescribeFault(a.faults[i]));
  EXPECT_EQ(FaultAction::kShortReply, a.faults[6].action);
  EXPECT_EQ(-1, a.faults[6].value);

  const MeterConfig& b = s.devices[1];
  EXPECT_EQ("SQ-71 Meter", b.name);  // defaults: the expected identity
  EXPECT_EQ(custom, b.log);
  EXPECT_EQ("SQ-71 Meter", b.eeprom.description);
  EXPECT_EQ(1, b.eeprom.invert_dtr);
  EXPECT_EQ(5, b.eeprom.cbus4);
  EXPECT_FALSE(b.refuse_open);
  EXPECT_TRUE(b.faults.empty());
}

TEST(Scenario, DefaultsAndEmptyText) {
  Scenario s;
  std::string error;
  ASSERT_TRUE(ParseScenario("# nothing attached\n", "", &s, &error));
  EXPECT_EQ(Timing::kWire, s.timing);
  EXPECT_EQ(16, s.latency_ms);
  EXPECT_TRUE(s.latency_settable);
  EXPECT_EQ(1500, s.erase_ms);
  EXPECT_TRUE(s.trace_path.empty());
  EXPECT_TRUE(s.devices.empty());

  const Scenario d = DefaultScenario();
  ASSERT_EQ(1u, d.devices.size());
  EXPECT_EQ(Timing::kWire, d.timing);
  EXPECT_EQ(16, d.latency_ms);
  EXPECT_EQ("SQ-71 Meter", d.devices[0].name);
  EXPECT_EQ(MakeSampleLog(), d.devices[0].log);
}

TEST(Scenario, WindowsLineEndsAndAbsolutePaths) {
  Scenario s;
  std::string error;
  ASSERT_TRUE(
      ParseScenario("trace = Z:\\tmp\\t.txt\r\n[device]\r\nname = A\r\n", "/base", &s, &error))
      << error;
  EXPECT_EQ("Z:\\tmp\\t.txt", s.trace_path);
  EXPECT_EQ("A", s.devices[0].name);
  ASSERT_TRUE(ParseScenario("trace = /var/t.txt\n", "/base", &s, &error));
  EXPECT_EQ("/var/t.txt", s.trace_path);
}

TEST(Scenario, EachErrorNamesItsLine) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"colour = red\n", "line 1: unknown key 'colour'"},
      {"timing = fast\n", "line 1: timing must be instant or wire, not 'fast'"},
      {"latency_ms = 1\n", "line 1: latency_ms must be a number from 2 to 255, not '1'"},
      {"latency_ms = 256\n", "line 1: latency_ms must be a number from 2 to 255, not '256'"},
      {"latency_ms = 16ms\n", "line 1: latency_ms must be a number from 2 to 255, not '16ms'"},
      {"latency_timer = no\n", "line 1: latency_timer must be settable or fixed, not 'no'"},
      {"erase_ms = -5\n", "line 1: erase_ms must be a number from 0 to 600000, not '-5'"},
      {"[device]\nerase_ms = 5\n",
       "line 2: 'erase_ms' must come before the first [device] section"},
      {"trace =\n", "line 1: trace needs a file name"},
      {"name = A\n", "line 1: 'name' belongs in a [device] section"},
      {"[meter]\n", "line 1: unknown section '[meter]' (only [device])"},
      {"# c\njust words\n", "line 2: expected 'key = value', got 'just words'"},
      {"= 5\n", "line 1: missing key before '='"},
      {"[device]\ntiming = wire\n", "line 2: 'timing' must come before the first [device] section"},
      {"[device]\nspeed = 9600\n", "line 2: unknown key 'speed'"},
      {"[device]\npnp = -1\n", "line 2: pnp must be a number from 0 to 65535, not '-1'"},
      {"[device]\ncbus4 = 256\n", "line 2: cbus4 must be a number from 0 to 255, not '256'"},
      {"[device]\ninvert_dtr = yes\n",
       "line 2: invert_dtr must be a number from 0 to 255, not 'yes'"},
      {"[device]\nopen = never\n", "line 2: open must be refuse or allow, not 'never'"},
      {"[device]\neeprom = broken\n", "line 2: eeprom must be fail or ok, not 'broken'"},
      {"[device]\nlog =\n", "line 2: log must be sample, empty or a .ulg file"},
      {"[device]\ndescription = "
       "0123456789012345678901234567890123456789012345678901234567890123\n",
       "line 2: description is longer than 63 characters"},
      {"[device]\nfault =\n", "line 2: fault needs a request and an action"},
      {"[device]\nfault = block 5 nak\n",
       "line 2: fault: unknown request 'block' (record N, exchange N, erase or identify)"},
      {"[device]\nfault = record nak\n", "line 2: fault: 'record' needs a number from 0 to 65535"},
      {"[device]\nfault = exchange 0 nak\n",
       "line 2: fault: 'exchange' needs a number from 1 to 65535"},
      {"[device]\nfault = record 5\n", "line 2: fault: missing action after '5'"},
      {"[device]\nfault = erase explode\n",
       "line 2: fault: unknown action 'explode' (no_reply, short_reply, nak, bad_checksum, "
       "record_number, delay, late, unplug, stray)"},
      {"[device]\nfault = record 3 record_number\n",
       "line 2: fault: record_number needs a number from 0 to 65535"},
      {"[device]\nfault = record 3 delay soon\n",
       "line 2: fault: delay needs a number from 0 to 600000"},
      {"[device]\nfault = record 3 late\n", "line 2: fault: late needs a number from 0 to 600000"},
      {"[device]\nfault = record 3 unplug 2\n", "line 2: fault: unexpected '2'"},
      {"[device]\nfault = record 3 short_reply x\n",
       "line 2: fault: short_reply takes a byte count, not 'x'"},
      {"[device]\nfault = record 3 nak 5\n", "line 2: fault: unexpected '5'"},
  };
  for (const Case& c : cases) {
    Scenario s;
    s.latency_ms = 99;
    std::string error;
    EXPECT_FALSE(ParseScenario(c.text, "", &s, &error)) << c.text;
    EXPECT_EQ(c.message, error) << c.text;
    EXPECT_EQ(99, s.latency_ms) << "a failed parse changes nothing but the trace path";
  }
}

TEST(Scenario, TracePathSurvivesALaterError) {
  Scenario s;
  std::string error;
  EXPECT_FALSE(ParseScenario("trace = t.txt\nbogus = 1\n", "/d", &s, &error));
  EXPECT_EQ("/d/t.txt", s.trace_path);
  EXPECT_TRUE(s.devices.empty());
}

TEST(Scenario, LogFilesMustBeOneImage) {
  const std::string dir = Folder(WriteFile("link_short.ulg", std::string(65535, '\0')));
  WriteFile("link_long.ulg", std::string(65537, '\0'));
  Scenario s;
  std::string error;
  EXPECT_FALSE(ParseScenario("[device]\nlog = link_short.ulg\n", dir, &s, &error));
  EXPECT_EQ("line 2: log file '" + dir + "/link_short.ulg' is not 65536 bytes", error);
  EXPECT_FALSE(ParseScenario("[device]\nlog = link_long.ulg\n", dir, &s, &error));
  EXPECT_EQ("line 2: log file '" + dir + "/link_long.ulg' is not 65536 bytes", error);
  EXPECT_FALSE(ParseScenario("[device]\nlog = link_missing.ulg\n", dir, &s, &error));
  EXPECT_EQ(
      "line 2: cannot open log file '" + dir + "/link_missing.ulg': No such file or directory",
      error);
}

TEST(Scenario, FileIsReadRelativeToItsFolder) {
  const LogImage sample = MakeSampleLog();
  WriteFile("link_rel.ulg", std::string(sample.begin(), sample.end()));
  const std::string path =
      WriteFile("link_scenario.txt", "timing = instant\n[device]\nlog = link_rel.ulg\n");
  Scenario s;
  std::string error;
  ASSERT_TRUE(LoadScenarioFile(path, &s, &error)) << error;
  ASSERT_EQ(1u, s.devices.size());
  EXPECT_EQ(sample, s.devices[0].log);

  EXPECT_FALSE(LoadScenarioFile(path + ".missing", &s, &error));
  EXPECT_EQ("cannot open scenario file '" + path + ".missing': No such file or directory", error);
  const std::string bad = WriteFile("link_bad.txt", "[device]\nfault = record\n");
  EXPECT_FALSE(LoadScenarioFile(bad, &s, &error));
  EXPECT_EQ(bad + ": line 2: fault: 'record' needs a number from 0 to 65535", error);
}

}  // namespace
}  // namespace sq71::sim
