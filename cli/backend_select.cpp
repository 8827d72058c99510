#include "cli/backend_select.h"

#include <cerrno>
#include <vector>

#include "cli/platform.h"
#include "sim/scenario.h"
#include "sim/sim_driver.h"
#include "ui/message_quote.h"
#include "usb/d2xx_backend.h"

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

std::string SimSerialNumber(int index) {
  const sim::SimulatedMeter* meter = sim::MeterAt(index);
  return meter != nullptr ? meter->config().eeprom.serial_number : "";
}

bool MakeSimBackend(const std::string& scenario_path, Backend* out, std::string* error) {
  sim::Scenario scenario;
  if (!sim::LoadScenarioFile(scenario_path, &scenario, error)) return false;
  sim::ConfigureBus(scenario);
  // A command's whole session would otherwise be kept in memory.
  sim::SetMemoryTrace(false);
  out->name = "sim";
  out->functions = sim::SimD2xxFunctions();
  out->where = SimSerialNumber;
  out->partial_identity = false;
  return true;
}

bool MakeLibftdi(Backend* out, std::string* error) {
#if defined(SQ71_LIBFTDI_BUILT)
  return MakeLibftdiBackend(out, error);
#else
  (void)out;
#if defined(_WIN32)
  *error = "the libftdi backend exists on Linux and macOS only";
#else
  *error = "the libftdi backend is not built in (libftdi1 was not found when sq71 was built)";
#endif
  return false;
#endif
}

bool MakeTty(const std::string& port, Backend* out, std::string* error) {
#if defined(SQ71_TTY_BUILT)
  std::vector<std::string> ports;
  if (!port.empty()) {
    ports.push_back(port);
  } else {
    ports = SerialPorts();
  }
  return MakeTtyBackend(ports, out, error);
#else
  (void)port;
  (void)out;
#if defined(_WIN32)
  *error = "the tty backend exists on Linux and macOS only";
#else
  *error = "the tty backend is not built in";
#endif
  return false;
#endif
}

// The view ChosenDevice hands out: function pointers cannot carry state.
D2xxFunctions g_base;
int g_offset = 0;
bool g_whole_list = false;
int g_last_opened = -1;

FT_STATUS FT_API ChosenOpen(int index, FT_HANDLE* handle) {
  g_last_opened = index + g_offset;
  return g_base.Open(index + g_offset, handle);
}

FT_STATUS FT_API ChosenListDevices(void* arg1, void* arg2, uint32_t flags) {
  const FT_STATUS status = g_base.ListDevices(arg1, arg2, flags);
  if (status == FT_OK && !g_whole_list && (flags & FT_LIST_NUMBER_ONLY) != 0 && arg1 != nullptr) {
    uint32_t* count = static_cast<uint32_t*>(arg1);
    *count = *count > static_cast<uint32_t>(g_offset) ? 1 : 0;
  }
  return status;
}

}  // namespace

bool SelectBackend(const DeviceChoice& choice, Backend* out, std::string* error) {
  if (!choice.sim.empty()) return MakeSimBackend(choice.sim, out, error);
  if (!choice.port.empty() || choice.backend == "tty") return MakeTty(choice.port, out, error);
  if (choice.backend == "d2xx") return MakeD2xxBackend(out, error);
  if (choice.backend == "libftdi") return MakeLibftdi(out, error);
#if defined(_WIN32)
  return MakeD2xxBackend(out, error);
#else
  // libftdi1 needs no vendor driver and no unloading of the kernel's serial
  // driver: the first choice where it is built in.
  std::string libftdi_error;
  if (MakeLibftdi(out, &libftdi_error)) return true;
  std::string d2xx_error;
  if (MakeD2xxBackend(out, &d2xx_error)) return true;
  *error = "no USB backend: " + libftdi_error + "; " + d2xx_error +
           " (a serial port can be given with --port)";
  return false;
#endif
}

D2xxFunctions ChosenDevice(const Backend& backend, int index, bool whole_list) {
  g_base = backend.functions;
  g_offset = whole_list ? 0 : index;
  g_whole_list = whole_list;
  g_last_opened = -1;
  D2xxFunctions view = backend.functions;
  view.Open = ChosenOpen;
  view.ListDevices = ChosenListDevices;
  return view;
}

int LastOpenedIndex() { return g_last_opened; }

std::string OpenFailure(const Backend& backend, bool* denied) {
  *denied = false;
#if defined(SQ71_TTY_BUILT)
  if (backend.name == "tty") {
    const TtyOpenFailure failure = TtyLastOpenFailure();
    *denied = failure.error_number == EACCES || failure.error_number == EPERM;
    return failure.text;
  }
#endif
#if defined(SQ71_LIBFTDI_BUILT)
  if (backend.name == "libftdi") {
    const LibftdiError failure = LibftdiLastError();
    *denied = failure.kind == LibftdiError::kPermission;
    return failure.text;
  }
#endif
  (void)backend;
  return "";
}

std::string DeviceLabel(const Backend& backend, int index) {
  std::string where = backend.where != nullptr ? EscapeForMessage(backend.where(index)) : "";
  std::string label = "device " + std::to_string(index) + " (" + backend.name;
  if (!where.empty()) label += ", " + where;
  return label + ")";
}

}  // namespace sq71
