// The browser tests' meters: the simulated meter's FT232R (sim/
// ft232r_usb_model) in a module of its own, which the tests' fake USBDevice
// and fake SerialPort call for every transfer. Times are the page's
// milliseconds since the chip was plugged in.
#include <emscripten.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "sim/ft232r_usb_model.h"
#include "sim/scenario.h"

using namespace sq71;
using namespace sq71::sim;

namespace {

std::vector<std::unique_ptr<Ft232rUsbModel>> chips;
std::vector<uint8_t> out;  // the last IN data handed to the caller
std::string text;

Nanos At(double ms) { return static_cast<Nanos>(ms * 1e6); }
double Ms(Nanos t) { return t == kNever ? -1 : static_cast<double>(t) / 1e6; }

}  // namespace

extern "C" {

// A chip behind the first meter of a scenario's text, at the given latency
// timer; its number, or -1 with the parse error in fake_text().
EMSCRIPTEN_KEEPALIVE int fake_plug(const char* scenario_text, int latency_ms) {
  Scenario scenario;
  if (!ParseScenario(scenario_text, "", &scenario, &text) || scenario.devices.empty()) return -1;
  UsbModelTiming timing;
  timing.wire = scenario.timing == Timing::kWire;
  timing.latency_ms = latency_ms;
  timing.erase_ms = scenario.erase_ms;
  chips.push_back(std::make_unique<Ft232rUsbModel>(scenario.devices[0], timing));
  return static_cast<int>(chips.size()) - 1;
}

EMSCRIPTEN_KEEPALIVE const char* fake_text() { return text.c_str(); }
EMSCRIPTEN_KEEPALIVE uint8_t* fake_buffer(int size) { return out.resize(size), out.data(); }
EMSCRIPTEN_KEEPALIVE const uint8_t* fake_out() { return out.data(); }

// A vendor request: -1 when the chip stalls it, else the IN data's length
// (in fake_out()).
EMSCRIPTEN_KEEPALIVE int fake_control(int chip, double now, int type, int request, int value,
                                      int index, int length) {
  ft232r::ControlRequest r;
  r.request_type = static_cast<uint8_t>(type);
  r.request = static_cast<uint8_t>(request);
  r.value = static_cast<uint16_t>(value);
  r.index = static_cast<uint16_t>(index);
  r.length = static_cast<uint16_t>(length);
  std::vector<uint8_t> in;
  if (!chips[chip]->Control(At(now), r, &in)) return -1;
  out = in;
  return static_cast<int>(out.size());
}

// The bytes put in fake_buffer() to the bulk OUT endpoint; when they reach
// the chip.
EMSCRIPTEN_KEEPALIVE double fake_bulk_out(int chip, double now, int count) {
  return Ms(chips[chip]->BulkOut(At(now), out.data(), static_cast<std::size_t>(count)));
}

// When the next IN packet reaches the host; -1 for never.
EMSCRIPTEN_KEEPALIVE double fake_next_in(int chip, double now) {
  return Ms(chips[chip]->NextInAt(At(now)));
}

// One IN transfer at `now` (status bytes included) into fake_out(); its length.
EMSCRIPTEN_KEEPALIVE int fake_take_in(int chip, double now, int capacity) {
  out = chips[chip]->TakeIn(At(now), static_cast<std::size_t>(capacity));
  return static_cast<int>(out.size());
}

// The line a serial driver sets as it opens a port: baud rate, 8N1 or the
// like, no flow control. 0, or -1 for a rate the chip cannot make.
EMSCRIPTEN_KEEPALIVE int fake_line(int chip, double now, int baud, int bits, int stop_bits,
                                   int parity) {
  ft232r::ControlRequest rate;
  if (!ft232r::BaudRateRequest(static_cast<uint32_t>(baud), &rate)) return -1;
  std::vector<uint8_t> in;
  Ft232rUsbModel& c = *chips[chip];
  c.Control(At(now), rate, &in);
  c.Control(At(now), ft232r::DataCharacteristicsRequest(static_cast<uint8_t>(bits),
                                                        stop_bits == 2 ? 2 : 0,
                                                        static_cast<uint8_t>(parity)),
            &in);
  c.Control(At(now), ft232r::FlowControlRequest(0, 0, 0), &in);
  return 0;
}

// The meter's log, for a caller to fill (the module has no files).
EMSCRIPTEN_KEEPALIVE uint8_t* fake_log(int chip) { return chips[chip]->meter().log().data(); }

EMSCRIPTEN_KEEPALIVE int fake_unplugged(int chip) { return chips[chip]->unplugged() ? 1 : 0; }
EMSCRIPTEN_KEEPALIVE void fake_unplug(int chip) { chips[chip]->Unplug(); }

// Every vendor request the chip saw, one "40 03 001A 0000" a line.
EMSCRIPTEN_KEEPALIVE const char* fake_requests(int chip) {
  text.clear();
  for (const SeenRequest& r : chips[chip]->requests()) text += Describe(r) + "\n";
  return text.c_str();
}

}  // extern "C"
