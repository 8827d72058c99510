// What the tests of the sq71 tool share: a temporary folder of their own,
// running sq71 in process, and reading and writing whole files.
#ifndef SQ71_TESTS_SUPPORT_SQ71_FIXTURE_H
#define SQ71_TESTS_SUPPORT_SQ71_FIXTURE_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace sq71::test {

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

struct Sq71Outcome {
  int status;
  std::string out;
  std::string err;
};

// "sq71 ARGS..." in this process. `input` answers its questions, asked only
// when `terminal` says standard input is one; `out_terminal` says standard
// output is one.
Sq71Outcome RunSq71Command(const std::vector<std::string>& args, const std::string& input = "",
                           bool terminal = false, bool out_terminal = false);

// A fresh folder for each test, removed with everything in it afterwards.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
};

}  // namespace sq71::test

#endif
