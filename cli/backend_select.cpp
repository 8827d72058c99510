#include "cli/backend_select.h"

#include <vector>

#include "cli/platform.h"
#include "sim/replay_driver.h"
#include "sim/scenario.h"
#include "sim/sim_driver.h"
#include "ui/message_quote.h"
#include "usb/d2xx_driver.h"

// The libftdi1 and tty backends are built only where their sources and
// libraries are; without them their names are refused with a clear reason.
#if defined(SQ71_HAVE_LIBFTDI) && __has_include("usb/libftdi_backend_posix.h")
#include "usb/libftdi_backend_posix.h"
#define SQ71_LIBFTDI_BUILT 1
#endif
#if !defined(_WIN32) && __has_include("usb/tty_backend_posix.h")
#include "usb/tty_backend_posix.h"
#define SQ71_TTY_BUILT 1
#endif

namespace sq71 {
namespace {

// The scenario file's meters, or with no file the demo meter.
std::unique_ptr<Driver> MakeSim(const std::string& scenario_path, std::string* error) {
  sim::Scenario scenario;
  if (scenario_path.empty()) {
    scenario = sim::DefaultScenario();
  } else if (!sim::LoadScenarioFile(scenario_path, &scenario, error)) {
    return nullptr;
  }
  // A paced replay waits as the meter did, and stops on Ctrl-C as a live read does.
  if (scenario.replay != nullptr) return sim::MakeReplayDriver(scenario, error, StopRequested);
  auto driver = std::make_unique<sim::SimDriver>();
  // A command's whole session would otherwise be kept in memory.
  driver->SetMemoryTrace(false);
  driver->Configure(scenario);
  return driver;
}

std::unique_ptr<Driver> MakeD2xx(const DeviceChoice&, std::string* error) {
  return LoadD2xxDriver(error);
}

std::unique_ptr<Driver> MakeLibftdi(const DeviceChoice&, std::string* error) {
#if defined(SQ71_LIBFTDI_BUILT)
  return MakeLibftdiDriver(error);
#else
#if defined(_WIN32)
  *error = "the libftdi backend exists on Linux and macOS only";
#else
  *error = "the libftdi backend is not built in (libftdi1 was not found when sq71 was built)";
#endif
  return nullptr;
#endif
}

std::unique_ptr<Driver> MakeTty(const DeviceChoice& choice, std::string* error) {
  const std::string& port = choice.port;
#if defined(SQ71_TTY_BUILT)
  std::vector<std::string> ports;
  if (!port.empty()) {
    ports.push_back(port);
  } else {
    ports = SerialPorts();
    if (ports.empty()) {
      *error = std::string("no serial port found (looked for ") + SerialPortPattern() +
               "); is the meter plugged in? A port can be named with --port";
      return nullptr;
    }
  }
  return MakeTtyDriver(ports, error);
#else
  (void)port;
#if defined(_WIN32)
  *error = "the tty backend exists on Linux and macOS only";
#else
  *error = "the tty backend is not built in";
#endif
  return nullptr;
#endif
}

std::unique_ptr<Driver> MakeAuto(const DeviceChoice& choice, std::string* error) {
#if defined(_WIN32)
  return MakeD2xx(choice, error);
#else
  // libftdi1 needs no vendor driver and no unloading of the kernel's serial
  // driver: the first choice where it is built in.
  std::string libftdi_error;
  if (std::unique_ptr<Driver> driver = MakeLibftdi(choice, &libftdi_error)) return driver;
  std::string d2xx_error;
  if (std::unique_ptr<Driver> driver = MakeD2xx(choice, &d2xx_error)) return driver;
  *error = "no USB backend: " + libftdi_error + "; " + d2xx_error +
           " (a serial port can be given with --port)";
  return nullptr;
#endif
}

}  // namespace

const std::vector<BackendRow>& Backends() {
  static const std::vector<BackendRow> rows = {
      {kAutoBackend, MakeAuto},
      {kD2xxBackend, MakeD2xx},
      {kLibftdiBackend, MakeLibftdi},
      {kTtyBackend, MakeTty},
  };
  return rows;
}

std::vector<std::string> BackendNames() {
  std::vector<std::string> names;
  for (const BackendRow& row : Backends()) names.emplace_back(row.name);
  return names;
}

const char* BackendHelp() {
  static const std::string help = [] {
    const std::vector<std::string> names = BackendNames();
    std::string text = names[0] + " (default)";
    for (std::size_t i = 1; i < names.size(); ++i) {
      text += (i + 1 == names.size() ? " or " : ", ") + names[i];
    }
    return text;
  }();
  return help.c_str();
}

std::unique_ptr<Driver> SelectDriver(const DeviceChoice& choice, std::string* error) {
  if (choice.UsesSim()) return MakeSim(choice.sim, error);
  if (!choice.port.empty()) return MakeTty(choice, error);
  for (const BackendRow& row : Backends()) {
    if (choice.backend == row.name) return row.make(choice, error);
  }
  *error = "no backend called " + QuoteForMessage(choice.backend);
  return nullptr;
}

FT_STATUS ChosenDevice::CountDevices(uint32_t* count) {
  const FT_STATUS status = base_.CountDevices(count);
  if (status == FT_OK && !whole_list_ && count != nullptr) {
    *count = *count > static_cast<uint32_t>(offset_) ? 1 : 0;
  }
  return status;
}

std::string StatusWithName(FT_STATUS status) {
  const char* name = "driver error";
  switch (status) {
    case FT_OK:
      name = "no error";
      break;
    case FT_INVALID_HANDLE:
      name = "invalid handle";
      break;
    case FT_DEVICE_NOT_FOUND:
      name = "no such device";
      break;
    case FT_DEVICE_NOT_OPENED:
      name = "the device cannot be opened";
      break;
    case FT_IO_ERROR:
      name = "I/O error";
      break;
    case FT_INSUFFICIENT_RESOURCES:
      name = "insufficient resources";
      break;
    case FT_INVALID_PARAMETER:
      name = "invalid parameter";
      break;
    case FT_INVALID_BAUD_RATE:
      name = "invalid baud rate";
      break;
    case FT_EEPROM_READ_FAILED:
      name = "the chip's EEPROM cannot be read";
      break;
    case FT_NOT_SUPPORTED:
      name = "not supported by the driver";
      break;
    default:
      break;
  }
  return std::string(name) + ", status " + std::to_string(status);
}

std::string DeviceLabel(Driver& driver, int index) {
  std::string where = EscapeForMessage(driver.Where(index));
  std::string label = "device " + std::to_string(index) + " (" + driver.name();
  if (!where.empty()) label += ", " + where;
  return label + ")";
}

}  // namespace sq71
