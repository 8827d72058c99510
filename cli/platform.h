// What the meter commands need from the operating system: stop requests
// (Ctrl-C), terminals, serial port names and whether USB access is denied.
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

// Whether a new file named `path` could not be made: 0 when its folder is
// there and takes new files (or the file is there and may be written), else
// the errno that says why not.
int FolderRefuses(const std::string& path);

// The width of the terminal standard error shows on, asked anew each time so
// a resize is followed; 0 when it cannot be told.
int StderrColumns();
// Whether that terminal takes the control that erases to the end of a line
// (on Windows, once it has been asked to; older consoles refuse).
bool StderrTakesControls();

// The serial ports an FTDI chip shows up as (Linux /dev/ttyUSBn, macOS
// /dev/cu.usbserial-*), sorted; empty where there are none or on Windows.
std::vector<std::string> SerialPorts();
// Where SerialPorts looks: "/dev/ttyUSB*", "/dev/cu.usbserial*".
const char* SerialPortPattern();

// On Linux, whether the USB device node of an FTDI chip is there but not
// open to this user (a failed open then is for want of permission).
bool UsbDeviceDenied();

// The program's arguments as UTF-8. On Windows they are taken from the wide
// command line, so a file name outside the ANSI code page survives; the
// library search is also limited there to the program's folder and System32
// before any library is loaded.
std::vector<std::string> StartArguments(int argc, char** argv);

}  // namespace sq71

#endif
