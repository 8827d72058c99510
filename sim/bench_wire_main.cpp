// Measures a full log download through the driver face in wire-accurate
// mode with the program's own calls: open and set up the line, set the
// latency timer (unless it is the chip's default of 16 ms), read the EEPROM,
// then every record as the transfer engine asks for it (purge both ways,
// write the 8-byte request, read the 72-byte reply with a 1000 ms time-out),
// once per latency timer setting given, against the floor set by the wire
// alone (80 bytes at 115200 baud per exchange). With --webusb, the same
// through the WebUSB driver on the simulated chip's USB interface (control
// requests, bulk transfers of 64-byte packets with their status bytes) too,
// each also with sq71's exchange policy: purge only when the receive queue
// holds something (or the driver cannot tell).
//
//   bench_wire [--webusb] [EXCHANGES [LATENCY_MS...]]    defaults: 1024 16 2
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "protocol/frame.h"
#include "sim/ft232r_usb_model.h"
#include "sim/sim_driver.h"
#include "usb/usb_device.h"
#include "usb/webusb_driver.h"

namespace {

using Clock = std::chrono::steady_clock;

// Returns the seconds taken, or a negative number if an exchange failed.
double Download(int exchanges, int latency_ms, bool webusb, bool queue_check) {
  sq71::sim::Scenario scenario = sq71::sim::DefaultScenario();
  scenario.timing = sq71::sim::Timing::kWire;
  sq71::sim::SimDriver bus;
  bus.SetMemoryTrace(false);
  bus.Configure(scenario);
  sq71::WebUsbDriver usb;
  usb.Attach(std::make_shared<sq71::sim::SimUsbTransport>(scenario.devices.at(0)));

  sq71::UsbDevice device(webusb ? static_cast<sq71::Driver&>(usb) : bus);
  const auto start = Clock::now();
  if (device.Configure(0, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE) != FT_OK) return -1;
  if (latency_ms != 16) device.SetLatencyTimer(static_cast<uint8_t>(latency_ms));
  device.CheckEepromIdentity();
  device.SetTimeouts(1000, 1000);
  for (int i = 0; i < exchanges; ++i) {
    const int record = i % sq71::kRecordCount;
    uint8_t request[sq71::kReadRequestSize];
    uint8_t reply[sq71::kReadReplySize] = {};
    sq71::BuildReadRequest(record, request);
    uint32_t queued = 0;
    if (!queue_check || device.GetQueueStatus(&queued) != FT_OK || queued != 0) {
      device.PurgeReceive();
      device.PurgeTransmit();
    }
    device.Write(request, sizeof(request));
    device.Read(reply, sizeof(reply));
    int number = -1;
    if (sq71::TestReadReply(device.last_status(), device.bytes_read(), reply, &number) !=
            sq71::ReadReplyVerdict::kGood ||
        number != record) {
      std::fprintf(stderr, "exchange %d failed\n", i);
      return -1;
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  device.Close();
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const bool webusb = argc > 1 && std::strcmp(argv[1], "--webusb") == 0;
  if (webusb) {
    --argc;
    ++argv;
  }
  const int exchanges = argc > 1 ? std::atoi(argv[1]) : 1024;
  std::vector<int> latencies;
  for (int i = 2; i < argc; ++i) latencies.push_back(std::atoi(argv[i]));
  if (latencies.empty()) latencies = {16, 2};
  if (exchanges <= 0) {
    std::fprintf(stderr, "usage: bench_wire [--webusb] [EXCHANGES [LATENCY_MS...]]\n");
    return 2;
  }
  const double floor_s = exchanges * 80 * 10 / 115200.0;
  std::printf("%d read-record exchanges, wire-accurate, 115200 baud\n", exchanges);
  std::printf("%-10s %-12s %10s %14s %10s\n", "driver", "latency_ms", "total_s", "per_exchange",
              "vs_floor");
  for (int latency : latencies) {
    for (int run = 0; run < (webusb ? 4 : 1); ++run) {
      const bool usb = run % 2 == 1;
      const bool queue_check = run >= 2;
      const double s = Download(exchanges, latency, usb, queue_check);
      if (s < 0) return 1;
      const char* name = usb ? (queue_check ? "webusb-q" : "webusb") : (queue_check ? "sim-q" : "sim");
      std::printf("%-10s %-12d %10.2f %11.2f ms %9.2fx\n", name, latency, s,
                  1000.0 * s / exchanges, s / floor_s);
    }
  }
  std::printf("%-10s %-12s %10.2f %11.2f ms %9.2fx\n", "wire", "floor", floor_s,
              1000.0 * floor_s / exchanges, 1.0);
  return 0;
}
