#include "cli/doctor.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/permission_hint.h"
#include "cli/platform.h"
#include "protocol/device_listing.h"
#include "protocol/open_meter.h"
#include "ui/message_quote.h"
#include "usb/d2xx_driver.h"
#include "usb/usb_device.h"

#if defined(SQ71_HAVE_LIBFTDI) && __has_include("usb/libftdi_backend_posix.h")
#include "usb/libftdi_backend_posix.h"
#include "usb/libftdi_probe_posix.h"
#define SQ71_DOCTOR_LIBFTDI 1
#endif
#if !defined(_WIN32) && __has_include("usb/tty_backend_posix.h")
#include "usb/tty_backend_posix.h"
#define SQ71_DOCTOR_TTY 1
#endif

namespace sq71 {
namespace {

// The description a meter's chip carries (the identity check's).
constexpr char kMeterDescription[] = "SQ-71 Meter";

// What went wrong, most telling first: the last line advises on the first
// kind found.
enum Problem {
  kNoProblem,
  kPermission,
  kSerialPermission,
  kBusy,
  kKernelDriver,
  kCannotOpen,
  kSilent,
  kNotMeter
};

struct Report {
  std::ostream& out;
  TraceSink* trace;
  int meters = 0;
  std::string first_meter;  // the read command for it
  Problem worst = kNoProblem;

  void Saw(Problem problem) {
    if (worst == kNoProblem || problem < worst) worst = problem;
  }
};

// One device of a driver tried as the listing tries it. Says in one phrase
// what came of it: "a meter: "NAME"" or why not.
struct Attempt {
  bool answered = false;
  std::string said;
  DriverFailure failure = DriverFailure::kNone;
  OpenOutcome outcome = OpenOutcome::kOpened;
};

Attempt TryDevice(Driver& driver, int index) {
  Attempt attempt;
  ChosenDevice one(driver, index, false);
  ListDevices(one, [&attempt](int, const char* name) {
    attempt.answered = true;
    attempt.said = std::string("a meter, answers as \"") + EscapeForMessage(name) + "\"";
  });
  if (attempt.answered) return attempt;
  // Once more, step by step, to say where it stops.
  UsbDevice device(one);
  const OpenOutcome outcome = OpenMeter(device, 0);
  device.Close();
  attempt.outcome = outcome;
  attempt.failure = driver.last_failure();
  const std::string why = device.last_error();
  switch (outcome) {
    case OpenOutcome::kOpened:
      attempt.said = "opens, but gives no answer to the identify request (is the meter on?)";
      break;
    case OpenOutcome::kWrongIdentity:
      attempt.said = "not a meter: its chip's EEPROM is not set up as the meter's";
      break;
    case OpenOutcome::kPortError:
      attempt.said = "cannot be opened (" + StatusWithName(device.last_status()) + ")";
      if (!why.empty()) attempt.said = "cannot be opened: " + EscapeForMessage(why);
      break;
  }
  return attempt;
}

// The driver, traced when asked: the tracer is kept beside it.
struct Traced {
  std::unique_ptr<Driver> base;
  std::unique_ptr<TracingDriver> tracer;
  Driver& get() { return tracer ? static_cast<Driver&>(*tracer) : *base; }
};

Traced Wrap(std::unique_ptr<Driver> driver, TraceSink* trace) {
  Traced traced;
  traced.base = std::move(driver);
  if (trace != nullptr) traced.tracer = std::make_unique<TracingDriver>(*traced.base, *trace);
  return traced;
}

// Tells of one tried device and counts it.
void Tell(Report& report, const std::string& what, const Attempt& attempt,
          const std::string& read_options) {
  report.out << "  " << what << ": " << attempt.said;
  if (attempt.answered) {
    report.out << "\n";
    if (report.meters++ == 0) report.first_meter = "sq71 read " + read_options;
    return;
  }
  const bool serial = read_options.rfind("--port", 0) == 0;
  if (attempt.failure == DriverFailure::kPermission) {
    report.out << "; " << PermissionHint(serial, attempt.said);
    report.Saw(serial ? kSerialPermission : kPermission);
  } else if (attempt.failure == DriverFailure::kBusy) {
    report.Saw(kBusy);
  } else if (attempt.outcome == OpenOutcome::kWrongIdentity) {
    report.Saw(kNotMeter);
  } else if (attempt.outcome == OpenOutcome::kPortError) {
    report.Saw(kCannotOpen);
  } else {
    report.Saw(kSilent);
  }
  report.out << "\n";
}

bool Wanted(const DeviceChoice& choice, int index) {
  return !choice.index_given || choice.index == index;
}

#if defined(SQ71_DOCTOR_LIBFTDI)
void LookThroughLibftdi(const DeviceChoice& choice, Report& report) {
  report.out << "libftdi (libftdi1 " << LibftdiVersion() << "), FTDI chips on USB:\n";
  std::vector<FtdiChip> chips;
  std::string error;
  if (!ProbeFtdiChips(&chips, &error)) {
    report.out << "  " << EscapeForMessage(error) << "\n";
    return;
  }
  if (chips.empty()) report.out << "  none\n";
  for (const FtdiChip& chip : chips) {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", chip.vendor_id, chip.product_id);
    std::string what = std::string(ids) + " usb " + EscapeForMessage(chip.place);
    if (!chip.description.empty()) what += " \"" + EscapeForMessage(chip.description) + "\"";
    if (!chip.serial.empty()) what += " " + EscapeForMessage(chip.serial);
    if (!chip.kernel_driver.empty()) {
      what += " (kernel driver " + EscapeForMessage(chip.kernel_driver) + ")";
    }
    if (chip.failure == DriverFailure::kPermission) {
      report.out << "  " << what << ": " << PermissionHint(false) << "\n";
      report.Saw(kPermission);
      continue;
    }
    if (chip.failure != DriverFailure::kNone) {
      report.out << "  " << what << ": cannot be opened: " << EscapeForMessage(chip.error) << "\n";
      report.Saw(chip.failure == DriverFailure::kBusy ? kBusy : kSilent);
      continue;
    }
    if (chip.meter_chip_index < 0 || chip.description != kMeterDescription) {
      report.out << "  " << what << ": not a meter: "
                 << (chip.meter_chip_index < 0 ? "the meter's chip is 0403:6001"
                                               : "its description is not \"SQ-71 Meter\"")
                 << "\n";
      report.Saw(kNotMeter);
      continue;
    }
    if (!Wanted(choice, chip.meter_chip_index)) continue;
    std::unique_ptr<LibftdiDriver> made = MakeLibftdiDriver(&error);
    if (made == nullptr) {
      report.out << "  " << what << ": " << EscapeForMessage(error) << "\n";
      continue;
    }
    Traced driver = Wrap(std::move(made), report.trace);
    Attempt attempt = TryDevice(driver.get(), chip.meter_chip_index);
    if (!attempt.answered && attempt.failure == DriverFailure::kBusy &&
        chip.kernel_driver == "ftdi_sio") {
      attempt.said += "; the kernel's ftdi_sio holds it and would not let go";
      report.Saw(kKernelDriver);
    }
    Tell(report, what, attempt, "--backend libftdi -d " + std::to_string(chip.meter_chip_index));
  }
}
#endif

#if defined(SQ71_DOCTOR_TTY)
void LookThroughTty(const DeviceChoice& choice, Report& report) {
  const std::vector<std::string> ports =
      choice.port.empty() ? SerialPorts() : std::vector<std::string>{choice.port};
#if defined(__APPLE__)
  report.out << "tty, serial ports (/dev/cu.usbserial-*):\n";
#else
  report.out << "tty, serial ports (/dev/ttyUSB*):\n";
#endif
  if (ports.empty()) report.out << "  none\n";
  for (const std::string& port : ports) {
    std::string error;
    std::unique_ptr<TtyDriver> made = MakeTtyDriver({port}, &error);
    if (made == nullptr) {
      report.out << "  " << EscapeForMessage(port) << ": " << EscapeForMessage(error) << "\n";
      continue;
    }
    TtyDriver& tty = *made;
    Traced driver = Wrap(std::move(made), report.trace);
    Attempt attempt = TryDevice(driver.get(), 0);
    const int e = tty.last_open_failure().error_number;
    if (!attempt.answered && (e == EACCES || e == EPERM)) {
      attempt.failure = DriverFailure::kPermission;
    }
    if (!attempt.answered && e == EBUSY) attempt.failure = DriverFailure::kBusy;
    Tell(report, EscapeForMessage(port), attempt, "--port " + EscapeForMessage(port));
  }
}
#endif

// Every device the driver counts (or the one chosen), tried in turn; `how`
// is what the user adds to a command to reach the driver again.
void TryEachDevice(std::unique_ptr<Driver> made, const DeviceChoice& choice, const std::string& how,
                   Report& report) {
  Traced driver = Wrap(std::move(made), report.trace);
  uint32_t count = 0;
  if (driver.get().CountDevices(&count) != FT_OK) count = 0;
  if (count == 0) report.out << "  no devices\n";
  for (int i = 0; i < static_cast<int>(count); ++i) {
    if (!Wanted(choice, i)) continue;
    std::string what = "device " + std::to_string(i);
    const std::string where = EscapeForMessage(driver.get().Where(i));
    if (!where.empty()) what += " " + where;
    const Attempt attempt = TryDevice(driver.get(), i);
    Tell(report, what, attempt, how + " -d " + std::to_string(i));
  }
}

void LookThroughD2xx(const DeviceChoice& choice, Report& report) {
  std::string error;
  std::unique_ptr<D2xxDriver> made = LoadD2xxDriver(&error);
#if defined(_WIN32)
  const char* library = "Ftd2xx.dll";
#elif defined(__APPLE__)
  const char* library = "libftd2xx.dylib";
#else
  const char* library = "libftd2xx.so";
#endif
  report.out << "d2xx, FTDI's library " << library << ": ";
  if (made == nullptr) {
    report.out << "not loaded (" << EscapeForMessage(error) << ")\n";
    return;
  }
  uint32_t version = 0;
  const FT_GetLibraryVersionFn get_version = made->functions().GetLibraryVersion;
  if (get_version != nullptr && get_version(&version) == FT_OK) {
    char text[32];
    std::snprintf(text, sizeof text, "%x.%x.%02x", (version >> 16) & 0xFF, (version >> 8) & 0xFF,
                  version & 0xFF);
    report.out << "version " << text << "\n";
  } else {
    report.out << "loaded, version not told\n";
  }
  TryEachDevice(std::move(made), choice, "--backend d2xx", report);
}

void LookThroughSim(const DeviceChoice& choice, Report& report) {
  if (choice.sim.empty()) {
    report.out << "sim, the demo meter:\n";
  } else {
    report.out << "sim, scenario " << EscapeForMessage(choice.sim) << ":\n";
  }
  std::string error;
  std::unique_ptr<Driver> made = SelectDriver(choice, &error);
  if (made == nullptr) {
    report.out << "  " << EscapeForMessage(error) << "\n";
    return;
  }
  TryEachDevice(std::move(made), choice,
                choice.sim.empty() ? "--sim" : "--sim " + EscapeForMessage(choice.sim), report);
}

std::string NextStep(const Report& report) {
  if (report.meters > 0) return report.first_meter + " downloads its log";
  switch (report.worst) {
    case kPermission:
      return PermissionHint(false);
    case kSerialPermission:
      return PermissionHint(true);
    case kKernelDriver:
      return "unload the kernel's serial driver (sudo rmmod ftdi_sio usbserial), or use the port "
             "with --port";
    case kBusy:
      return "close the program that holds the meter, then run sq71 doctor again";
    case kCannotOpen:
      return "close any program that holds the meter; if none does, " + PermissionHint(false);
    case kSilent:
      return "switch the meter on and check its cable; sq71 doctor --trace FILE records what "
             "passed";
    case kNotMeter:
      return "the device found is not a meter: a meter's chip describes itself as \"SQ-71 "
             "Meter\"; plug in the meter itself, then run sq71 doctor again";
    case kNoProblem:
      break;
  }
  return "plug the meter in (USB), switch it on, then run sq71 doctor again";
}

}  // namespace

int RunDoctor(const DeviceChoice& choice, TraceSink* trace, std::ostream& out) {
  Report report{out, trace, 0, std::string(), kNoProblem};
  const bool all = !choice.UsesSim() && choice.port.empty() && choice.backend == "auto";
  if (choice.UsesSim()) {
    LookThroughSim(choice, report);
  } else {
#if defined(SQ71_DOCTOR_LIBFTDI)
    if (all || choice.backend == kLibftdiBackend) LookThroughLibftdi(choice, report);
#elif !defined(_WIN32)
    if (all || choice.backend == kLibftdiBackend) out << "libftdi: not built in\n";
#endif
#if defined(SQ71_DOCTOR_TTY)
    if (all || choice.backend == kTtyBackend || !choice.port.empty()) LookThroughTty(choice, report);
#endif
    if (all || choice.backend == kD2xxBackend) LookThroughD2xx(choice, report);
  }
  out << (report.meters == 1 ? "1 meter answers" : std::to_string(report.meters) + " meters answer")
      << ". Next: " << NextStep(report) << "\n";
  return report.meters > 0 ? 0 : 1;
}

}  // namespace sq71
