#include <dirent.h>
#include <glob.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "cli/platform.h"

namespace sq71 {
namespace {

// A signal handler reaches nothing but process-wide state: the one flag.
volatile sig_atomic_t g_stop = 0;

void OnStopSignal(int) { g_stop = 1; }

bool Denied(const std::string& node) {
  return access(node.c_str(), R_OK | W_OK) != 0 && errno == EACCES;
}

std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

struct StopRequests::Saved {
  struct sigaction old_int = {};
  struct sigaction old_term = {};
};

StopRequests::StopRequests() : saved_(std::make_unique<Saved>()) {
  g_stop = 0;
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &saved_->old_int);
  sigaction(SIGTERM, &action, &saved_->old_term);
}

StopRequests::~StopRequests() {
  sigaction(SIGINT, &saved_->old_int, nullptr);
  sigaction(SIGTERM, &saved_->old_term, nullptr);
}

bool StopRequested() { return g_stop != 0; }

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }
bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

int FolderRefuses(const std::string& path) {
  // An existing file the user may write is written in place if need be.
  if (access(path.c_str(), W_OK) == 0) return 0;
  const std::size_t slash = path.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat info = {};
  if (stat(folder.c_str(), &info) != 0) return errno;
  if (!S_ISDIR(info.st_mode)) return ENOTDIR;
  if (access(folder.c_str(), W_OK | X_OK) != 0) return errno;
  return 0;
}

int StderrColumns() {
  winsize size = {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool StderrTakesControls() { return true; }

const char* SerialPortPattern() {
#if defined(__APPLE__)
  return "/dev/cu.usbserial*";
#else
  return "/dev/ttyUSB*";
#endif
}

std::vector<std::string> SerialPorts() {
  std::vector<std::string> ports;
  const char* pattern = SerialPortPattern();
  glob_t found = {};
  if (glob(pattern, 0, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i) ports.emplace_back(found.gl_pathv[i]);
  }
  globfree(&found);
  // ttyUSB10 after ttyUSB9.
  std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return ports;
}

bool UsbDeviceDenied() {
  bool denied = false;
#if defined(__linux__)
  if (DIR* dir = opendir("/sys/bus/usb/devices")) {
    while (dirent* entry = readdir(dir)) {
      const std::string base = std::string("/sys/bus/usb/devices/") + entry->d_name;
      if (ReadLine(base + "/idVendor") != "0403") continue;
      const std::string bus = ReadLine(base + "/busnum");
      const std::string dev = ReadLine(base + "/devnum");
      if (bus.empty() || dev.empty()) continue;
      char node[64];
      std::snprintf(node, sizeof(node), "/dev/bus/usb/%03d/%03d", std::atoi(bus.c_str()),
                    std::atoi(dev.c_str()));
      if (Denied(node)) denied = true;
    }
    closedir(dir);
  }
#endif
  return denied;
}

std::vector<std::string> StartArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace sq71
