// Throughput of the CSV export: the sample log and a full 1024-entry log,
// to memory and to a file (through the temporary-file replace).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "log/decoder.h"
#include "log/log_files.h"
#include "log/log_image.h"

namespace {

using sq71::LogImage;

LogImage SampleLog() {
  LogImage image{};
  if (!sq71::ReadUlgFile(SQ71_SAMPLE_LOG, &image).ok()) {
    std::fprintf(stderr, "cannot read %s\n", SQ71_SAMPLE_LOG);
    std::exit(1);
  }
  return image;
}

// 1024 entries: the sample's records over and over, each with an ID of its own.
LogImage FullLog() {
  const LogImage sample = SampleLog();
  const int entries = sq71::EntryCount(sample, nullptr);
  LogImage image{};
  for (int i = 0; i < sq71::kRecordCount; ++i) {
    uint8_t* r = sq71::RecordAt(image, i);
    std::copy_n(sq71::RecordAt(sample, i % entries), sq71::kRecordSize, r);
    r[sq71::rec::kIdMinor] = static_cast<uint8_t>(i);
    r[sq71::rec::kIdMinor + 1] = static_cast<uint8_t>(i >> 8);
    r[sq71::rec::kIdMajor] = 0x55;
  }
  return image;
}

void ExportToMemory(benchmark::State& state, const LogImage& image) {
  const int count = sq71::EntryCount(image, nullptr);
  sq71::RecordDecoder decoder;
  std::string csv;
  for (auto _ : state) {
    csv.clear();
    sq71::AppendCsv(image, count, &decoder, &csv);
    benchmark::DoNotOptimize(csv.data());
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(csv.size()));
}

void BM_ExportSampleToMemory(benchmark::State& state) { ExportToMemory(state, SampleLog()); }
void BM_ExportFullLogToMemory(benchmark::State& state) { ExportToMemory(state, FullLog()); }

void BM_ExportFullLogToFile(benchmark::State& state) {
  const LogImage image = FullLog();
  const std::string path =
      (std::filesystem::temp_directory_path() / "sq71-bench-export.csv").string();
  sq71::RecordDecoder decoder;
  for (auto _ : state) {
    if (!sq71::WriteCsvFile(path.c_str(), image, sq71::kRecordCount, &decoder).ok()) {
      state.SkipWithError("cannot write the CSV file");
      break;
    }
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * sq71::kRecordCount);
}

BENCHMARK(BM_ExportSampleToMemory);
BENCHMARK(BM_ExportFullLogToMemory);
BENCHMARK(BM_ExportFullLogToFile);

}  // namespace

BENCHMARK_MAIN();
