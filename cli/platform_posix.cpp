#include <dirent.h>
#include <glob.h>
#include <signal.h>
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

std::vector<std::string> SerialPorts() {
  std::vector<std::string> ports;
#if defined(__APPLE__)
  const char* pattern = "/dev/cu.usbserial*";
#else
  const char* pattern = "/dev/ttyUSB*";
#endif
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

std::string PermissionHint(bool serial_port) {
#if defined(__linux__)
  return std::string(
             "permission denied; install the udev rule: sudo install -m 644 "
             "packaging/udev/60-sq71-meter.rules /etc/udev/rules.d/ && sudo udevadm "
             "control --reload-rules && sudo udevadm trigger, then plug the meter in "
             "again") +
         (serial_port ? " (or join the dialout group)" : "");
#else
  (void)serial_port;
  return "permission denied";
#endif
}

std::vector<std::string> StartArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace sq71
