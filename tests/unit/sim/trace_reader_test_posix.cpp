// The trace reader refuses what is not a trace with one line that says why,
// naming the line of the first junk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sim/trace_reader.h"
#include "tests/support/sq71_fixture.h"

namespace sq71::sim {
namespace {

namespace fs = std::filesystem;

using TraceReaderTest = test::TempDirTest;

TEST_F(TraceReaderTest, RefusesFilesThatAreNoTraceAndNamesTheBadLine) {
  const fs::path dir = dir_;
  const std::string big = PathOf("big.txt");
  test::WriteFile(big, "");
  fs::resize_file(big, kTraceFileLimit + 1);
  const std::string fifo = PathOf("fifo");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  const std::string junk = PathOf("junk.txt");
  test::WriteFile(junk,
                  "0 TRACE driver=tty\n5 FT_Open index=0 -> 0 handle=1\n"
                  "9 FT_Write handle=1 count=2 -> 0 written=2\n10 WRITE 02 0G\n");
  const struct {
    std::string path;
    std::string error;
  } cases[] = {
      {dir.string(), "trace '" + dir.string() + "' is a directory"},
      {fifo, "trace '" + fifo + "' is not a regular file"},
      {big, "trace '" + big + "' is larger than 16 MiB"},
      {junk, "the trace '" + junk + "': line 4: bad hex byte '0G'"},
  };
  for (const auto& c : cases) {
    std::vector<TracedCall> calls;
    std::string error;
    EXPECT_FALSE(LoadTraceFile(c.path, &calls, &error)) << c.path;
    EXPECT_EQ(c.error, error);
  }
}

}  // namespace
}  // namespace sq71::sim
