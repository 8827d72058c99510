// The log download: Read prepares device 0 and arms the transfer timer, and
// every tick of that timer fetches 64-byte log records into the log image:
// one, then more while nobody waits on the window, for up to a time slice,
// so the wire rather than the timer's period sets the pace while the window
// stays responsive and the progress bar grows between ticks.
#ifndef SQ71_PROTOCOL_TRANSFER_ENGINE_H
#define SQ71_PROTOCOL_TRANSFER_ENGINE_H

#include <array>
#include <chrono>
#include <cstdint>

#include "log/log_image.h"
#include "protocol/frame.h"
#include "protocol/transfer_state.h"
#include "ui/ui.h"
#include "usb/usb_device.h"

namespace sq71 {

// Every Read asks for this many records (the whole meter log).
constexpr int kTransferTotal = kRecordCount;
// Time-outs of one read-record exchange, in milliseconds.
constexpr uint32_t kTransferTimeoutMs = 1000;
// How long one tick may go on fetching records while no input waits: short
// enough that a click is served at once, long enough to span a 10-16 ms
// system timer period.
constexpr std::chrono::milliseconds kTransferSlice{15};

// How the engine treats the link around each exchange; its caller chooses.
// The defaults are the program's: purge both directions before every
// request, and end the download at the first bad reply.
struct ExchangePolicy {
  // False: purge only when something may be there to purge: before the first
  // request, after an exchange that did not end with a good reply, and when
  // the driver's receive queue holds bytes or the driver cannot tell.
  bool purge_every_request = true;
  // How often a failed exchange (no handshake, checksum, invalid record) is
  // purged and asked again before it ends the download. A driver error (an
  // unplugged device) is never asked again.
  int retries = 0;
  // True: a reply that names another record than the one asked for is a
  // failed exchange too (a late reply to an earlier request, say), purged and
  // asked again like a bad checksum. False: it is stored where it says.
  bool check_record_number = false;
  // True: a good reply that follows a failed exchange of the same record
  // counts only once the same 72 bytes come again. What is left of the
  // failed exchange (the tail of a reply that came too late for its read)
  // can frame the next reply wrongly, and one time in 256 its checksum
  // still adds up.
  bool confirm_after_failure = false;
};

// The engine works on state, image and window it does not own: the shell
// keeps them as its globals (the paint handler reads the state, the file
// commands and the view read the image).
class TransferEngine {
 public:
  TransferEngine(TransferState& state, LogImage& image, MainWindowUi& ui,
                 ExchangePolicy policy = ExchangePolicy())
      : state_(state), image_(image), ui_(ui), policy_(policy) {}

  TransferEngine(const TransferEngine&) = delete;
  TransferEngine& operator=(const TransferEngine&) = delete;

  // The Read command. Stops any running download, reopens device 0 at
  // 115200 8N1, checks its USB identity and arms the timer. The earlier log
  // image and the View item are only given up once the device has been
  // opened and accepted, so a Read with no meter attached loses nothing.
  // A null device (it could not be created at start-up) is reported as
  // such. Reports every failure itself.
  void StartTransfer(UsbDevice* device);

  // Goes on with a download cut short: the image holds records 0 to
  // from - 1 (what comes after them is cleared). Record from - 1 is asked for
  // again first and must come byte for byte as held; if it does not, the
  // meter's log has changed: the download stops at once, with no message,
  // and log_changed() says so. Otherwise as StartTransfer from record from.
  void ResumeTransfer(UsbDevice* device, int from);

  // One timer tick: one request out, one 72-byte reply in, one record
  // stored; then the next record, and so on, until the download ends, the
  // UI reports input waiting, or the time slice is used up. Returns at once
  // when no download runs or when called again from inside a message box
  // that the running tick shows. A caller with no window to serve (the
  // command line) calls it in a loop while state().reading.
  void TransferTick(UsbDevice* device);

  // For tests: a slice long enough that only InputPending() ends a tick.
  void set_time_slice(std::chrono::milliseconds slice) { slice_ = slice; }

  // Kills the transfer timer and clears the reading flag. The device is left
  // as it is (shut-down does not wait for it).
  void StopTimer();

  // A loaded log replaces the image, so a running download must not write
  // over it afterwards: stops the timer, blanks the bar and closes the
  // device. Does nothing when no download runs.
  void StopForLoad(UsbDevice* device);

  // Ends a running download early and keeps what came: stops the timer, ends
  // the log at the first record not fetched yet (so View, Save and Export
  // show exactly the records that came), blanks the bar and closes the
  // device. Erase Log calls it first, since the ticks that followed would
  // read the freshly erased meter. Does nothing when no download runs.
  void StopEarly(UsbDevice* device);

  const TransferState& state() const { return state_; }
  // Failed exchanges asked again since the download started.
  int retries() const { return retries_; }
  bool log_changed() const { return log_changed_; }
  // The record a reply named instead of the one asked for, when that ended
  // the download; -1 otherwise.
  int answered_for() const { return answered_for_; }
  // Whether record n was stored from a good reply of this download, or held
  // by the partial log a resumed one goes on with.
  bool stored(int n) const { return n >= 0 && n < kRecordCount && stored_[n]; }
  // Records stored from replies since the download started.
  int records_stored() const { return records_stored_; }

 private:
  // Opens and checks the device; false (reported) when the download cannot
  // start.
  bool OpenDevice(UsbDevice* device);
  // Arms the timer for a download from record `first`.
  void Arm(UsbDevice* device, int first);
  // One record of a tick, retried as the policy allows; returns whether the
  // download goes on.
  bool FetchRecord(UsbDevice* device);
  // One request out and its reply in, judged.
  ReadReplyVerdict Exchange(UsbDevice* device, int record, uint8_t* reply, int* number);
  // Asks again for the record of a good `reply` until two replies in a row
  // agree (at most twice); the reply that counts is left in `reply`.
  ReadReplyVerdict Confirm(UsbDevice* device, uint8_t* reply, int* number);
  bool PurgeNeeded(UsbDevice* device);
  // Where the log ends when the download stops short: at the first record
  // not fetched, but never before the records a resumed log held.
  int KeptEnd() const;

  TransferState& state_;
  LogImage& image_;
  MainWindowUi& ui_;
  ExchangePolicy policy_;
  bool view_redrawn_ = false;
  std::chrono::milliseconds slice_ = kTransferSlice;
  bool purge_needed_ = true;
  int retries_ = 0;
  int check_record_ = -1;  // the record a resumed download must find unchanged
  bool log_changed_ = false;
  int answered_for_ = -1;
  int records_stored_ = 0;
  std::array<bool, kRecordCount> stored_{};
};

}  // namespace sq71

#endif
