// The SQ-71 meter as seen from its serial line: it takes request frames and
// answers them from its log, its name and its fault plan. Timing and the USB
// chip in front of it belong to the simulated driver (sim_driver.h).
#ifndef SQ71_SIM_SIMULATED_METER_H
#define SQ71_SIM_SIMULATED_METER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "log/log_image.h"

namespace sq71::sim {

// The NAK a meter sends in place of ACK when it refuses a request.
constexpr uint8_t kNak = 0x15;

// Which requests a fault applies to.
enum class FaultWhen {
  kRecord,    // every read-record request for record `key`
  kExchange,  // the key-th request the meter accepts (counted from 1)
  kErase,     // every erase request
  kIdentify,  // every identify request
};

enum class FaultAction {
  kNoReply,       // the meter stays silent (an erase is then not done)
  kShortReply,    // only `value` bytes of the reply (value < 0: all but the last)
  kNak,           // 0x15 in place of the ACK (an erase is then not done)
  kBadChecksum,   // the checksum byte is wrong (no effect on the 1-byte erase reply)
  kRecordNumber,  // the read-record reply names record `value` (and carries its
                  // data when value < 1024); the checksum stays right
  kDelay,         // the reply starts `value` ms late
  kLate,          // the reply starts `value` ms after the read waiting for it gives up
  kUnplug,        // the device is pulled out as the request comes: no reply, and
                  // every later call on its handle fails
  kStray,         // `value` bytes of line noise follow the reply
};

// The noise byte of a stray fault: neither ACK nor a frame start.
constexpr uint8_t kStrayByte = 0xEE;

struct Fault {
  FaultWhen when = FaultWhen::kRecord;
  int key = 0;
  FaultAction action = FaultAction::kNoReply;
  int value = -1;
  bool once = false;  // only the first request it matches: a glitch that passes
};

// "record 5 no_reply", "exchange 3 delay 1500": the scenario file's words.
std::string DescribeFault(const Fault& fault);

// What the meter's USB chip holds in its EEPROM. The defaults are the
// identity the program expects.
struct EepromFields {
  std::string description = "SQ-71 Meter";
  std::string manufacturer = "Corvale Data";
  std::string manufacturer_id = "CD";
  std::string serial_number = "CD710001";
  uint16_t vendor_id = 0x0403;
  uint16_t product_id = 0x6001;
  uint16_t max_power = 90;
  uint16_t pnp = 0;
  uint16_t self_powered = 0;
  uint8_t invert_dtr = 1;
  uint8_t invert_rxd = 0;
  uint8_t invert_txd = 0;
  uint8_t cbus4 = 5;
};

struct MeterConfig {
  std::string name = "SQ-71 Meter";  // sent in the identify reply
  LogImage log;                      // the sample log unless set otherwise
  EepromFields eeprom;
  bool refuse_open = false;        // FT_Open fails
  bool eeprom_read_fails = false;  // FT_EE_Read fails
  // A line setting the driver refuses: "baud_rate" (FT_SetBaudRate fails with
  // FT_INVALID_BAUD_RATE), "data_characteristics" or "flow_control" (fail
  // with FT_INVALID_PARAMETER); empty: none.
  std::string refused_setting;
  std::vector<Fault> faults;
  // Reply bytes the program leaves unexamined, which a meter may fill as it
  // likes: bytes 1 to 4 of a read-record reply (length and echoed "LR") and
  // byte 3 of the identify reply (the echoed "I").
  std::array<uint8_t, 4> record_reply_open = {0x00, 0x44, 'L', 'R'};
  uint8_t identify_reply_open = 'I';

  MeterConfig();
};

// The meter's answer to one complete request frame.
struct MeterReply {
  std::string request;              // "I", "LE", "LR 5", or why the frame was ignored
  bool accepted = false;            // a well-formed request the meter understood
  std::vector<uint8_t> bytes;       // empty: no reply
  int delay_ms = 0;                 // from delay faults
  int late_ms = -1;                 // >= 0: after the reader's time-out, from a late fault
  bool erase = false;               // an erase request the meter carried out
  bool unplug = false;              // the device is pulled out
  std::vector<std::string> faults;  // the faults applied, described
};

class SimulatedMeter {
 public:
  explicit SimulatedMeter(MeterConfig config = MeterConfig());

  MeterConfig& config() { return config_; }
  const MeterConfig& config() const { return config_; }
  LogImage& log() { return config_.log; }

  // Bytes arriving on the meter's serial input. Frames may arrive in pieces;
  // bytes before a start byte are skipped. Returns one entry per complete
  // frame. Frames with a bad checksum or an unknown command get no reply.
  std::vector<MeterReply> Receive(const uint8_t* bytes, std::size_t count);

  // Requests accepted so far (the exchange count faults are keyed on).
  int exchanges() const { return exchanges_; }
  int erases() const { return erases_; }

 private:
  MeterReply Answer(const uint8_t* frame, int n);
  std::vector<uint8_t> ReadRecordReply(int number, int record_for_data) const;
  std::vector<uint8_t> IdentifyReply() const;

  MeterConfig config_;
  // Per fault: a `once` fault that has had its turn.
  std::vector<bool> spent_;
  std::vector<uint8_t> input_;
  int exchanges_ = 0;
  int erases_ = 0;
};

}  // namespace sq71::sim

#endif
