#include "tests/support/sq71_fixture.h"

#include <fstream>
#include <random>
#include <sstream>

#include "cli/sq71_cli.h"

namespace sq71::test {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Sq71Outcome RunSq71Command(const std::vector<std::string>& args, const std::string& input,
                           bool terminal, bool out_terminal) {
  std::vector<const char*> argv{"sq71"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out, err;
  std::istringstream in(input);
  Console console;
  console.in = &in;
  console.in_terminal = terminal;
  console.out_terminal = out_terminal;
  const int status = RunSq71(static_cast<int>(argv.size()), argv.data(), out, err, console);
  return {status, out.str(), err.str()};
}

void TempDirTest::SetUp() {
  std::random_device random;
  dir_ = std::filesystem::temp_directory_path() / ("sq71-test-" + std::to_string(random()));
  std::filesystem::create_directories(dir_);
}

void TempDirTest::TearDown() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

}  // namespace sq71::test
