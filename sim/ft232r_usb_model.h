// The simulated meter's FT232R as its USB interface shows it: the vendor
// control requests (ft232r_usb.h) with their wValue/wIndex meanings, the
// EEPROM's words, bulk OUT to the meter's line and bulk IN packets with the
// two status bytes, on the chip's timing (ft232r_timing.h). Answers on a
// timeline the caller supplies; SimUsbTransport runs it on the wall clock as
// a USB transport, and the umockdev FT232R of the libftdi tests runs it
// behind usbdevfs.
#ifndef SQ71_SIM_FT232R_USB_MODEL_H
#define SQ71_SIM_FT232R_USB_MODEL_H

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/ft232r_eeprom_image.h"
#include "sim/ft232r_timing.h"
#include "sim/simulated_meter.h"
#include "usb/ft232r_usb.h"

namespace sq71::sim {

// The modem and line status bytes of an idle FT232R: CTS and DSR clear,
// transmitter empty.
constexpr uint8_t kModemStatus = 0x01;
constexpr uint8_t kLineStatus = 0x60;

// A vendor request as the chip saw it.
struct SeenRequest {
  uint8_t request_type;
  uint8_t request;
  uint16_t value;
  uint16_t index;
  bool operator==(const SeenRequest& o) const {
    return request_type == o.request_type && request == o.request && value == o.value &&
           index == o.index;
  }
};
std::string Describe(const SeenRequest& request);  // "40 03 001A 0000"

struct UsbModelTiming {
  bool wire = true;        // the chip's and the line's timing; false: instant
  int latency_ms = 16;     // the chip's latency timer at power-on
  int erase_ms = 0;        // how long the meter takes to erase (wire only)
  int late_after_ms = 1000;  // a late reply comes this much later than a delayed one
};

class Ft232rUsbModel {
 public:
  explicit Ft232rUsbModel(MeterConfig meter, UsbModelTiming timing = UsbModelTiming());

  SimulatedMeter& meter() { return meter_; }
  const SimulatedMeter& meter() const { return meter_; }

  // A vendor request at `now`. Fills *in with an IN request's data; false
  // when the chip stalls it. *done (when given) is when the request is over.
  bool Control(Nanos now, const ft232r::ControlRequest& request, std::vector<uint8_t>* in,
               Nanos* done = nullptr);
  // Bytes on the bulk OUT endpoint at `now`, to the meter's line (which
  // understands them only at 115200 baud 8N1). Returns when they reach the
  // chip.
  Nanos BulkOut(Nanos now, const uint8_t* bytes, std::size_t count);
  // When the next IN packet reaches the host (now or earlier if it has);
  // kNever when nothing will come (only in instant mode).
  Nanos NextInAt(Nanos now);
  // One IN transfer of at most `capacity` bytes at `now`: the packets the
  // host holds, each behind the status bytes, ending with the first short
  // one; the status bytes alone when it holds none.
  std::vector<uint8_t> TakeIn(Nanos now, std::size_t capacity);

  // The cable is pulled: from now on the device answers nothing.
  void Unplug() { unplugged_ = true; }
  // ... from the moment the meter accepts its `exchange`-th request (from 1),
  // which gets no reply.
  void UnplugAtExchange(int exchange) { unplug_at_ = exchange; }
  bool unplugged() const { return unplugged_; }

  // What the chip was told.
  uint32_t baud() const { return baud_; }
  uint16_t line() const { return line_; }  // bits | parity << 8 | stop bits << 11
  bool dtr() const { return dtr_; }
  int latency_ms() const { return timing_.latency_ms(); }
  int eeprom_word_reads() const { return eeprom_word_reads_; }
  // Every vendor request, in order.
  const std::vector<SeenRequest>& requests() const { return requests_; }
  void ClearRequests() { requests_.clear(); }

 private:
  bool LineUnderstood() const;

  SimulatedMeter meter_;
  Ft232rImage eeprom_;
  UsbModelTiming config_;
  Ft232rTiming timing_;
  uint32_t baud_ = 9600;
  uint16_t line_ = 0x0008;
  bool dtr_ = true;  // the chip powers up with DTR active
  int eeprom_word_reads_ = 0;
  std::vector<SeenRequest> requests_;
  int unplug_at_ = 0;
  bool unplugged_ = false;
};

// The model as a USB transport on the wall clock: each call lasts as long as
// the model says (in instant mode, only as long as a fault delays a reply).
class SimUsbTransport : public ft232r::UsbTransport {
 public:
  explicit SimUsbTransport(MeterConfig meter, UsbModelTiming timing = UsbModelTiming());

  Ft232rUsbModel& model() { return model_; }
  // Requests while closed fail, as on an unclaimed interface.
  bool is_open() const { return open_; }

  ft232r::UsbStatus Open() override;
  void Close() override { open_ = false; }
  bool connected() const override { return !model_.unplugged(); }
  std::string serial_number() const override;
  ft232r::UsbStatus ControlOut(const ft232r::ControlRequest& request) override;
  ft232r::UsbStatus ControlIn(const ft232r::ControlRequest& request, uint8_t* data,
                              std::size_t* got) override;
  ft232r::UsbStatus BulkOut(const uint8_t* data, std::size_t count, std::size_t* sent) override;
  ft232r::UsbStatus BulkIn(uint8_t* data, std::size_t capacity, std::size_t* got,
                           uint32_t timeout_ms) override;

 private:
  Nanos Now() const;
  void Wait(Nanos t) const;
  // kGone once unplugged, kError while closed, else kOk.
  ft232r::UsbStatus Usable() const;

  Ft232rUsbModel model_;
  std::chrono::steady_clock::time_point origin_;
  bool open_ = false;
};

}  // namespace sq71::sim

#endif
