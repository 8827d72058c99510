#include "sim/pty_meter_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <util.h>
#else
#include <pty.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "sim/sim_driver.h"

namespace sq71::sim {
namespace {

long long NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SetFlags(int fd, int fd_flags, int status_flags) {
  fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | fd_flags);
  if (status_flags != 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | status_flags);
}

// The line as the meter's UART needs it.
bool LineUsable(int fd) {
  termios tio;
  if (tcgetattr(fd, &tio) != 0) return false;
  return cfgetospeed(&tio) == B115200 && cfgetispeed(&tio) == B115200 &&
         (tio.c_cflag & CSIZE) == CS8 && (tio.c_cflag & (PARENB | CSTOPB)) == 0;
}

}  // namespace

PtyMeter::PtyMeter(MeterConfig config, Pace pace) : pace_(pace), meter_(std::move(config)) {
  // A fresh terminal's settings (canonical input, echo, output processing),
  // as a serial port has before a program sets it up, at 9600 baud.
  if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
    error_ = std::string("openpty: ") + std::strerror(errno);
    master_ = slave_ = -1;
    return;
  }
  termios tio;
  if (tcgetattr(slave_, &tio) == 0) {
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tcsetattr(slave_, TCSANOW, &tio);
  }
  char name[256];
  if (ttyname_r(slave_, name, sizeof name) != 0 || pipe(wake_) != 0) {
    error_ = std::string("pseudo-terminal: ") + std::strerror(errno);
    CloseLine();
    return;
  }
  port_ = name;
  SetFlags(master_, FD_CLOEXEC, O_NONBLOCK);
  SetFlags(slave_, FD_CLOEXEC, 0);
  SetFlags(wake_[0], FD_CLOEXEC, O_NONBLOCK);
  SetFlags(wake_[1], FD_CLOEXEC, O_NONBLOCK);
  made_ = true;
  thread_ = std::thread(&PtyMeter::Serve, this);
}

PtyMeter::~PtyMeter() {
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    const uint8_t wake = 1;
    (void)!write(wake_[1], &wake, 1);
    thread_.join();
  }
  CloseLine();
  for (int& fd : wake_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void PtyMeter::UnplugAtExchange(int exchange) {
  std::lock_guard<std::mutex> lock(mutex_);
  unplug_at_ = exchange;
}

void PtyMeter::Unplug() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    unplug_now_ = true;
  }
  const uint8_t wake = 1;
  (void)!write(wake_[1], &wake, 1);
}

void PtyMeter::WithMeter(const std::function<void(SimulatedMeter&)>& inspect) {
  std::lock_guard<std::mutex> lock(mutex_);
  inspect(meter_);
}

std::vector<std::string> PtyMeter::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void PtyMeter::Serve() {
  while (true) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
      if (unplug_now_) {
        CloseLine();
        return;
      }
    }
    int timeout_ms = -1;
    if (!out_.empty()) {
      const long long wait_ns = out_.front().due_ns - NowNs();
      if (wait_ns <= 0) {
        SendDue();
        continue;
      }
      // Byte times are far below poll's millisecond: sleep for the short
      // waits, and wait on the line only for the long ones (delay faults).
      if (wait_ns < 2000000) {
        std::this_thread::sleep_for(std::chrono::nanoseconds(wait_ns));
        SendDue();
        continue;
      }
      timeout_ms = static_cast<int>(wait_ns / 1000000);
    }
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, timeout_ms) < 0 && errno != EINTR) return;
    if ((fds[1].revents & POLLIN) != 0) {
      uint8_t drained[16];
      while (read(wake_[0], drained, sizeof drained) > 0) {
      }
    }
    if ((fds[0].revents & POLLIN) != 0 && !TakeRequests()) return;
    if ((fds[0].revents & POLLNVAL) != 0) return;
  }
}

bool PtyMeter::TakeRequests() {
  uint8_t bytes[512];
  const ssize_t n = read(master_, bytes, sizeof bytes);
  if (n <= 0) return n < 0 && (errno == EAGAIN || errno == EINTR);
  // Sent at another speed or framing, the bytes would be garbage to the meter.
  if (!LineUsable(slave_)) return true;
  const long long now = NowNs();
  std::vector<MeterReply> replies;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    replies = meter_.Receive(bytes, static_cast<std::size_t>(n));
    for (const MeterReply& reply : replies) requests_.push_back(reply.request);
    if (unplug_at_ > 0 && meter_.exchanges() >= unplug_at_) {
      CloseLine();
      return false;
    }
  }
  const bool wire = pace_ == Pace::kWire;
  // Wire: the request has just started arriving; its last byte is in n byte
  // times, and the meter takes its processing time after that.
  const long long start = now + (wire ? n * kByteTimeNs + kMeterProcessingNs : 0);
  for (const MeterReply& reply : replies) {
    long long due = std::max(start + reply.delay_ms * 1000000LL, line_free_ns_);
    for (uint8_t byte : reply.bytes) {
      if (wire) due += kByteTimeNs;
      out_.push_back({due, byte});
    }
    line_free_ns_ = due;
  }
  return true;
}

void PtyMeter::SendDue() {
  const long long now = NowNs();
  std::size_t due = 0;
  while (due < out_.size() && out_[due].due_ns <= now) ++due;
  std::vector<uint8_t> bytes(due);
  for (std::size_t i = 0; i < due; ++i) bytes[i] = out_[i].byte;
  // A line nobody reads drops what does not fit, as a wire would.
  if (due > 0) (void)!write(master_, bytes.data(), due);
  out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(due));
}

void PtyMeter::CloseLine() {
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
  master_ = slave_ = -1;
  out_.clear();
}

}  // namespace sq71::sim
