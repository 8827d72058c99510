// Text from outside (file names, ports, scenario values, a meter's name, the
// names in a log) reaching the terminal through every command: never a raw
// control byte, never a line broken or forged, never more than 200
// characters of it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/sq71_cli.h"
#include "log/decoder.h"
#include "log/log_files.h"
#include "log/record_builder.h"
#include "tests/support/sq71_fixture.h"

namespace sq71 {
namespace {

using test::Record;
using test::RunSq71Command;
using test::WriteFile;

// What may not reach a terminal: C0 controls but the line end and the
// column tab, DEL, C1 controls and the bidirectional override; and a line
// longer than a message around two texts of 200 characters from outside.
std::string RawTroubleIn(const std::string& text) {
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n') {
      if (i - line_start > 600) return "a line of " + std::to_string(i - line_start) + " bytes";
      line_start = i + 1;
    } else if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
      return "byte " + std::to_string(byte) + " at " + std::to_string(i);
    } else if (byte == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      return "a C1 control at " + std::to_string(i);
    } else if (text.compare(i, 3, "\xE2\x80\xAE") == 0) {
      return "U+202E at " + std::to_string(i);
    }
  }
  return "";
}

class HostileTextTest : public test::TempDirTest {
 protected:
  // A title-setting escape, a forged line, a reversal, a C1 control, and
  // more text than a message shows.
  std::string Hostile(const std::string& tail = "") const {
    return PathOf("\x1b]0;owned\x07\nsq71: ok \xE2\x80\xAE\xC2\x9B" + std::string(300, 'A') + tail);
  }
};

// Every command's error paths, each given the hostile name where outside
// text goes in.
TEST_F(HostileTextTest, EveryCommandsErrorsKeepOutsideTextInert) {
  const std::string log = PathOf("log.ulg");
  ASSERT_TRUE(WriteUlgFile(log.c_str(), [] {
                LogImage image{};
                Record(image, 0).Id(1, 1).Name("SAT");
                return image;
              }()).ok());
  // A log whose name is itself hostile, short enough to exist.
  const std::string named = PathOf("\x1b[2J\n\xC2\x9B.ulg");
  WriteFile(named, test::ReadFile(log));
  const std::string scenario = PathOf("meter.txt");
  WriteFile(scenario, "timing = instant\n[device]\nname = \x1b]0;owned\x07\xE2\x80\xAE\n"
                      "[device]\ndescription = \"\x1b[2J\"\n");
  const std::string bad_scenario = PathOf("bad.txt");
  WriteFile(bad_scenario, "colour = \x1b]0;owned\x07" + std::string(500, 'B') + "\n");
  const std::string h = Hostile();
  const std::vector<std::vector<std::string>> runs = {
      {"view", h},
      {"view", "--json", h},
      {"export", h, PathOf("o.csv")},
      {"export", log, h + "/o.csv"},
      {"export", named, named},
      {"report", h},
      {"report", log, "-o", h + "/r.html"},
      {"report", named, "-o", named},
      {"report", log, "--title", h, "--good", h},
      {"read", "--sim", h},
      {"read", "--sim", bad_scenario},
      {"read", "--sim", scenario, "-o", h + "/x.ulg"},
      {"read", "--sim", scenario, "--resume", h},
      {"read", "--sim", scenario, "--trace", h + "/t.txt"},
      {"read", "--port", h},
      {"erase", "--yes", "--sim", h},
      {"devices", "--sim", h},
      {"devices", "--sim", scenario},
      {"doctor", "--sim", h},
      {"doctor", "--sim", scenario},
      {"doctor", "--sim", bad_scenario},
      {"doctor", "--port", h},
      {"doctor", "--sim", scenario, "--trace", h + "/t.txt"},
      {"view", "--" + h},
      {h},
      {"help", h},
      {"-" + h},
  };
  for (const std::vector<std::string>& args : runs) {
    const test::Sq71Outcome run = RunSq71Command(args);
    const std::string said = run.out + run.err;
    EXPECT_EQ("", RawTroubleIn(said)) << args[0] << " " << args[1] << "\n" << said;
  }
}

// view and export - to a terminal: a name's Windows-1252 bytes in UTF-8,
// its controls, backslash and undefined bytes escaped, every row its 22
// columns; to a pipe the CSV keeps its bytes.
TEST_F(HostileTextTest, NamesInALogReachATerminalEscapedAndAPipeExactly) {
  LogImage image{};
  const std::string names[] = {"a\tb\nc", "\x1b]0;x\x07", "caf\xE9\\", "\x81\x8D\x8F\x90\x9D\x7F"};
  for (int i = 0; i < 4; ++i) Record(image, i).Id(1, static_cast<uint16_t>(i)).Name(names[i]);
  MarkLogEnd(image, 4);
  const std::string log = PathOf("names.ulg");
  ASSERT_TRUE(WriteUlgFile(log.c_str(), image).ok());
  const test::Sq71Outcome view = RunSq71Command({"view", log});
  EXPECT_EQ("", RawTroubleIn(view.out));
  std::size_t rows = 0;
  for (std::size_t at = 0, end; (end = view.out.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string row = view.out.substr(at, end - at);
    EXPECT_EQ(21, std::count(row.begin(), row.end(), '\t')) << row;
    ++rows;
  }
  EXPECT_EQ(4u, rows);
  for (const char* shown : {"a\\x09b\\x0ac", "\\x1b]0;x\\x07", "caf\xC3\xA9\\\\",
                            "\\x81\\x8d\\x8f\\x90\\x9d\\x7f"}) {
    EXPECT_NE(std::string::npos, view.out.find(shown)) << shown;
  }
  const test::Sq71Outcome terminal = RunSq71Command({"export", log, "-"}, "", false, true);
  std::string lines = terminal.out;
  for (std::size_t at; (at = lines.find("\r\n")) != std::string::npos;) lines.replace(at, 2, "\n");
  EXPECT_EQ("", RawTroubleIn(lines));
  EXPECT_NE(std::string::npos, terminal.out.find("caf\xC3\xA9\\\\"));
  std::string csv;
  RecordDecoder decoder;
  AppendCsv(image, 4, &decoder, &csv);
  EXPECT_EQ(csv, RunSq71Command({"export", log, "-"}).out);
}

}  // namespace
}  // namespace sq71
