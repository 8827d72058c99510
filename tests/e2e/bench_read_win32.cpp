// bench_read: how long a full Read of 1024 records takes on the
// wire-accurate simulated meter, and what costs the time. A benchmark, not a
// test: it only reports.
//
//   bench_read [RUNS]        (default 3 runs of the program per setting)
//
// 1. The simulator alone: the 1024 exchanges with the program's own calls
//    (open, line set-up, latency timer, EEPROM, then purge, purge, write,
//    read per record) back to back through the stand-in driver library in
//    this process, at 2 ms and at 16 ms latency.
// 2. The transfer engine in this process under a real Win32 window, timer and
//    message queue: exchanges per timer tick, and how long a posted command
//    waits for the window while the download runs.
// 3. sq71log.exe from the Read command to "Transfer Complete!", with the
//    latency timer set by the program (2 ms) and with a driver that refuses
//    to change it (16 ms); in one run of each, About is asked for every
//    quarter second and the wait until it shows is timed.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window_ui_win32.h"
#include "log/log_image.h"
#include "protocol/frame.h"
#include "protocol/transfer_engine.h"
#include "resources/resource_ids.h"
#include "tests/e2e/harness_win32.h"
#include "ui/message_catalogue.h"
#include "usb/d2xx_loader_win32.h"
#include "usb/usb_device.h"

using namespace sq71;
using namespace sq71::e2e;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}
double Ms(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Folder {
  std::string dir;
  std::string settable;  // scenario: the program may set the latency timer
  std::string fixed;     // scenario: the driver refuses, the chip stays at 16 ms
};

// A full log (1024 real records, no end marker) and the two scenarios.
Folder WriteScenarios() {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  Folder f;
  f.dir = std::string(temp) + "sq71bench-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(f.dir.c_str(), nullptr);
  std::string log(kLogImageSize, '\0');
  for (int n = 0; n < kRecordCount; ++n) {
    for (std::size_t i = 0; i < kRecordSize; ++i)
      log[n * kRecordSize + i] = static_cast<char>(n + i);
    log[n * kRecordSize] = static_cast<char>(n % 4);
  }
  std::ofstream(f.dir + "\\full.ulg", std::ios::binary) << log;
  f.settable = f.dir + "\\settable.txt";
  f.fixed = f.dir + "\\fixed.txt";
  std::ofstream(f.settable) << "timing = wire\nlatency_ms = 16\n\n[device]\nlog = full.ulg\n";
  std::ofstream(f.fixed)
      << "timing = wire\nlatency_ms = 16\nlatency_timer = fixed\n\n[device]\nlog = full.ulg\n";
  return f;
}

// The stand-in library in this process; its bus reads SQ71_SIM once.
std::unique_ptr<D2xxDriver> StandIn(const std::string& scenario) {
  // Through the C runtime: the library reads it with getenv, from the C
  // runtime's own copy of the environment.
  _putenv_s("SQ71_SIM", scenario.c_str());
  const std::string library = BuildPaths().standin_dir + "\\Ftd2xx.dll";
  return LoadD2xxLibrary(library.c_str());
}

// Opens device 0 as Read does; 16 leaves the chip's own timer alone.
bool Prepare(UsbDevice& device, int latency_ms) {
  if (device.Configure(0, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE) != FT_OK) return false;
  if (latency_ms != 16) device.SetLatencyTimer(static_cast<uint8_t>(latency_ms));
  device.CheckEepromIdentity();
  device.SetTimeouts(kTransferTimeoutMs, kTransferTimeoutMs);
  return true;
}

// 1. The 1024 exchanges back to back; negative on a failed exchange.
double SimulatorSeconds(Driver& d2xx, int latency_ms) {
  UsbDevice device(d2xx);
  const Clock::time_point start = Clock::now();
  if (!Prepare(device, latency_ms)) return -1;
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

// 2. The engine under a real window. Boxes are only recorded; the first one
// ends the run.
class BenchUi : public Win32MainWindowUi {
 public:
  explicit BenchUi(HWND window) : Win32MainWindowUi(window) {}
  void ShowMessage(int number, MessageStyle) override {
    if (message == 0) message = number;
    PostQuitMessage(0);
  }
  int AskQuestion(int) override { return kAnswerNo; }
  int message = 0;
};

constexpr UINT kBenchCommand = WM_APP + 1;

struct EngineRun {
  TransferState state;
  LogImage image{};
  BenchUi* ui = nullptr;
  TransferEngine* engine = nullptr;
  UsbDevice* device = nullptr;
  std::vector<double> per_tick;
  std::vector<Clock::time_point> posted;  // by the poster thread, index = lParam
  std::vector<double> waits_ms;
};
EngineRun* g_run = nullptr;

LRESULT CALLBACK BenchWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER && wparam == TRANSFER_TIMER_ID && g_run != nullptr) {
    const int before = g_run->state.next_record;
    g_run->engine->TransferTick(g_run->device);
    g_run->per_tick.push_back(g_run->state.next_record - before);
    return 0;
  }
  if (message == kBenchCommand && g_run != nullptr) {
    g_run->waits_ms.push_back(Ms(g_run->posted[static_cast<std::size_t>(lparam)], Clock::now()));
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

struct EngineFigures {
  double seconds = -1;
  int records = 0;
  double median_per_tick = 0;
  double worst_wait_ms = 0;
  std::size_t commands = 0;
};

EngineFigures RunEngine(Driver& d2xx) {
  EngineFigures figures;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = BenchWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "sq71bench";
  RegisterClassA(&wc);
  HWND window = CreateWindowA("sq71bench", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 300, 100, nullptr,
                              nullptr, wc.hInstance, nullptr);
  if (window == nullptr) return figures;
  ShowWindow(window, SW_SHOW);

  EngineRun run;
  BenchUi ui(window);
  UsbDevice device(d2xx);
  TransferEngine engine(run.state, run.image, ui);
  run.ui = &ui;
  run.engine = &engine;
  run.device = &device;
  run.posted.resize(1000);
  g_run = &run;

  // Commands posted every 100 ms, as clicks and menu picks would come.
  std::atomic<bool> done{false};
  std::thread poster([&] {
    for (std::size_t i = 0; i < run.posted.size() && !done; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      run.posted[i] = Clock::now();
      PostMessageA(window, kBenchCommand, 0, static_cast<LPARAM>(i));
    }
  });

  const Clock::time_point start = Clock::now();
  engine.StartTransfer(&device);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  const double seconds = Seconds(start);
  done = true;
  poster.join();
  engine.StopTimer();
  device.Close();
  g_run = nullptr;
  DestroyWindow(window);

  if (ui.message != kMsgTransferComplete) {
    std::fprintf(stderr, "bench_read: engine run ended with message %d\n", ui.message);
    return figures;
  }
  figures.seconds = seconds;
  figures.records = run.state.progress;
  std::vector<double> ticks;
  for (double n : run.per_tick) {
    if (n > 0) ticks.push_back(n);
  }
  figures.median_per_tick = Median(ticks);
  figures.commands = run.waits_ms.size();
  for (double w : run.waits_ms) figures.worst_wait_ms = std::max(figures.worst_wait_ms, w);
  return figures;
}

// 3. One program run: seconds from the Read command to the completion box;
// negative when it did not get there. With about_waits, About is asked for
// every 250 ms during the download and the wait until it shows is recorded.
HWND FindAbout(const Program& program) {
  for (HWND w : program.TopLevelWindows()) {
    if (ClassName(w) == kDialogClass && WindowText(w) == MessageText(kMsgAboutTitle)) return w;
  }
  return nullptr;
}

double ReadSeconds(const std::string& scenario, std::vector<double>* about_waits) {
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
  // The completion box, looked for among all the program's windows: About
  // may be up beside it.
  auto find_done = [&]() -> HWND {
    for (HWND w : program.TopLevelWindows()) {
      if (ClassName(w) == kDialogClass && BoxText(w) == done) return w;
    }
    return nullptr;
  };
  HWND box = nullptr;
  double seconds = -1;
  const Clock::time_point start = Clock::now();
  Clock::time_point next_about = start + std::chrono::milliseconds(250);
  PostCommand(main, IDM_READ);
  const Clock::time_point limit = start + std::chrono::minutes(5);
  while (Clock::now() < limit) {
    if ((box = find_done()) != nullptr) {
      seconds = Seconds(start);
      break;
    }
    if (about_waits != nullptr && Clock::now() >= next_about) {
      const Clock::time_point posted = Clock::now();
      PostCommand(main, IDM_ABOUT);
      HWND about = nullptr;
      while ((about = FindAbout(program)) == nullptr && find_done() == nullptr &&
             Clock::now() < limit) {
        Sleep(1);
      }
      if (about != nullptr) {
        about_waits->push_back(Ms(posted, Clock::now()));
        PressButton(about, IDOK);
        WaitUntil([&] { return FindAbout(program) == nullptr || find_done() != nullptr; }, 5000);
      }
      next_about = Clock::now() + std::chrono::milliseconds(250);
      continue;
    }
    Sleep(1);
  }
  if (box != nullptr) {
    PressButton(box, IDOK);
    // An About box shown over the end was disabled by the completion box.
    if (HWND about = FindAbout(program)) {
      WaitUntil([&] { return IsWindowEnabled(about) != 0; }, 5000);
      PressButton(about, IDOK);
    }
  } else {
    std::fprintf(stderr, "bench_read: no \"%s\"\n", done.c_str());
  }
  WaitUntil([&] { return IsWindowEnabled(main) != 0; });
  PostCommand(main, IDM_EXIT);
  program.WaitExit();
  return seconds;
}

// Median of `runs` program runs, the first of them asking for About.
double ProgramSeconds(const std::string& scenario, int runs, const char* label,
                      std::vector<double>* about_waits) {
  std::vector<double> reads;
  for (int i = 0; i < runs; ++i) {
    const double s = ReadSeconds(scenario, i == 0 ? about_waits : nullptr);
    if (s < 0) return -1;
    std::printf("program %s run %d: %.2f s%s\n", label, i + 1, s,
                i == 0 ? " (About asked for every 250 ms)" : "");
    reads.push_back(s);
  }
  // The run with About open at times is left out of the median when there
  // are others.
  if (reads.size() > 1) reads.erase(reads.begin());
  return Median(reads);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const Folder folder = WriteScenarios();
  const double floor_s = kRecordCount * 80 * 10 / 115200.0;

  std::printf("full Read of %d records, simulated meter on the wire (wire floor %.2f s)\n",
              kRecordCount, floor_s);
  const std::unique_ptr<D2xxDriver> d2xx = StandIn(folder.settable);
  if (d2xx == nullptr) return 1;
  // "bench_read RUNS engine": only the engine under a Win32 timer.
  const bool engine_only = argc > 2 && std::string(argv[2]) == "engine";
  const double sim2 = engine_only ? 1 : SimulatorSeconds(*d2xx, 2);
  const double sim16 = engine_only ? 1 : SimulatorSeconds(*d2xx, 16);
  if (sim2 < 0 || sim16 < 0) return 1;
  std::printf("simulator alone, latency  2 ms: %.2f s (%.2f ms an exchange)\n", sim2,
              1000 * sim2 / kRecordCount);
  std::printf("simulator alone, latency 16 ms: %.2f s (%.2f ms an exchange)\n", sim16,
              1000 * sim16 / kRecordCount);

  const EngineFigures engine = RunEngine(*d2xx);
  if (engine.seconds < 0) return 1;
  std::printf(
      "engine under a Win32 timer: %.2f s to record %d, median %.0f exchanges a tick, "
      "worst wait of %zu posted commands %.1f ms\n",
      engine.seconds, engine.records, engine.median_per_tick, engine.commands,
      engine.worst_wait_ms);
  if (engine_only) return 0;

  std::vector<double> about2;
  std::vector<double> about16;
  const double read2 = ProgramSeconds(folder.settable, runs, "2 ms", &about2);
  const double read16 = ProgramSeconds(folder.fixed, runs, "16 ms (driver refuses)", &about16);
  if (read2 < 0 || read16 < 0) return 1;
  double worst_about = 0;
  for (double w : about2) worst_about = std::max(worst_about, w);
  for (double w : about16) worst_about = std::max(worst_about, w);
  std::printf("program median, latency  2 ms: %.2f s\n", read2);
  std::printf("program median, latency 16 ms: %.2f s\n", read16);
  std::printf("About during a download: %zu asked for, worst %.1f ms from command to box\n",
              about2.size() + about16.size(), worst_about);
  std::printf("ratio program / simulator alone at  2 ms: %.2f\n", read2 / sim2);
  std::printf("ratio program / simulator alone at 16 ms: %.2f\n", read16 / sim16);
  std::printf("ratio program 16 ms / program 2 ms: %.2f\n", read16 / read2);

  // For tools/bench_read.sh.
  std::printf("bench_sim2_s %.3f\nbench_sim16_s %.3f\nbench_read2_s %.3f\nbench_read16_s %.3f\n",
              sim2, sim16, read2, read16);
  std::printf("bench_ticks_median %.0f\nbench_command_worst_ms %.1f\nbench_about_worst_ms %.1f\n",
              engine.median_per_tick, engine.worst_wait_ms, worst_about);

  DeleteFileA((folder.dir + "\\full.ulg").c_str());
  DeleteFileA(folder.settable.c_str());
  DeleteFileA(folder.fixed.c_str());
  RemoveDirectoryA(folder.dir.c_str());
  return 0;
}
