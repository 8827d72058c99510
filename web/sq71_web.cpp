// The core as the web page calls it: one log image, its table, files and
// report, and a meter - the demo meter (the simulated meter at wire timing),
// an FT232R over WebUSB or a serial port over Web Serial - read, erased and
// listed by the same transfer engine, erase and listing as sq71, traced on
// request in sq71's trace format.
//
// Plain C calls for emscripten's ccall. Texts go back as a pointer to bytes
// the module keeps until the next call, with their length from sq71_size().
// A call that talks to the meter can suspend (Asyncify: the simulated chip's
// waits give the page's thread back) and is called with {async: true}; the
// page makes one call into the module at a time.
#include <emscripten.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "log/decoder.h"
#include "log/log_files.h"
#include "log/log_image.h"
#include "protocol/device_listing.h"
#include "protocol/log_erase.h"
#include "protocol/transfer_engine.h"
#include "report/entries_json.h"
#include "report/html_report.h"
#include "report/report_entries.h"
#include "report/report_file.h"
#include "sim/scenario.h"
#include "sim/sim_driver.h"
#include "ui/message_catalogue.h"
#include "usb/tracing_driver.h"
#include "usb/usb_device.h"
#include "usb/webusb_driver.h"
#include "web/browser_meters_web.h"

#ifndef SQ71_VERSION
#define SQ71_VERSION "unknown"
#endif

namespace sq71 {
namespace {

// Each message goes to the page as it is shown: number, text, style.
EM_JS(void, sq71_show_message, (int number, const char* text, int error), {
  if (Module.onMessage) Module.onMessage(number, UTF8ToString(text), error !== 0);
});

// The main window as the page has it: the bar is drawn from the state
// between calls, the timer is the page's loop of ticks, and a question has
// been put by the page before the call that asks it.
class PageUi : public MainWindowUi {
 public:
  // A port that would not open is said with the driver's reason, as sq71
  // says it (a chip a system driver holds, a device gone).
  void ShowMessage(int number, MessageStyle style) override {
    // Said only once every record is known to have come (see Page::Finish).
    if (number == kMsgTransferComplete) {
      complete = true;
      return;
    }
    std::string text = MessageText(number);
    if (number == kMsgUsbPortError && driver != nullptr && !driver->last_error().empty()) {
      text += " (" + driver->last_error() + ")";
    }
    sq71_show_message(number, text.c_str(), style == MessageStyle::kError ? 1 : 0);
  }
  int AskQuestion(int number) override { return (void)number, answer; }
  void SetViewEnabled(bool) override {}
  void RedrawMenuBar() override {}
  void Invalidate(bool) override {}
  void StartTransferTimer() override { timer_armed = true; }
  void KillTransferTimer() override { timer_armed = false; }

  bool timer_armed = false;
  bool complete = false;  // the engine said the download was complete
  int answer = kAnswerNo;
  const Driver* driver = nullptr;  // the meter's
};

// Ask again for a record whose reply failed, as sq71 read does by default.
constexpr int kRetries = 2;

// A trace kept in the page until it is saved: each line stamped with the
// microseconds since the trace began, as a trace file has them.
class TraceText : public TraceSink {
 public:
  void Line(const std::string& line) override {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - start_)
                            .count();
    text += std::to_string(micros) + " " + line + "\n";
  }
  std::string text;

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

enum MeterKind { kDemo = 0, kWebUsb = 1, kWebSerial = 2 };

struct Page {
  LogImage image{};
  LogImage before_read{};  // the log a stopped read may give back
  std::string text;        // the last text handed out
  uint8_t scratch[kLogImageSize];

  // The demo meter: one simulated meter with the sample log, on the wall
  // clock, the chip's latency timer settable.
  std::unique_ptr<sim::SimDriver> demo;
  WebUsbDriver webusb;
  web::WebSerialDriver webserial;
  Driver* meter = nullptr;  // the one chosen
  std::unique_ptr<TraceText> trace;
  std::unique_ptr<TracingDriver> tracer;  // over `meter` while a trace is kept
  std::unique_ptr<UsbDevice> device;
  PageUi ui;
  TransferState state;
  std::unique_ptr<TransferEngine> engine;

  Driver& Used() { return tracer != nullptr ? static_cast<Driver&>(*tracer) : *meter; }

  // The meter the commands go to; the demo meter until another is chosen.
  // The page's policy is sq71's.
  void Ensure() {
    if (meter == nullptr) Choose(kDemo);
    if (engine != nullptr) return;
    ExchangePolicy policy;
    policy.purge_every_request = false;
    policy.retries = kRetries;
    policy.check_record_number = true;
    policy.confirm_after_failure = true;
    engine = std::make_unique<TransferEngine>(state, image, ui, policy);
  }

  // The net under the exchange policy, as sq71 read has it: each record up
  // to the end marker (up to where a log cut short ends) must have come in a
  // good reply of this read; at the first that did not, the log ends, and a
  // read that said it was complete is not.
  void Finish() {
    const bool said_complete = ui.complete;
    ui.complete = false;
    const int end = EntryCount(image, nullptr);
    const int last = said_complete ? std::min(end, kRecordCount - 1) : end - 1;
    for (int n = 0; n <= last; ++n) {
      if (engine->stored(n)) continue;
      MarkLogEnd(image, n);
      std::fill(image.begin() + static_cast<std::ptrdiff_t>(n + 1) * kRecordSize, image.end(), 0);
      if (said_complete) {
        const std::string text = "record " + std::to_string(n) +
                                 ": no good reply brought it; the log ends before it";
        sq71_show_message(-1, text.c_str(), 1);
      }
      return;
    }
    if (said_complete) {
      sq71_show_message(kMsgTransferComplete, MessageText(kMsgTransferComplete), 0);
    }
  }

  void Choose(int kind) {
    if (device != nullptr) device->Close();
    if (kind == kWebUsb) {
      meter = &webusb;
    } else if (kind == kWebSerial) {
      meter = &webserial;
    } else {
      if (demo == nullptr) demo = std::make_unique<sim::SimDriver>(sim::DefaultScenario());
      meter = demo.get();
    }
    // A trace being kept goes on with the new meter, from a new first line.
    if (trace != nullptr) tracer = std::make_unique<TracingDriver>(*meter, *trace);
    device = std::make_unique<UsbDevice>(Used());
    ui.driver = meter;
  }
};

Page& ThePage() {
  static Page page;
  return page;
}

const char* Hand(std::string text) {
  ThePage().text = std::move(text);
  return ThePage().text.c_str();
}

int Entries() { return EntryCount(ThePage().image, nullptr); }

// Control bytes of a name as \xNN, so nothing in it can act on the page's
// layout or split its cells; the other bytes stay the meter's.
void AppendName(const char* name, std::size_t size, std::string* out) {
  for (std::size_t i = 0; i < size; ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte < 0x20 || byte == 0x7f) {
      static const char kHex[] = "0123456789ABCDEF";
      out->append("\\x");
      out->push_back(kHex[byte >> 4]);
      out->push_back(kHex[byte & 15]);
    } else {
      out->push_back(static_cast<char>(byte));
    }
  }
}

}  // namespace
}  // namespace sq71

using namespace sq71;

extern "C" {

EMSCRIPTEN_KEEPALIVE int sq71_size() { return static_cast<int>(ThePage().text.size()); }

EMSCRIPTEN_KEEPALIVE const char* sq71_message_text(int number) { return MessageText(number); }

EMSCRIPTEN_KEEPALIVE const char* sq71_version() { return SQ71_VERSION; }

// Where the page puts a file's bytes before sq71_load.
EMSCRIPTEN_KEEPALIVE uint8_t* sq71_scratch() { return ThePage().scratch; }

EMSCRIPTEN_KEEPALIVE const uint8_t* sq71_image() { return ThePage().image.data(); }

// A file of `size` bytes, its first bytes in the scratch area, as Load takes
// it: the image is replaced only by a whole log file; otherwise the message
// the program shows is returned and the image stays as it was.
EMSCRIPTEN_KEEPALIVE int sq71_load(double size) {
  if (size != static_cast<double>(kLogImageSize)) return kMsgInvalidDataFile;
  Page& page = ThePage();
  if (page.engine != nullptr) page.engine->StopForLoad(page.device.get());
  std::memcpy(page.image.data(), page.scratch, kLogImageSize);
  return -1;
}

EMSCRIPTEN_KEEPALIVE int sq71_entry_count() { return Entries(); }

// The Log Entries view's rows: each list row's 22 columns, split at its tabs
// (the name, which may hold a tab, taken whole), cells ending in 0x1F and
// rows in 0x1E.
EMSCRIPTEN_KEEPALIVE const char* sq71_rows() {
  std::string out;
  RecordDecoder decoder;
  DecodedEntry entry;
  const int count = Entries();
  for (int i = 0; i < count && decoder.Decode(ThePage().image, i, &entry); ++i) {
    const char* row = entry.list_row;
    const char* id_end = std::strchr(row, '\t');
    if (id_end == nullptr) continue;
    out.append(row, id_end);
    out.push_back('\x1f');
    const std::size_t name_size = std::max<std::size_t>(16, std::strlen(entry.name));
    // The name as sq71 view shows it: Windows-1252 in UTF-8, escaped.
    out += Cp1252ForTerminal(std::string_view(id_end + 1, name_size));
    out.push_back('\x1f');
    for (const char* cell = id_end + 1 + name_size + 1; *cell != '\0'; ++cell) {
      out.push_back(*cell == '\t' ? '\x1f' : *cell);
    }
    out.append("\x1f\x1e");
  }
  return Hand(std::move(out));
}

EMSCRIPTEN_KEEPALIVE const char* sq71_csv() {
  std::string out;
  RecordDecoder decoder;
  AppendCsv(ThePage().image, Entries(), &decoder, &out);
  return Hand(std::move(out));
}

EMSCRIPTEN_KEEPALIVE const char* sq71_json() {
  RecordDecoder decoder;
  return Hand(EntriesJson(CollectEntries(ThePage().image, Entries(), &decoder, Thresholds())));
}

// The report as sq71 report writes it; the thresholds in dB (marginal not
// above good, as the page's settings keep them); the installation's date is
// the log file's, as sq71 report takes it.
EMSCRIPTEN_KEEPALIVE const char* sq71_report(const char* title, double good, double marginal,
                                             const char* log_name, const char* log_date) {
  ReportInfo info;
  info.job.date = log_date;
  info.title = title;
  info.thresholds.good = static_cast<int>(std::lround(good * 100));
  info.thresholds.marginal = static_cast<int>(std::lround(marginal * 100));
  info.log_name = log_name;
  info.made = LocalTimeNow();
  info.version = SQ71_VERSION;
  RecordDecoder decoder;
  return Hand(HtmlReport(CollectEntries(ThePage().image, Entries(), &decoder, info.thresholds),
                         info));
}

// Read from the meter: 1 when the download runs (the log is kept aside
// until it ends), 0 when it could not start (reported).
EMSCRIPTEN_KEEPALIVE int sq71_read_start() {
  Page& page = ThePage();
  page.Ensure();
  page.before_read = page.image;
  page.ui.complete = false;
  page.engine->StartTransfer(page.device.get());
  return page.ui.timer_armed ? 1 : 0;
}

// One tick of the download; 1 while it goes on.
EMSCRIPTEN_KEEPALIVE int sq71_read_tick() {
  Page& page = ThePage();
  if (page.engine == nullptr) return 0;
  page.engine->TransferTick(page.device.get());
  if (!page.ui.timer_armed) {
    page.device->Close();
    page.Finish();
  }
  return page.ui.timer_armed ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE int sq71_progress() { return ThePage().state.progress; }
EMSCRIPTEN_KEEPALIVE int sq71_next_record() { return ThePage().state.next_record; }

// Cancel: the log ends at the first record not fetched; keep = 0 gives the
// log held before the read back instead.
EMSCRIPTEN_KEEPALIVE void sq71_read_stop(int keep) {
  Page& page = ThePage();
  if (page.engine == nullptr) return;
  page.engine->StopEarly(page.device.get());
  page.device->Close();
  if (keep == 0) {
    page.image = page.before_read;
  } else {
    page.Finish();
  }
}

// Erase the meter's log; the page has had the user confirm it.
EMSCRIPTEN_KEEPALIVE void sq71_erase() {
  Page& page = ThePage();
  page.Ensure();
  page.ui.answer = kAnswerYes;
  EraseLogCommand(page.device.get(), page.ui, page.engine.get());
  page.ui.answer = kAnswerNo;
  page.device->Close();
}

// The meters that answer through the chosen driver: "index TAB name TAB
// where" lines.
EMSCRIPTEN_KEEPALIVE const char* sq71_meters() {
  Page& page = ThePage();
  page.Ensure();
  std::string out;
  Driver& driver = page.Used();
  ListDevices(driver, [&](int index, const char* name) {
    out += std::to_string(index) + "\t";
    AppendName(name, std::strlen(name), &out);
    out += "\t" + driver.Where(index) + "\n";
  });
  return Hand(std::move(out));
}

// The meter the commands go to: 0 the demo meter, 1 the FT232Rs granted over
// WebUSB, 2 the ports granted over Web Serial.
EMSCRIPTEN_KEEPALIVE void sq71_choose(int kind) { ThePage().Choose(kind); }

// A device the page was granted, by the page's number for it.
EMSCRIPTEN_KEEPALIVE void sq71_usb_attach(int id, const char* serial) {
  ThePage().webusb.Attach(std::make_shared<web::WebUsbTransport>(id, serial));
}
EMSCRIPTEN_KEEPALIVE void sq71_serial_attach(int id, const char* where) {
  ThePage().webserial.Attach(id, where);
}

// 1 when the chosen driver cannot check the chip's identity whole.
EMSCRIPTEN_KEEPALIVE int sq71_partial_identity() {
  Page& page = ThePage();
  page.Ensure();
  return page.meter->partial_identity() ? 1 : 0;
}

// Starts keeping a trace of every call to the meter (a new one each time).
EMSCRIPTEN_KEEPALIVE void sq71_trace_start() {
  Page& page = ThePage();
  page.Ensure();
  page.device->Close();
  page.trace = std::make_unique<TraceText>();
  page.tracer = std::make_unique<TracingDriver>(*page.meter, *page.trace);
  page.device = std::make_unique<UsbDevice>(page.Used());
}

// The trace kept so far, in sq71's trace format.
EMSCRIPTEN_KEEPALIVE const char* sq71_trace_text() {
  Page& page = ThePage();
  return Hand(page.trace != nullptr ? page.trace->text : std::string());
}

}  // extern "C"
