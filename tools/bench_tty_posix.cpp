// Measures a full 1024-record log download through the tty backend: the
// transfer engine, ticked back to back, reads a meter whose log has no end
// marker from a simulated meter on a pseudo-terminal, at wire pace (115200
// baud byte timing) or instantly. Prints the time against the floor the
// wire alone sets (80 bytes at 115200 baud per exchange), and checks every
// byte that came.
//
//   bench_tty [wire|instant [RUNS]]    defaults: wire 1
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "protocol/transfer_engine.h"
#include "sim/pty_meter_posix.h"
#include "ui/message_catalogue.h"
#include "usb/tty_backend_posix.h"

namespace {

using Clock = std::chrono::steady_clock;

// The window as far as the engine needs one: a timer flag and the last box.
class BenchUi : public sq71::MainWindowUi {
 public:
  void ShowMessage(int number, sq71::MessageStyle) override { message = number; }
  int AskQuestion(int) override { return sq71::kAnswerYes; }
  void SetViewEnabled(bool) override {}
  void RedrawMenuBar() override {}
  void Invalidate(bool) override {}
  void StartTransferTimer() override { timer = true; }
  void KillTransferTimer() override { timer = false; }

  bool timer = false;
  int message = -1;
};

// Every record an entry, each byte telling its record and place.
sq71::LogImage FullLog() {
  sq71::LogImage log{};
  for (int n = 0; n < sq71::kRecordCount; ++n) {
    uint8_t* record = sq71::RecordAt(log, n);
    for (std::size_t i = 0; i < sq71::kRecordSize; ++i) {
      record[i] = static_cast<uint8_t>(n * 7 + i * 13 + 1);
    }
    record[sq71::rec::kStatus] = static_cast<uint8_t>(n % 4);
  }
  return log;
}

// Seconds for one download, or a negative number when it failed.
double Download(sq71::sim::PtyMeter::Pace pace) {
  sq71::sim::MeterConfig config;
  config.log = FullLog();
  sq71::sim::PtyMeter meter(config, pace);
  if (!meter.ok()) {
    std::fprintf(stderr, "%s\n", meter.error().c_str());
    return -1;
  }
  std::string error;
  const std::unique_ptr<sq71::TtyDriver> driver = sq71::MakeTtyDriver({meter.port()}, &error);
  if (driver == nullptr) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return -1;
  }
  sq71::UsbDevice device(*driver);
  sq71::TransferState state;
  sq71::LogImage image{};
  BenchUi ui;
  sq71::TransferEngine engine(state, image, ui);
  const auto start = Clock::now();
  engine.StartTransfer(&device);
  while (ui.timer) engine.TransferTick(&device);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (ui.message != sq71::kMsgTransferComplete || image != config.log) {
    std::fprintf(stderr, "download failed (message %d)\n", ui.message);
    return -1;
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "wire";
  const int runs = argc > 2 ? std::atoi(argv[2]) : 1;
  if ((mode != "wire" && mode != "instant") || runs <= 0) {
    std::fprintf(stderr, "usage: %s [wire|instant [RUNS]]\n", argv[0]);
    return 2;
  }
  const auto pace =
      mode == "wire" ? sq71::sim::PtyMeter::Pace::kWire : sq71::sim::PtyMeter::Pace::kInstant;
  const double floor_s = sq71::kRecordCount * 80 * 10 / 115200.0;
  std::printf("1024-record Read through the tty backend, pseudo-terminal meter, %s pace\n",
              mode.c_str());
  std::printf("%-6s %10s %14s %10s\n", "run", "total_s", "per_record", "vs_floor");
  for (int run = 1; run <= runs; ++run) {
    const double s = Download(pace);
    if (s < 0) return 1;
    std::printf("%-6d %10.2f %11.3f ms %9.2fx\n", run, s, 1000.0 * s / sq71::kRecordCount,
                s / floor_s);
  }
  std::printf("%-6s %10.2f %11.3f ms %9.2fx\n", "floor", floor_s,
              1000.0 * floor_s / sq71::kRecordCount, 1.0);
  return 0;
}
