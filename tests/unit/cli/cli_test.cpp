#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/progress_bar.h"
#include "cli/sq71_cli.h"
#include "log/decoder.h"
#include "log/log_files.h"
#include "tests/support/sq71_fixture.h"

namespace sq71 {
namespace {

namespace fs = std::filesystem;

const std::string kDataDir = SQ71_TEST_DATA_DIR;
const std::string kSample = kDataDir + "/sample.ulg";

using test::ReadFile;
using test::WriteFile;

test::Sq71Outcome Sq71(const std::vector<std::string>& args) { return test::RunSq71Command(args); }

using CliTest = test::TempDirTest;

// The golden files were checked by hand against the raw records of sample.ulg.
TEST_F(CliTest, ViewPrintsTheGoldenRows) {
  const test::Sq71Outcome run = Sq71({"view", kSample});
  EXPECT_EQ(kExitOk, run.status);
  EXPECT_EQ("", run.err);
  EXPECT_EQ(ReadFile(kDataDir + "/sample.view.txt"), run.out);
}

TEST_F(CliTest, ExportWritesTheGoldenCsvToAFileAndToStdout) {
  const std::string golden = ReadFile(kDataDir + "/sample.csv");
  ASSERT_FALSE(golden.empty());
  const std::string path = PathOf("sample.csv");
  WriteFile(path, "old");
  test::Sq71Outcome run = Sq71({"export", kSample, path});
  EXPECT_EQ(kExitOk, run.status);
  EXPECT_EQ("", run.err);
  EXPECT_EQ("", run.out);
  EXPECT_EQ(golden, ReadFile(path));

  run = Sq71({"export", kSample, "-"});
  EXPECT_EQ(kExitOk, run.status);
  EXPECT_EQ(golden, run.out);
}

TEST_F(CliTest, GuiExportMatchesTheGoldenCsv) {
  // The program's own Export (.csv) path, through the shared decoder.
  LogImage image{};
  ASSERT_TRUE(ReadUlgFile(kSample.c_str(), &image).ok());
  RecordDecoder decoder;
  const std::string path = PathOf("gui.csv");
  ASSERT_EQ(0,
            ExportCsv(path.c_str(), image, EntryCount(image, nullptr), &decoder, nullptr, false));
  EXPECT_EQ(ReadFile(kDataDir + "/sample.csv"), ReadFile(path));
}

TEST_F(CliTest, HelpInEveryForm) {
  for (const auto& args : {std::initializer_list<std::string>{"--help"}, {"-h"}, {"help"}}) {
    const test::Sq71Outcome run = Sq71(args);
    EXPECT_EQ(kExitOk, run.status);
    EXPECT_EQ(0u, run.out.find("Usage: sq71 COMMAND"));
    EXPECT_NE(std::string::npos, run.out.find("\n  view [OPTIONS] LOG.ulg "));
    EXPECT_NE(std::string::npos, run.out.find("\n  export LOG.ulg OUT.csv "));
    EXPECT_EQ("", run.err);
  }
  for (const auto& args : {std::initializer_list<std::string>{"help", "view"},
                           {"view", "--help"},
                           {"view", "x.ulg", "-h"}}) {
    const test::Sq71Outcome run = Sq71(args);
    EXPECT_EQ(kExitOk, run.status);
    EXPECT_EQ(0u, run.out.find("Usage: sq71 view [--json] [--good DB] [--marginal DB] LOG.ulg\n"));
  }
  for (const auto& args :
       {std::initializer_list<std::string>{"help", "export"}, {"export", "--help"}}) {
    const test::Sq71Outcome run = Sq71(args);
    EXPECT_EQ(kExitOk, run.status);
    EXPECT_EQ(0u, run.out.find("Usage: sq71 export LOG.ulg OUT.csv\n"));
  }
  const test::Sq71Outcome version = Sq71({"--version"});
  EXPECT_EQ(kExitOk, version.status);
  EXPECT_EQ(0u, version.out.find("sq71 "));
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  const struct {
    std::initializer_list<std::string> args;
    const char* err;
  } cases[] = {
      {{}, "sq71: no command given (see 'sq71 --help')\n"},
      {{"frob"}, "sq71: unknown command 'frob' (see 'sq71 --help')\n"},
      {{"--frob"}, "sq71: unknown option '--frob' (see 'sq71 --help')\n"},
      {{"help", "frob"}, "sq71: unknown command 'frob' (see 'sq71 --help')\n"},
      {{"help", "view", "export"},
       "sq71: help: expected at most one command (see 'sq71 --help')\n"},
      {{"view"}, "sq71: view: expected LOG.ulg, got 0 arguments (see 'sq71 help view')\n"},
      {{"view", "a", "b"},
       "sq71: view: expected LOG.ulg, got 2 arguments (see 'sq71 help view')\n"},
      {{"view", "-q", "a"}, "sq71: view: unknown option '-q' (see 'sq71 help view')\n"},
      {{"export", "a"},
       "sq71: export: expected LOG.ulg OUT.csv, got 1 argument (see 'sq71 help export')\n"},
      {{"export", "a", "b", "c"},
       "sq71: export: expected LOG.ulg OUT.csv, got 3 arguments (see 'sq71 help export')\n"},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv{"sq71"};
    for (const std::string& arg : c.args) argv.push_back(arg.c_str());
    std::ostringstream out, err;
    EXPECT_EQ(kExitUsage, RunSq71(static_cast<int>(argv.size()), argv.data(), out, err)) << c.err;
    EXPECT_EQ(c.err, err.str());
    EXPECT_EQ("", out.str()) << c.err;
  }
}

TEST_F(CliTest, UnreadableLogsExitWithOneAndSayWhy) {
  const std::string missing = PathOf("x.ulg");
  for (const char* command : {"view", "export"}) {
    const test::Sq71Outcome run = command == std::string("view")
                                      ? Sq71({command, missing})
                                      : Sq71({command, missing, PathOf("o.csv")});
    EXPECT_EQ(kExitFailure, run.status) << command;
    EXPECT_EQ("sq71: cannot open '" + missing + "': No such file or directory\n", run.err);
    EXPECT_EQ("", run.out);
  }
  for (std::size_t size : {std::size_t{0}, std::size_t{65535}, std::size_t{65537}}) {
    const std::string path = PathOf("sized.ulg");
    WriteFile(path, std::string(size, '\0'));
    const test::Sq71Outcome run = Sq71({"view", path});
    EXPECT_EQ(kExitFailure, run.status) << size;
    EXPECT_EQ(
        "sq71: '" + path + "' is " + std::to_string(size) + " bytes, a log file is 65536 bytes\n",
        run.err);
    EXPECT_EQ("", run.out);
  }
#ifndef _WIN32
  // A device is not read at all: /dev/zero would never end.
  for (const char* device : {"/dev/zero", "/dev/null"}) {
    const test::Sq71Outcome run = Sq71({"view", device});
    EXPECT_EQ(kExitFailure, run.status) << device;
    EXPECT_EQ(std::string("sq71: '") + device + "' is not a regular file\n", run.err);
  }
#endif
  EXPECT_FALSE(fs::exists(PathOf("o.csv")));
  // After "--" a leading dash is a file name.
  const test::Sq71Outcome dashed = Sq71({"view", "--", "-q"});
  EXPECT_EQ(kExitFailure, dashed.status);
  EXPECT_EQ("sq71: cannot open '-q': No such file or directory\n", dashed.err);
}

TEST_F(CliTest, LogWithoutEntriesIsRefused) {
  std::string bytes(kLogImageSize, '\0');
  bytes[0] = '\xFF';
  const std::string path = PathOf("empty.ulg");
  WriteFile(path, bytes);
  const std::string csv = PathOf("empty.csv");
  for (const test::Sq71Outcome& run :
       {Sq71({"view", path}), Sq71({"export", path, csv}), Sq71({"export", path, "-"})}) {
    EXPECT_EQ(kExitFailure, run.status);
    EXPECT_EQ("sq71: '" + path + "': No logging data present\n", run.err);
    EXPECT_EQ("", run.out);
  }
  EXPECT_FALSE(fs::exists(csv));
}

TEST_F(CliTest, UnwritableOutputExitsWithOneAndKeepsTheOldFile) {
  const std::string in_missing_folder = PathOf("none/out.csv");
  test::Sq71Outcome run = Sq71({"export", kSample, in_missing_folder});
  EXPECT_EQ(kExitFailure, run.status);
  EXPECT_EQ("sq71: cannot write '" + in_missing_folder + "': No such file or directory\n", run.err);

  fs::create_directory(dir_ / "folder");
  run = Sq71({"export", kSample, PathOf("folder")});
  EXPECT_EQ(kExitFailure, run.status);
  EXPECT_EQ(0u, run.err.find("sq71: cannot write '" + PathOf("folder") + "': "));
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));

  std::vector<const char*> argv{"sq71", "export", kSample.c_str(), "-"};
  std::ostringstream broken, err;
  broken.setstate(std::ios::badbit);
  EXPECT_EQ(kExitFailure, RunSq71(4, argv.data(), broken, err));
  EXPECT_EQ("sq71: cannot write to standard output\n", err.str());
}

TEST_F(CliTest, ExportOntoItsOwnLogIsRefused) {
  const std::string log = PathOf("log.ulg");
  const std::string original = ReadFile(kSample);
  WriteFile(log, original);
  // The same file by its own name and by another spelling of it.
  for (const std::string& target : {log, (dir_ / "." / "log.ulg").string()}) {
    const test::Sq71Outcome run = Sq71({"export", log, target});
    EXPECT_EQ(kExitFailure, run.status) << target;
    EXPECT_EQ("sq71: '" + target + "' is the log file itself; not overwritten\n", run.err);
    EXPECT_EQ(original, ReadFile(log));
  }
  EXPECT_EQ(kExitOk, Sq71({"export", log, PathOf("log.csv")}).status);
}

// A name's control bytes cannot break a message's line or reach the
// terminal, and a long name is cut short.
TEST_F(CliTest, NamesInMessagesAreEscapedOnOneLine) {
  const std::string forged = PathOf("a\nsq71: ok\x1b[2J\x7f.ulg");
  const test::Sq71Outcome run = Sq71({"export", forged, PathOf("o.csv")});
  EXPECT_EQ(kExitFailure, run.status);
  // Windows refuses such a name itself, with a reason of its own.
  EXPECT_EQ(0u,
            run.err.find("sq71: cannot open '" + PathOf("a\\nsq71: ok\\x1b[2J\\x7f.ulg") + "': "));
  EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
  std::string long_name;
  for (int i = 0; i < 150; ++i) long_name += "d/";
  const test::Sq71Outcome cut = Sq71({"view", long_name});
  EXPECT_EQ("sq71: cannot open '" + long_name.substr(0, 200) + "...': No such file or directory\n",
            cut.err);
}

TEST_F(CliTest, ViewStopsWhereTheGuiListStops) {
  // Record 2 repeats record 0's ID: two rows, though the entry count is 1024.
  LogImage image{};
  RecordAt(image, 0)[rec::kIdMinor] = 1;
  RecordAt(image, 1)[rec::kIdMinor] = 2;
  RecordAt(image, 2)[rec::kIdMinor] = 1;
  RecordAt(image, 3)[rec::kIdMinor] = 3;
  const std::string path = PathOf("repeat.ulg");
  ASSERT_TRUE(WriteUlgFile(path.c_str(), image).ok());
  const test::Sq71Outcome view = Sq71({"view", path});
  EXPECT_EQ(kExitOk, view.status);
  ASSERT_EQ(2, std::count(view.out.begin(), view.out.end(), '\n'));
  EXPECT_EQ(0u, view.out.find("00000-001\t"));
  EXPECT_NE(std::string::npos, view.out.find("\n00000-002\t"));
  const test::Sq71Outcome csv = Sq71({"export", path, "-"});
  EXPECT_EQ(3, std::count(csv.out.begin(), csv.out.end(), '\n'));
}

// Seeded plans of terminal widths and figures: the line always fits one row
// of the terminal, keeps the record count from 40 columns on and is the
// percentage alone below; no count reads "1 entries".
TEST(ProgressLineCampaign, FitsEveryWidthWithItsCounts) {
  const unsigned seed = std::random_device()();
  std::mt19937 random(seed);
  const std::regex percent("[0-9]{1,3}%");
  for (int plan = 0; plan < 5000; ++plan) {
    ProgressFigures figures;
    figures.total = 1024;
    figures.done = std::uniform_int_distribution<int>(0, 1024)(random);
    figures.rate = plan % 3 == 0 ? 0 : std::uniform_real_distribution<double>(0, 1e7)(random);
    figures.retries = plan % 2 == 0 ? plan % 5 : std::uniform_int_distribution<int>(0, 1 << 20)(random);
    const int columns = std::uniform_int_distribution<int>(1, 250)(random);
    const std::string line = ProgressLine(figures, columns);
    const std::string why = "seed " + std::to_string(seed) + ", plan " + std::to_string(plan) +
                            ", " + std::to_string(columns) + " columns: " + line;
    ASSERT_LE(line.size(), static_cast<std::size_t>(std::max(columns - 1, 4))) << why;
    if (columns < 40) {
      ASSERT_TRUE(std::regex_match(line, percent)) << why;
      continue;
    }
    ASSERT_NE(std::string::npos, line.find("/1024 records")) << why;
    ASSERT_EQ(std::string::npos, line.find(" 1 entries")) << why;
    ASSERT_EQ(std::string::npos, line.find(" 1 retries")) << why;
  }
}

}  // namespace
}  // namespace sq71
