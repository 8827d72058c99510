// What the meter commands need from the operating system: stop requests
// (Ctrl-C), terminals, serial port names and a word on USB permissions.
#ifndef SQ71_CLI_PLATFORM_H
#define SQ71_CLI_PLATFORM_H

#include <memory>
#include <string>
#include <vector>

namespace sq71 {

// While one of these lives, SIGINT and SIGTERM (on Windows: Ctrl-C, Ctrl-Break
// and closing the console) do not end the process but raise StopRequested(),
// so a download can stop between two exchanges and close the device. Closing
// the console gives the command up to 4 s, until this object goes, before
// Windows ends the process.
class StopRequests {
 public:
  StopRequests();
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

 private:
  // What was there before (the signals' earlier actions).
  struct Saved;
  std::unique_ptr<Saved> saved_;
};
bool StopRequested();

// Whether standard input / output / error is a terminal.
bool StdinIsTerminal();
bool StdoutIsTerminal();
bool StderrIsTerminal();

// The serial ports an FTDI chip shows up as (Linux /dev/ttyUSBn, macOS
// /dev/cu.usbserial-*), sorted; empty where there are none or on Windows.
std::vector<std::string> SerialPorts();

// On Linux, whether the USB device node of an FTDI chip is there but not
// open to this user (a failed open then is for want of permission).
bool UsbDeviceDenied();

// What to do when the meter may not be opened for want of permission: the
// udev rule on Linux (for a serial port, or the dialout group); "" elsewhere.
std::string PermissionHint(bool serial_port);

// The program's arguments as UTF-8. On Windows they are taken from the wide
// command line, so a file name outside the ANSI code page survives; the
// library search is also limited there to the program's folder and System32
// before any library is loaded.
std::vector<std::string> StartArguments(int argc, char** argv);

}  // namespace sq71

#endif
