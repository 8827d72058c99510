#include "sim/scenario.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "log/key_value_text.h"
#include "log/regular_file.h"
#include "sim/sample_log.h"
#include "ui/message_quote.h"

namespace sq71::sim {
namespace {

// Far more than any scenario needs; a device or a runaway file stops here.
constexpr std::size_t kMaxScenarioBytes = 1024 * 1024;

std::vector<std::string> Words(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> words;
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

// Decimal or 0x-prefixed hexadecimal, whole text, within [low, high].
bool ParseNumber(const std::string& text, long low, long high, long* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

bool IsAbsolute(const std::string& path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
         (path.size() > 1 && path[1] == ':');
}

std::string Resolve(const std::string& base_dir, const std::string& path) {
  if (base_dir.empty() || IsAbsolute(path)) return path;
  const char last = base_dir.back();
  return base_dir + (last == '/' || last == '\\' ? "" : "/") + path;
}

class Parser {
 public:
  Parser(const std::string& base_dir, Scenario* scenario)
      : base_dir_(base_dir), scenario_(scenario) {}

  // One setting of the file: a [device] section or a key and its value.
  bool Setting(const std::string& key, const std::string& value, bool section) {
    if (section) {
      if (key != "[device]") return Fail("unknown section '" + key + "' (only [device])");
      // Each device holds a whole log image: a bus of at most so many.
      if (scenario_->devices.size() == kMaxScenarioDevices) {
        return Fail("more than " + std::to_string(kMaxScenarioDevices) + " [device] sections");
      }
      scenario_->devices.emplace_back();
      return true;
    }
    if (scenario_->devices.empty()) return Global(key, value);
    return Device(key, value, scenario_->devices.back());
  }

  bool Fail(const std::string& message) {
    error_ = message;
    return false;
  }
  const std::string& error() const { return error_; }

 private:
  bool Global(const std::string& key, const std::string& value) {
    long n = 0;
    if (key == "timing") {
      if (value == "instant") {
        scenario_->timing = Timing::kInstant;
      } else if (value == "wire") {
        scenario_->timing = Timing::kWire;
      } else {
        return Fail("timing must be instant or wire, not '" + value + "'");
      }
    } else if (key == "latency_ms") {
      if (!ParseNumber(value, 2, 255, &n)) {
        return Fail("latency_ms must be a number from 2 to 255, not '" + value + "'");
      }
      scenario_->latency_ms = static_cast<int>(n);
    } else if (key == "latency_timer") {
      if (value != "settable" && value != "fixed") {
        return Fail("latency_timer must be settable or fixed, not '" + value + "'");
      }
      scenario_->latency_settable = value == "settable";
    } else if (key == "erase_ms") {
      if (!ParseNumber(value, 0, 600000, &n)) {
        return Fail("erase_ms must be a number from 0 to 600000, not '" + value + "'");
      }
      scenario_->erase_ms = static_cast<int>(n);
    } else if (key == "trace") {
      if (value.empty()) return Fail("trace needs a file name");
      scenario_->trace_path = Resolve(base_dir_, value);
    } else if (key == "replay") {
      if (value.empty()) return Fail("replay needs a trace file");
      auto calls = std::make_shared<std::vector<TracedCall>>();
      std::string error;
      scenario_->replay_path = Resolve(base_dir_, value);
      if (!LoadTraceFile(scenario_->replay_path, calls.get(), &error,
                         &scenario_->replay_backend)) {
        return Fail(error);
      }
      scenario_->replay = std::move(calls);
    } else if (IsDeviceKey(key)) {
      return Fail("'" + key + "' belongs in a [device] section");
    } else {
      return Fail("unknown key '" + key + "'");
    }
    return true;
  }

  static bool IsDeviceKey(const std::string& key) {
    for (const char* k :
         {"name", "log", "description", "manufacturer", "serial_number", "vendor_id", "product_id",
          "pnp", "self_powered", "invert_dtr", "invert_rxd", "invert_txd", "cbus4", "open",
          "eeprom", "refuse", "fault", "open_bytes"}) {
      if (key == k) return true;
    }
    return false;
  }

  bool Small(const std::string& key, const std::string& value, long high, long* n) {
    if (ParseNumber(value, 0, high, n)) return true;
    return Fail(key + " must be a number from 0 to " + std::to_string(high) + ", not '" + value +
                "'");
  }

  bool Device(const std::string& key, const std::string& value, MeterConfig& d) {
    long n = 0;
    EepromFields& e = d.eeprom;
    if (key == "name") {
      d.name = value;
    } else if (key == "log") {
      if (value == "sample") {
        d.log = MakeSampleLog();
      } else if (value == "empty") {
        d.log = MakeEmptyLog();
      } else if (value.empty()) {
        return Fail("log must be sample, empty or a .ulg file");
      } else {
        std::string error;
        if (!LoadLogFile(Resolve(base_dir_, value), &d.log, &error)) return Fail(error);
      }
    } else if (key == "description") {
      if (value.size() > 63) return Fail("description is longer than 63 characters");
      e.description = value;
    } else if (key == "manufacturer") {
      if (value.size() > 31) return Fail("manufacturer is longer than 31 characters");
      e.manufacturer = value;
    } else if (key == "serial_number") {
      if (value.size() > 15) return Fail("serial_number is longer than 15 characters");
      e.serial_number = value;
    } else if (key == "vendor_id" || key == "product_id") {
      if (!Small(key, value, 0xFFFF, &n)) return false;
      (key == "vendor_id" ? e.vendor_id : e.product_id) = static_cast<uint16_t>(n);
    } else if (key == "pnp" || key == "self_powered") {
      if (!Small(key, value, 0xFFFF, &n)) return false;
      (key == "pnp" ? e.pnp : e.self_powered) = static_cast<uint16_t>(n);
    } else if (key == "invert_dtr" || key == "invert_rxd" || key == "invert_txd" ||
               key == "cbus4") {
      if (!Small(key, value, 0xFF, &n)) return false;
      uint8_t& field = key == "invert_dtr"   ? e.invert_dtr
                       : key == "invert_rxd" ? e.invert_rxd
                       : key == "invert_txd" ? e.invert_txd
                                             : e.cbus4;
      field = static_cast<uint8_t>(n);
    } else if (key == "open") {
      if (value != "refuse" && value != "allow") {
        return Fail("open must be refuse or allow, not '" + value + "'");
      }
      d.refuse_open = value == "refuse";
    } else if (key == "eeprom") {
      if (value != "fail" && value != "ok") {
        return Fail("eeprom must be fail or ok, not '" + value + "'");
      }
      d.eeprom_read_fails = value == "fail";
    } else if (key == "refuse") {
      if (value != "baud_rate" && value != "data_characteristics" && value != "flow_control") {
        return Fail("refuse must be baud_rate, data_characteristics or flow_control, not '" +
                    value + "'");
      }
      d.refused_setting = value;
    } else if (key == "open_bytes") {
      if (!Small(key, value, 0xFF, &n)) return false;
      d.record_reply_open.fill(static_cast<uint8_t>(n));
      d.identify_reply_open = static_cast<uint8_t>(n);
    } else if (key == "fault") {
      return FaultLine(value, d);
    } else if (key == "timing" || key == "latency_ms" || key == "latency_timer" ||
               key == "erase_ms" || key == "trace" || key == "replay") {
      return Fail("'" + key + "' must come before the first [device] section");
    } else {
      return Fail("unknown key '" + key + "'");
    }
    return true;
  }

  // fault = (record N | exchange N | erase | identify) ACTION [VALUE] [once]
  bool FaultLine(const std::string& value, MeterConfig& d) {
    std::vector<std::string> w = Words(value);
    Fault f;
    if (w.size() > 2 && w.back() == "once") {
      f.once = true;
      w.pop_back();
    }
    std::size_t i = 0;
    long n = 0;
    if (w.empty()) return Fail("fault needs a request and an action");
    if (w[0] == "record" || w[0] == "exchange") {
      f.when = w[0] == "record" ? FaultWhen::kRecord : FaultWhen::kExchange;
      const long low = w[0] == "record" ? 0 : 1;
      if (w.size() < 2 || !ParseNumber(w[1], low, 65535, &n)) {
        return Fail("fault: '" + w[0] + "' needs a number from " + std::to_string(low) +
                    " to 65535");
      }
      f.key = static_cast<int>(n);
      i = 2;
    } else if (w[0] == "erase" || w[0] == "identify") {
      f.when = w[0] == "erase" ? FaultWhen::kErase : FaultWhen::kIdentify;
      i = 1;
    } else {
      return Fail("fault: unknown request '" + w[0] +
                  "' (record N, exchange N, erase or identify)");
    }
    if (i >= w.size()) return Fail("fault: missing action after '" + w[i - 1] + "'");
    const std::string& action = w[i];
    const bool has_value = i + 1 < w.size();
    std::size_t words = i + 1;
    if (action == "no_reply") {
      f.action = FaultAction::kNoReply;
    } else if (action == "nak") {
      f.action = FaultAction::kNak;
    } else if (action == "bad_checksum" || action == "checksum") {
      f.action = FaultAction::kBadChecksum;
    } else if (action == "short_reply") {
      f.action = FaultAction::kShortReply;
      if (has_value) {
        if (!ParseNumber(w[i + 1], 0, 65535, &n)) {
          return Fail("fault: short_reply takes a byte count, not '" + w[i + 1] + "'");
        }
        f.value = static_cast<int>(n);
        ++words;
      }
    } else if (action == "unplug") {
      f.action = FaultAction::kUnplug;
    } else if (action == "record_number" || action == "delay" || action == "late" ||
               action == "stray") {
      f.action = action == "delay"   ? FaultAction::kDelay
                 : action == "late"  ? FaultAction::kLate
                 : action == "stray" ? FaultAction::kStray
                                     : FaultAction::kRecordNumber;
      const long low = action == "stray" ? 1 : 0;
      const long high = action == "record_number" ? 65535 : action == "stray" ? 4096 : 600000;
      if (!has_value || !ParseNumber(w[i + 1], low, high, &n)) {
        return Fail("fault: " + action + " needs a number from " + std::to_string(low) + " to " +
                    std::to_string(high));
      }
      f.value = static_cast<int>(n);
      ++words;
    } else {
      return Fail("fault: unknown action '" + action +
                  "' (no_reply, short_reply, nak, bad_checksum, record_number, delay, late, "
                  "unplug, stray)");
    }
    if (words != w.size()) return Fail("fault: unexpected '" + w[words] + "'");
    d.faults.push_back(f);
    return true;
  }

  std::string base_dir_;
  Scenario* scenario_;
  std::string error_;
};

}  // namespace

Scenario DefaultScenario() {
  Scenario scenario;
  scenario.devices.emplace_back();
  return scenario;
}

bool ParseScenario(const std::string& text, const std::string& base_dir, Scenario* scenario,
                   std::string* error) {
  Scenario parsed;
  Parser parser(base_dir, &parsed);
  const KeyValueSink sink = [&](const std::string& key, const std::string& value, bool section,
                                std::string* why) {
    if (parser.Setting(key, value, section)) return true;
    *why = parser.error();
    return false;
  };
  if (!ParseKeyValueText(text, sink, error)) {
    // The trace file named so far still hears about the error.
    scenario->trace_path = parsed.trace_path;
    return false;
  }
  *scenario = std::move(parsed);
  return true;
}

bool LoadScenarioFile(const std::string& path, Scenario* scenario, std::string* error) {
  std::string text;
  std::string why;
  if (!ReadRegularFile(path, kMaxScenarioBytes, &text, &why, "scenario file")) {
    if (error != nullptr) *error = why;
    return false;
  }
  const std::size_t slash = path.find_last_of("/\\");
  const std::string base_dir = slash == std::string::npos ? "" : path.substr(0, slash);
  std::string message;
  if (!ParseScenario(text, base_dir, scenario, &message)) {
    if (error != nullptr) *error = EscapeForMessage(path) + ": " + message;
    return false;
  }
  return true;
}

bool LoadLogFile(const std::string& path, LogImage* image, std::string* error) {
  std::string bytes;
  const RegularFileResult read = ReadRegularFile(path, kLogImageSize, &bytes);
  if (read.ok() && bytes.size() == kLogImageSize) {
    std::copy(bytes.begin(), bytes.end(), image->begin());
    return true;
  }
  if (error != nullptr) {
    // Too large is the wrong size as much as too short is.
    *error = read.ok() || read.status == RegularRead::kTooLarge
                 ? "log file " + QuoteForMessage(path) + " is not " +
                       std::to_string(kLogImageSize) + " bytes"
                 : RegularFileError(path, read, kLogImageSize, "log file");
  }
  return false;
}

}  // namespace sq71::sim
