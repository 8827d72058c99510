// The device listing against simulated meters: who is asked, who answers,
// and what is counted.
#include "protocol/device_listing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/frame.h"
#include "tests/unit/protocol/sim_bus.h"
#include "usb/usb_device.h"

namespace sq71 {
namespace {

using sim::FaultAction;
using sim::FaultWhen;
using test::AttachMeters;
using test::MakeFault;
using test::TestBus;
using test::TraceStarting;

// 02 00 01 49 and the two's complement of 00 ^ 01 ^ 49 = 48, which is B8.
const char kIdentifyWrite[] = "WRITE 02 00 01 49 B8";

sim::MeterConfig Named(const std::string& name) {
  sim::MeterConfig meter;
  meter.name = name;
  return meter;
}

struct Listing {
  int count = -1;
  std::vector<std::string> names;
};

Listing List() {
  Listing listing;
  listing.count =
      ListDevices(TestBus(), [&](int, const char* name) { listing.names.push_back(name); });
  return listing;
}

// Lines the meters logged for identify requests, by meter index.
std::vector<std::string> IdentifyRequestsTo(int meter) {
  return TraceStarting("METER " + std::to_string(meter) + " I");
}

TEST(DeviceListing, TwoMetersGiveBothNamesInDeviceOrderAndCountTwo) {
  // The list box sorts; the listing hands the names over as they answer.
  AttachMeters({Named("SQ-71 Zulu"), Named("SQ-71 Alpha")});
  const Listing listing = List();
  EXPECT_EQ(2, listing.count);
  EXPECT_EQ((std::vector<std::string>{"SQ-71 Zulu", "SQ-71 Alpha"}), listing.names);
  EXPECT_EQ(2u, TraceStarting(kIdentifyWrite).size());
}

TEST(DeviceListing, NoDevicesGiveNoNamesAndCountZero) {
  AttachMeters({});
  const Listing listing = List();
  EXPECT_EQ(0, listing.count);
  EXPECT_TRUE(listing.names.empty());
  EXPECT_TRUE(TraceStarting("FT_Open").empty());
}

TEST(DeviceListing, EachDeviceIsProbedThenConfiguredAndAskedWithShortTimeouts) {
  AttachMeters({Named("One")});
  List();
  const std::vector<std::string> opens = TraceStarting("FT_Open");
  ASSERT_EQ(2u, opens.size()) << "a probe open, then the device object's own";
  const std::vector<std::string> latency = TraceStarting("FT_SetLatencyTimer");
  ASSERT_EQ(1u, latency.size());
  EXPECT_NE(std::string::npos, latency[0].find(" 2 -> 0"));
  const std::vector<std::string> timeouts = TraceStarting("FT_SetTimeouts");
  ASSERT_EQ(1u, timeouts.size());
  EXPECT_NE(std::string::npos, timeouts[0].find("read=200 write=1000"));
  const std::vector<std::string> purges = TraceStarting("FT_Purge");
  ASSERT_EQ(2u, purges.size());
  EXPECT_NE(std::string::npos, purges[0].find("mask=1"));
  EXPECT_NE(std::string::npos, purges[1].find("mask=2"));
  const std::vector<std::string> reads = TraceStarting("FT_Read");
  ASSERT_EQ(1u, reads.size());
  EXPECT_NE(std::string::npos, reads[0].find("wanted=100 "));
}

TEST(DeviceListing, EveryDeviceIsClosedAgainAfterwards) {
  AttachMeters({Named("One"), Named("Two"), Named("Three")});
  List();
  EXPECT_EQ(TraceStarting("FT_Open").size(), TraceStarting("FT_Close").size());
  // The driver refuses a device that is still held; all three open again.
  for (int i = 0; i < 3; ++i) {
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FT_OK, TestBus().Open(i, &handle)) << "device " << i << " left open";
    TestBus().Close(handle);
  }
}

TEST(DeviceListing, RefusedDevicesAreLeftOutAndTheRestCounted) {
  sim::MeterConfig refused = Named("Refused");
  refused.refuse_open = true;
  AttachMeters({refused, Named("Kept")});
  const Listing listing = List();
  EXPECT_EQ(1, listing.count);
  EXPECT_EQ(std::vector<std::string>{"Kept"}, listing.names);
  EXPECT_TRUE(IdentifyRequestsTo(0).empty());
}

TEST(DeviceListing, DeviceWithAnotherIdentityIsLeftOutUnasked) {
  sim::MeterConfig other = Named("Other");
  other.eeprom.cbus4 = 3;
  AttachMeters({Named("Good"), other});
  const Listing listing = List();
  EXPECT_EQ(1, listing.count);
  EXPECT_EQ(std::vector<std::string>{"Good"}, listing.names);
  EXPECT_TRUE(IdentifyRequestsTo(1).empty()) << "a refused identity costs no exchange";
  EXPECT_EQ(1u, TraceStarting(kIdentifyWrite).size());
}

TEST(DeviceListing, DeviceWhoseEepromCannotBeReadIsStillAsked) {
  sim::MeterConfig meter = Named("Unread");
  meter.eeprom_read_fails = true;
  AttachMeters({meter});
  const Listing listing = List();
  EXPECT_EQ(1u, IdentifyRequestsTo(0).size());
  EXPECT_EQ(1, listing.count);
  EXPECT_EQ(std::vector<std::string>{"Unread"}, listing.names);
}

TEST(DeviceListing, BadIdentifyRepliesAreLeftOutSilently) {
  const FaultAction actions[] = {FaultAction::kNoReply, FaultAction::kNak,
                                 FaultAction::kBadChecksum};
  for (FaultAction action : actions) {
    SCOPED_TRACE(static_cast<int>(action));
    sim::MeterConfig meter = Named("Faulty");
    meter.faults = {MakeFault(FaultWhen::kIdentify, 0, action)};
    AttachMeters({meter, Named("Fine")});
    const Listing listing = List();
    EXPECT_EQ(1, listing.count);
    EXPECT_EQ(std::vector<std::string>{"Fine"}, listing.names);
  }
}

TEST(DeviceListing, EmptyNameIsAcceptedAsAnEmptyRow) {
  // L = 1: the body is only the byte before the name.
  AttachMeters({Named("")});
  const Listing listing = List();
  EXPECT_EQ(1, listing.count);
  EXPECT_EQ(std::vector<std::string>{""}, listing.names);
}

TEST(DeviceListing, LongestNameThatFitsIsAcceptedOneLongerIsNot) {
  // A name of 95 characters gives L = 96, whose checksum is byte 99, the last
  // of the 100 read; 96 characters would put it past the buffer.
  const std::string fits(95, 'N');
  AttachMeters({Named(fits), Named(fits + "X")});
  const Listing listing = List();
  EXPECT_EQ(1, listing.count);
  EXPECT_EQ(std::vector<std::string>{fits}, listing.names);
}

TEST(DeviceListing, SharedDeviceHeldOpenElsewhereIsNotTouched) {
  // The program's own device object keeps device 1 open (as Erase Log leaves
  // it); the listing cannot open that one and leaves its handle working.
  AttachMeters({Named("Free"), Named("Held")});
  UsbDevice shared(TestBus());
  ASSERT_EQ(FT_OK, shared.Configure(1, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE));
  const Listing listing = List();
  EXPECT_EQ(std::vector<std::string>{"Free"}, listing.names);
  EXPECT_TRUE(shared.is_open());
  EXPECT_EQ(1, shared.device_index());

  // Still usable: one identify exchange through it answers.
  shared.SetTimeouts(200, 1000);
  uint8_t request[kIdentifyRequestSize];
  BuildIdentifyRequest(request);
  shared.Write(request, kIdentifyRequestSize);
  uint8_t reply[kIdentifyReplyMax] = {};
  std::string name;
  const FT_STATUS status = shared.Read(reply, kIdentifyReplyMax);
  EXPECT_TRUE(TestIdentifyReply(status, shared.bytes_read(), reply, &name));
  EXPECT_EQ("Held", name);
  shared.Close();
}

}  // namespace
}  // namespace sq71
