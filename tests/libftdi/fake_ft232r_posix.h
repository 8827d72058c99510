// An FT232R on the USB bus as libusb sees it through usbdevfs, faked with
// umockdev: a device description for 0403:6001 and an in-process handler of
// the device node's ioctls (its string descriptors here; the chip's vendor
// control requests, EEPROM words and bulk transfers with the two status
// bytes in front of every 64-byte packet from the simulator's USB model of
// the chip), with the simulated meter on its serial line.
#ifndef SQ71_TESTS_LIBFTDI_FAKE_FT232R_POSIX_H
#define SQ71_TESTS_LIBFTDI_FAKE_FT232R_POSIX_H

#include <umockdev.h>

#include <chrono>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>

#include <vector>

#include "sim/ft232r_usb_model.h"

namespace sq71::test {

class FakeFt232r {
 public:
  // What the chip was told, for tests to check.
  struct Seen {
    uint32_t baud = 0;
    uint16_t line = 0;  // SIO_SET_DATA's value: data bits, parity << 8, stop bits << 11
    bool dtr = true;    // the chip powers up with DTR active
    int latency_ms = 16;
    bool kernel_driver_detached = false;
    bool kernel_driver_reattached = false;
    int eeprom_word_reads = 0;
  };

  // The meter and the chip's EEPROM (from the meter's EEPROM fields).
  explicit FakeFt232r(sim::MeterConfig meter);
  ~FakeFt232r();
  FakeFt232r(const FakeFt232r&) = delete;
  FakeFt232r& operator=(const FakeFt232r&) = delete;

  // Puts the device on the testbed's bus 1 as device `devnum`. The handler
  // must be attached before the device appears.
  bool Plug(UMockdevTestbed* testbed, int devnum, std::string* error);

  // From the moment the meter accepts its `exchange`-th request (counted
  // from 1) the device is gone: that request gets no reply and every ioctl
  // fails with ENODEV, as after pulling the cable.
  void UnplugAtExchange(int exchange);

  Seen seen();
  // Every vendor request the chip got, in order.
  std::vector<sim::SeenRequest> requests();
  void ClearRequests();
  int exchanges();
  int erases();
  LogImage meter_log();

 private:
  struct Urb {
    UMockdevIoctlData* data;  // the client's URB, resolved; one reference held
    bool bulk_in;
    std::chrono::steady_clock::time_point submitted;
  };

  static gboolean OnIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client, gpointer self);
  gboolean HandleIoctl(UMockdevIoctlClient* client);
  void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  void Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  // Answers a control request; returns the URB status and sets *length to
  // the data bytes that came back.
  int Control(uint8_t* setup_and_data, int buffer_length, int* length);
  void FromHost(const uint8_t* bytes, int count);
  sim::Nanos Now() const;
  bool Ready(const Urb& urb);
  // Fills a bulk IN URB with whole packets of status bytes and data.
  void FillBulkIn(Urb& urb);

  std::mutex mutex_;
  UMockdevIoctlBase* handler_ = nullptr;
  // The chip without wire timing: replies reach the host as the meter has
  // them, delay faults aside.
  sim::Ft232rUsbModel model_;
  std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
  Seen seen_;  // what the USB model does not know: the kernel driver's state
  std::list<Urb> urbs_;
  // The meter has answered, but the next IN transfer still comes back with
  // the status bytes alone, as when the latency timer runs out before the
  // reply's first byte: a reader must ask again.
  bool empty_packet_first_ = false;
};

}  // namespace sq71::test

#endif
