// bench_read: how long a full Read takes, from the command to "Transfer
// Complete!", with the simulated meter on the wire (latency timer 16 ms) and
// a log of 1024 real records, against the simulator's own exchange time and
// the floor the wire sets. A benchmark, not a test: it only reports.
//
//   bench_read [RUNS]        (default 3 runs of the program)
//
// First it makes the same 1024 exchanges in this process through the
// stand-in driver library, as the transfer engine makes them but back to
// back (no timer between them): that is what the simulator alone costs.
// Then it starts sq71log.exe RUNS times and times the Read command.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ui/message_catalogue.h"
#include "log/log_image.h"
#include "protocol/frame.h"
#include "resources/resource_ids.h"
#include "tests/e2e/harness_win32.h"
#include "usb/d2xx_loader_win32.h"
#include "usb/usb_device.h"

using namespace sq71;
using namespace sq71::e2e;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLatencyMs = 16;
// 80 bytes on the wire per exchange, 10 bits a byte at 115200 baud.
constexpr double kFloorSeconds = kRecordCount * 80 * 10 / 115200.0;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A scenario folder with a full log: 1024 real records, no end marker.
std::string WriteScenario() {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  const std::string dir = std::string(temp) + "sq71bench-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);
  std::string log(kLogImageSize, '\0');
  for (int n = 0; n < kRecordCount; ++n) {
    for (std::size_t i = 0; i < kRecordSize; ++i)
      log[n * kRecordSize + i] = static_cast<char>(n + i);
    log[n * kRecordSize] = static_cast<char>(n % 4);
  }
  std::ofstream(dir + "\\full.ulg", std::ios::binary) << log;
  std::ofstream(dir + "\\scenario.txt")
      << "timing = wire\nlatency_ms = " << kLatencyMs << "\n\n[device]\nlog = full.ulg\n";
  return dir;
}

// The 1024 exchanges back to back through the stand-in library; negative on
// a failed exchange.
double SimulatorSeconds(const std::string& scenario) {
  SetEnvironmentVariableA("SQ71_SIM", scenario.c_str());
  D2xxFunctions d2xx;
  const std::string library = BuildPaths().standin_dir + "\\Ftd2xx.dll";
  if (LoadD2xxLibrary(library.c_str(), &d2xx) == nullptr) return -1;
  UsbDevice device(d2xx);
  if (device.Configure(0, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE) != FT_OK) return -1;
  device.CheckEepromIdentity();
  device.SetTimeouts(1000, 1000);
  const Clock::time_point start = Clock::now();
  for (int record = 0; record < kRecordCount; ++record) {
    uint8_t request[kReadRequestSize];
    uint8_t reply[kReadReplySize] = {};
    BuildReadRequest(record, request);
    device.PurgeReceive();
    device.PurgeTransmit();
    device.Write(request, kReadRequestSize);
    const FT_STATUS status = device.Read(reply, kReadReplySize);
    int number = -1;
    if (TestReadReply(status, device.bytes_read(), reply, &number) != ReadReplyVerdict::kGood ||
        number != record) {
      std::fprintf(stderr, "bench_read: exchange %d failed\n", record);
      return -1;
    }
  }
  const double seconds = Seconds(start);
  device.Close();
  return seconds;
}

// One program run: seconds from the Read command to the completion box;
// negative when it did not get there.
double ReadSeconds(const std::string& scenario) {
  Program program;
  LaunchOptions options;
  options.scenario = scenario;
  if (!program.Launch(options)) {
    std::fprintf(stderr, "bench_read: %s\n", program.error().c_str());
    return -1;
  }
  HWND main = program.WaitMainWindow();
  if (main == nullptr || !Responsive(main)) return -1;
  const std::string done = MessageText(kMsgTransferComplete);
  HWND box = nullptr;
  const Clock::time_point start = Clock::now();
  PostCommand(main, IDM_READ);
  const bool completed = WaitUntil(
      [&] {
        box = program.FindBox();
        return box != nullptr && BoxText(box) == done;
      },
      5 * 60 * 1000);
  const double seconds = Seconds(start);
  if (box != nullptr) PressButton(box, IDOK);
  if (!completed) {
    std::fprintf(stderr, "bench_read: no \"%s\" (box: \"%s\")\n", done.c_str(),
                 box != nullptr ? BoxText(box).c_str() : "none");
  }
  WaitUntil([&] { return IsWindowEnabled(main) != 0; });
  PostCommand(main, IDM_EXIT);
  program.WaitExit();
  return completed ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const std::string dir = WriteScenario();
  const std::string scenario = dir + "\\scenario.txt";

  std::printf("full Read of %d records, simulated meter on the wire, latency timer %d ms\n",
              kRecordCount, kLatencyMs);
  const double simulator = SimulatorSeconds(scenario);
  if (simulator < 0) return 1;
  std::printf("simulator alone (in process, back to back): %.2f s, %.2f ms an exchange\n",
              simulator, 1000 * simulator / kRecordCount);

  std::vector<double> reads;
  for (int i = 0; i < runs; ++i) {
    const double s = ReadSeconds(scenario);
    if (s < 0) return 1;
    std::printf("program run %d: %.2f s from Read to \"Transfer Complete!\"\n", i + 1, s);
    reads.push_back(s);
  }
  std::sort(reads.begin(), reads.end());
  const double median = reads[reads.size() / 2];
  std::printf("program median: %.2f s, %.2f ms a record\n", median, 1000 * median / kRecordCount);
  std::printf("ratio to the simulator alone: %.2f\n", median / simulator);
  std::printf("ratio to the wire floor (%.2f s): %.2f\n", kFloorSeconds, median / kFloorSeconds);
  std::printf("bench_read_s %.3f\nbench_simulator_s %.3f\n", median, simulator);

  DeleteFileA((dir + "\\full.ulg").c_str());
  DeleteFileA(scenario.c_str());
  RemoveDirectoryA(dir.c_str());
  return 0;
}
