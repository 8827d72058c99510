// The bash completion script as bash runs it: what it offers after each
// kind of word, in a folder of logs, CSV files and other files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/sq71_cli.h"
#include "tests/support/sq71_fixture.h"

namespace sq71 {
namespace {

namespace fs = std::filesystem;

using Completion = test::TempDirTest;

// What _sq71 offers for the words typed so far, the last one being
// completed, as one sorted line.
std::string Offered(const std::string& script, const std::vector<std::string>& words) {
  std::string array;
  for (const std::string& word : words) array += " '" + word + "'";
  const std::string command = "bash -c 'source \"$0\"; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); "
                              "_sq71; for w in \"${COMPREPLY[@]}\"; do echo \"$w\"; done | sort | tr \"\\n\" \" \"' " +
                              script + array;
  std::string offered;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) offered += buffer;
    pclose(pipe);
  }
  return offered;
}

TEST_F(Completion, BashOffersCommandsOptionsBackendsAndTheFilesEachValueWants) {
  const test::Sq71Outcome made = test::RunSq71Command({"completion", "bash"});
  ASSERT_EQ(kExitOk, made.status) << made.err;
  test::WriteFile(PathOf("sq71.bash"), made.out);
  for (const char* name : {"a.ulg", "b.csv", "c.txt", "d.html"}) test::WriteFile(PathOf(name), "");
  fs::create_directory(dir_ / "logs");
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  const struct {
    std::vector<std::string> words;
    const char* offered;
  } cases[] = {
      {{"sq71", "re"}, "read report "},
      {{"sq71", "help", "d"}, "devices doctor "},
      {{"sq71", "completion", ""}, "bash zsh "},
      {{"sq71", "read", "--ba"}, "--backend "},
      {{"sq71", "doctor", "--backend", ""}, "auto d2xx libftdi tty "},
      {{"sq71", "view", ""}, "a.ulg logs "},
      {{"sq71", "export", "a.ulg", ""}, "b.csv logs "},
      {{"sq71", "report", "--title", "T", "a.ulg", "-o", ""}, "d.html logs "},
      {{"sq71", "read", "-o", "x.ulg", "--csv", ""}, "b.csv logs "},
      {{"sq71", "read", "--retries", ""}, ""},
  };
  for (const auto& c : cases) {
    std::string typed;
    for (const std::string& word : c.words) typed += word + " ";
    EXPECT_EQ(c.offered, Offered(PathOf("sq71.bash"), c.words)) << typed;
  }
  fs::current_path(before);
  EXPECT_EQ(kExitUsage, test::RunSq71Command({"completion", "fish"}).status);
}

}  // namespace
}  // namespace sq71
