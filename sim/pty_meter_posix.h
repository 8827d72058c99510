// A simulated meter on a pseudo-terminal: the program opens port() as it
// would a USB serial port (/dev/ttyUSB0), and a thread on the master side
// answers as the meter would, from a SimulatedMeter.
//
// The meter only understands its line at 115200 baud with 1 stop bit: bytes
// arriving while the port is set otherwise are lost, as they would be
// garbled on a real wire. The port starts as a fresh terminal at 9600 baud
// (canonical input, echo), so a program that does not make it raw fails. (A Linux
// pseudo-terminal keeps speed and stop bits but always reads back 8 data
// bits without parity, so those two cannot be checked here.)
//
// Pace. Instant: a reply goes out as soon as its request is complete. Wire:
// the request's bytes take their time on a 115200-baud line, the meter
// starts its reply 0.5 ms later, and every reply byte leaves 86.8 us after
// the one before. Delay faults apply in both.
#ifndef SQ71_SIM_PTY_METER_POSIX_H
#define SQ71_SIM_PTY_METER_POSIX_H

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulated_meter.h"

namespace sq71::sim {

class PtyMeter {
 public:
  enum class Pace { kInstant, kWire };

  explicit PtyMeter(MeterConfig config = MeterConfig(), Pace pace = Pace::kInstant);
  // Stops serving and closes both sides.
  ~PtyMeter();

  PtyMeter(const PtyMeter&) = delete;
  PtyMeter& operator=(const PtyMeter&) = delete;

  // False, with the reason in error(), when no pseudo-terminal could be had.
  bool ok() const { return made_; }
  const std::string& error() const { return error_; }
  // The path the program opens, e.g. /dev/pts/3.
  const std::string& port() const { return port_; }

  // The meter goes away as an unplugged device does: the master side is
  // closed, so the program's reads and writes fail. UnplugAtExchange does it
  // when the meter accepts its exchange-th request (counted from 1), before
  // answering it; Unplug at once.
  void UnplugAtExchange(int exchange);
  void Unplug();

  // Runs `inspect` on the meter while the serving thread is held off.
  void WithMeter(const std::function<void(SimulatedMeter&)>& inspect);
  // What the meter made of each request frame, in order ("I", "LR 5", ...).
  std::vector<std::string> Requests();

 private:
  void Serve();
  // Reads what the program wrote and queues the meter's replies; false when
  // the line has ended.
  bool TakeRequests();
  void SendDue();
  void CloseLine();

  Pace pace_;
  bool made_ = false;
  std::string error_;
  std::string port_;
  int master_ = -1;
  int slave_ = -1;  // held open so the line stays up between the program's opens
  int wake_[2] = {-1, -1};

  std::mutex mutex_;
  SimulatedMeter meter_;
  std::vector<std::string> requests_;
  int unplug_at_ = 0;
  bool unplug_now_ = false;
  bool stop_ = false;

  struct Pending {
    long long due_ns;  // on the monotonic clock
    uint8_t byte;
  };
  std::vector<Pending> out_;  // serving thread only
  long long line_free_ns_ = 0;

  std::thread thread_;
};

}  // namespace sq71::sim

#endif
