// Which meter a command talks to, and through which backend.
#ifndef SQ71_CLI_BACKEND_SELECT_H
#define SQ71_CLI_BACKEND_SELECT_H

#include <string>

#include "usb/backend.h"

namespace sq71 {

// The DEVICE options of the meter commands.
struct DeviceChoice {
  std::string backend = "auto";  // auto | d2xx | libftdi | tty
  int index = 0;                 // -d: among the devices the backend counts
  bool index_given = false;
  std::string port;  // --port: a serial port, for the tty backend
  std::string sim;   // --sim: a scenario file for the simulated meter
};

// Settles the backend the choice names. On failure returns false with one
// line saying why ("the libftdi backend is not built in", the loader's
// reason, ...). Wrong combinations of options are caught by the parser.
bool SelectBackend(const DeviceChoice& choice, Backend* out, std::string* error);

// The same backend seen through device `choice.index` alone: its Open(i)
// opens device index + i and its count is 1 (0 when the backend has no such
// device), so the core's "device 0" is the device the user chose. With
// whole_list (devices without -d) every device is counted. Remembers the
// device each Open asked for (LastOpenedIndex). One such view at a time.
D2xxFunctions ChosenDevice(const Backend& backend, int index, bool whole_list);
int LastOpenedIndex();

// Why the backend's last open failed, where it can tell ("/dev/ttyUSB0:
// Permission denied"), else ""; *denied when the user may not use the device.
std::string OpenFailure(const Backend& backend, bool* denied);

// "device 2 (sim, CD710003)": how errors name the device.
std::string DeviceLabel(const Backend& backend, int index);

}  // namespace sq71

#endif
