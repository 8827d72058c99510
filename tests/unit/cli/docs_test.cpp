// What the documents show works as shown: every scenario example parses,
// and every command of the README's quick start runs on the demo meter.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/sq71_cli.h"
#include "sim/scenario.h"
#include "tests/support/sq71_fixture.h"

namespace sq71 {
namespace {

namespace fs = std::filesystem;

const fs::path kSourceDir = fs::path(SQ71_TEST_DATA_DIR).parent_path();

// The lines of each fenced block of `text` whose opening fence is `fence`
// ("```ini"), or of each .nf/.fi block of a manual page include.
std::vector<std::string> Blocks(const std::string& text, const std::string& open,
                                const std::string& close) {
  std::vector<std::string> blocks;
  std::istringstream lines(text);
  bool inside = false;
  for (std::string line; std::getline(lines, line);) {
    if (!inside && line == open) {
      inside = true;
      blocks.emplace_back();
    } else if (inside && line == close) {
      inside = false;
    } else if (inside) {
      blocks.back() += line + "\n";
    }
  }
  return blocks;
}

using Documents = test::TempDirTest;

TEST_F(Documents, EveryScenarioExampleParses) {
  int examples = 0;
  for (const fs::directory_entry& page : fs::directory_iterator(kSourceDir / "docs")) {
    if (page.path().extension() != ".md") continue;
    for (const std::string& block : Blocks(test::ReadFile(page.path().string()), "```ini", "```")) {
      sim::Scenario scenario;
      std::string error;
      EXPECT_TRUE(sim::ParseScenario(block, "", &scenario, &error))
          << page.path() << ": " << error << "\n"
          << block;
      ++examples;
    }
  }
  const std::string man = test::ReadFile((kSourceDir / "packaging/sq71-formats.h2m").string());
  for (const std::string& block : Blocks(man, ".nf", ".fi")) {
    if (block.find("[device]") == std::string::npos) continue;
    // The page shows the file as it is, but for the "\&" that keeps a
    // section line from being read as a heading of the page.
    std::string text = block;
    for (std::size_t at = text.find("\\&"); at != std::string::npos; at = text.find("\\&", at)) {
      text.erase(at, 2);
    }
    sim::Scenario scenario;
    std::string error;
    EXPECT_TRUE(sim::ParseScenario(text, "", &scenario, &error)) << "man page: " << error;
    ++examples;
  }
  EXPECT_GE(examples, 3);
}

// Each "sq71 ..." line of the quick start, in order, in a folder of its own:
// a meter command without --sim gets the demo meter, and erase its "y".
TEST_F(Documents, QuickStartRunsOnTheDemoMeter) {
  const std::string readme = test::ReadFile((kSourceDir / "README.md").string());
  const std::size_t begin = readme.find("\n## Quick start\n");
  const std::size_t end = readme.find("\n## ", begin + 1);
  ASSERT_NE(std::string::npos, begin);
  std::vector<std::vector<std::string>> commands;
  for (const std::string& block : Blocks(readme.substr(begin, end - begin), "```sh", "```")) {
    std::istringstream lines(block);
    for (std::string line; std::getline(lines, line);) {
      line = line.substr(0, line.find(" #"));
      std::istringstream words(line);
      std::vector<std::string> args;
      for (std::string word; words >> word;) args.push_back(word);
      if (args.empty() || args[0] != "sq71") continue;
      args.erase(args.begin());
      commands.push_back(args);
    }
  }
  ASSERT_GE(commands.size(), 6u);

  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  for (std::vector<std::string> args : commands) {
    const std::string command = args[0];
    const bool meter = command == "read" || command == "erase" || command == "devices";
    bool sim = false;
    for (const std::string& arg : args) sim = sim || arg == "--sim";
    if (meter && !sim) args.push_back("--sim");
    const test::Sq71Outcome run = test::RunSq71Command(args, "y\n", command == "erase");
    std::string line;
    for (const std::string& arg : args) line += " " + arg;
    EXPECT_EQ(kExitOk, run.status) << "sq71" << line << ": " << run.err;
  }
  EXPECT_TRUE(fs::exists("first.html"));
  fs::current_path(before);
}

}  // namespace
}  // namespace sq71
