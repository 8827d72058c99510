// The readers of files from outside hold to a fixed multiple of their
// input's size, whatever the input: counted by this program's own operator
// new (a memory limit cannot be set under AddressSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "log/log_files.h"
#include "sim/scenario.h"
#include "sim/trace_reader.h"
#include "tests/support/sq71_fixture.h"

// The counting operators keep each block's size just before it, which the
// compiler cannot follow through a replaced operator.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

std::atomic<std::size_t> g_in_use{0};
std::atomic<std::size_t> g_peak{0};
constexpr std::size_t kHeader = alignof(std::max_align_t);

}  // namespace

void* operator new(std::size_t size) {
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) throw std::bad_alloc();
  *reinterpret_cast<std::size_t*>(block) = size;
  const std::size_t now = g_in_use += size;
  for (std::size_t peak = g_peak; now > peak && !g_peak.compare_exchange_weak(peak, now);) {
  }
  return block + kHeader;
}

void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  auto* block = static_cast<unsigned char*>(p) - kHeader;
  g_in_use -= *reinterpret_cast<std::size_t*>(block);
  std::free(block);
}

void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace sq71::sim {
namespace {

// The most the reader held above what was in use before it ran.
template <typename Read>
std::size_t PeakOf(Read read) {
  const std::size_t before = g_in_use;
  g_peak = before;
  read();
  return g_peak - before;
}

using ReaderMemoryTest = test::TempDirTest;

std::string Repeated(const std::string& line, std::size_t bytes) {
  std::string text;
  while (text.size() + line.size() <= bytes) text += line;
  return text;
}

TEST_F(ReaderMemoryTest, ReadersHoldToAFixedMultipleOfTheirInput) {
  constexpr std::size_t kSize = 2 << 20;
  std::string keys = "FT_Purge handle=1";
  for (std::size_t i = 1; i < kMaxTraceKeys; ++i) keys += " k" + std::to_string(i) + "=1";
  std::string texts = "FT_EE_Read handle=1 -> 0";
  for (std::size_t i = 1; i < kMaxTraceKeys; ++i) texts += " t" + std::to_string(i) + "=\"\"";
  std::string hex = "FT_Write handle=1 count=" + std::to_string(kSize / 3 - 20) + " -> 0\nWRITE";
  while (hex.size() + 3 < kSize) hex += " 0A";
  const std::vector<std::string> traces = {
      Repeated("FT_ListDevices -> 0\n", kSize),
      Repeated("1 FT_Close handle=1 -> 0\n", kSize),
      Repeated(keys + " -> 0\n", kSize),
      Repeated(texts + "\n", kSize),
      hex + "\n",
      Repeated("FT_Open -> x\n", kSize),
  };
  for (std::size_t i = 0; i < traces.size(); ++i) {
    const std::string path = PathOf("trace" + std::to_string(i));
    test::WriteFile(path, traces[i]);
    std::vector<TracedCall> calls;
    std::string error;
    const std::size_t peak = PeakOf([&] { LoadTraceFile(path, &calls, &error); });
    RecordProperty("trace" + std::to_string(i) + "_peak_per_input_byte",
                   std::to_string(static_cast<double>(peak) / traces[i].size()));
    EXPECT_LE(peak, kTraceMemoryFactor * traces[i].size() + kTraceMemorySlack)
        << "trace " << i << ": " << peak << " bytes for " << traces[i].size() << " " << error;
  }
  // A scenario of nothing but sections; a log file of its one size.
  const std::string scenario = PathOf("scenario.txt");
  test::WriteFile(scenario, Repeated("[device]\n", 1 << 20));
  Scenario parsed;
  std::string error;
  EXPECT_LE(PeakOf([&] { LoadScenarioFile(scenario, &parsed, &error); }),
            kMaxScenarioDevices * (kLogImageSize + 4096) + kTraceMemoryFactor * (1 << 20));
  const std::string ulg = PathOf("log.ulg");
  test::WriteFile(ulg, std::string(kLogImageSize, '\0'));
  LogImage image{};
  EXPECT_LE(PeakOf([&] { ReadUlgFile(ulg.c_str(), &image); }), 2 * kLogImageSize);
}

}  // namespace
}  // namespace sq71::sim
