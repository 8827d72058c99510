// sq71 report's job and thresholds through the command itself.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "cli/sq71_cli.h"
#include "report/html_report.h"
#include "tests/support/sq71_fixture.h"

namespace sq71 {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

const std::string kSample = std::string(SQ71_TEST_DATA_DIR) + "/sample.ulg";
const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + "rest of a picture";

using ReportOptionsTest = test::TempDirTest;

// Arguments, exit status, and what each line of standard error holds.
using ThresholdCase = std::tuple<std::vector<std::string>, int, std::vector<std::string>>;

// Every wrong value gets a line naming its own option; view --json reads
// the same two options.
TEST_F(ReportOptionsTest, ThresholdsAreDecimalDbFromZeroToTwentyMarginalAtMostGood) {
  const ThresholdCase cases[] = {
      {{"report", "--good", "2.5", "--marginal", "0.25"}, kExitOk, {}},
      {{"report", "--good", "-1", "--marginal", "-3"}, kExitUsage, {"--good", "--marginal"}},
      {{"report", "--good", "0x10"}, kExitUsage, {"--good takes decimal dB from 0 to 20"}},
      {{"report", "--marginal", "20.01"}, kExitUsage, {"--marginal takes"}},
      {{"report", "--good", "2", "--marginal", "2.5"}, kExitUsage, {"--marginal '2.5' is above"}},
      {{"view", "--json", "--good", "20", "--marginal", "20"}, kExitOk, {}},
      {{"view", "--json", "--marginal", "x"}, kExitUsage, {"sq71: view: --marginal takes"}},
  };
  for (auto [args, status, lines] : cases) {
    args.insert(args.begin() + 1, kSample);
    if (args[0] == "report") args.insert(args.end(), {"-o", PathOf("r.html")});
    const test::Sq71Outcome run = test::RunSq71Command(args);
    EXPECT_EQ(run.status, status) << args[2];
    std::size_t at = 0;
    for (const std::string& line : lines) {
      const std::size_t found = run.err.find(line, at);
      EXPECT_NE(found, std::string::npos) << run.err << " lacks " << line;
      at = run.err.find('\n', found) + 1;
    }
    EXPECT_EQ(at, run.err.size()) << "more lines than wrong values: " << run.err;
  }
}

// The job file's values, each option given over its own, the logo from the
// job file's folder, and the log file's date where none is given.
TEST_F(ReportOptionsTest, JobFileOptionsAndLogoReachThePageEscaped) {
  fs::create_directory(PathOf("job"));
  WriteFile(PathOf("job/logo.png"), kPng);
  WriteFile(PathOf("job/job.txt"),
            "# the Smiths\ncustomer = A <b>&\"Smith\"\nsite = old site\nnotes = first\n"
            "notes = second\nlogo = logo.png\ntitle = Dish at the Smiths'\n");
  fs::copy_file(kSample, PathOf("log.ulg"));
  const std::chrono::sys_seconds day =
      std::chrono::sys_days{std::chrono::year{2024} / 3 / 5} + std::chrono::hours{12};
  fs::last_write_time(PathOf("log.ulg"), std::chrono::file_clock::from_sys(day));
  const test::Sq71Outcome run = test::RunSq71Command(
      {"report", PathOf("log.ulg"), "--job", PathOf("job/job.txt"), "--site", "new site", "-o", "-"});
  ASSERT_EQ(run.status, kExitOk) << run.err;
  for (const std::string& shown :
       {std::string("A &lt;b&gt;&amp;&quot;Smith&quot;"), std::string("new site"),
        std::string("first<br>second"), "data:image/png;base64," + Base64(kPng),
        std::string("<h1>Dish at the Smiths&#39;</h1>"), std::string("2024-03-05")}) {
    EXPECT_NE(run.out.find(shown), std::string::npos) << shown;
  }
  EXPECT_EQ(run.out.find("old site"), std::string::npos);
  EXPECT_EQ(run.out.find("Installer<"), std::string::npos) << "an empty field is printed";
}

// A file that cannot serve is one line naming it, and no report is written.
TEST_F(ReportOptionsTest, UnusableJobOrLogoFilesAreRefusedInOneLine) {
  WriteFile(PathOf("logo.gif"), "GIF89a....");
  WriteFile(PathOf("big.png"), kPng + std::string(kMaxLogoBytes, 'x'));
  WriteFile(PathOf("bad.txt"), "customer = x\ncolour = red\n");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--logo", PathOf("logo.gif")}, "is neither a PNG nor a JPEG image"},
      {{"--logo", PathOf("big.png")}, "is larger than 256 KiB"},
      {{"--job", PathOf("bad.txt")}, "line 2: unknown key 'colour'"},
      {{"--job", PathOf("none.txt")}, "cannot open job file"},
  };
  for (const auto& [options, message] : cases) {
    std::vector<std::string> args = {"report", kSample, "-o", PathOf("r.html")};
    args.insert(args.end(), options.begin(), options.end());
    const test::Sq71Outcome run = test::RunSq71Command(args);
    EXPECT_EQ(run.status, kExitFailure) << message;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_FALSE(fs::exists(PathOf("r.html")));
  }
}

}  // namespace
}  // namespace sq71
