// The trace reader over any text and, where it accepts one, the replay of it
// answering a short session: what it hands back must fit the caller's
// buffers, and a rejected trace names its line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/replay_driver.h"
#include "sim/trace_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace sq71::sim;
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto calls = std::make_shared<std::vector<TracedCall>>();
  std::string error;
  if (!ParseTrace(text, calls.get(), &error)) {
    if (error.rfind("line ", 0) != 0 || !calls->empty()) std::abort();
    return 0;
  }
  ReplayDriver replay(calls, false, nullptr);
  uint32_t count = 0;
  replay.CountDevices(&count);
  replay.Where(0);
  FT_HANDLE handle = nullptr;
  if (replay.Open(0, &handle) != FT_OK) return 0;
  char strings[4][64] = {};
  FT_PROGRAM_DATA record = {};
  record.Signature2 = 0xFFFFFFFF;
  record.Version = 2;
  record.Manufacturer = strings[0];
  record.ManufacturerId = strings[1];
  record.Description = strings[2];
  record.SerialNumber = strings[3];
  replay.EE_Read(handle, &record);
  if (record.ManufacturerId[15] != 0 || record.SerialNumber[15] != 0) std::abort();
  const uint8_t identify[] = {0x02, 0x00, 0x01, 0x49, 0xB8};
  const uint8_t record0[] = {0x02, 0x00, 0x04, 0x4C, 0x52, 0x00, 0x00, 0xE1};
  for (int i = 0; i < 3; ++i) {
    uint32_t done = 0;
    replay.Write(handle, i == 1 ? record0 : identify, i == 1 ? 8 : 5, &done);
    uint8_t reply[100];
    uint32_t got = 0;
    for (int r = 0; r < 2; ++r) {
      replay.Read(handle, reply, 72, &got);
      if (got > 72) std::abort();
    }
  }
  replay.Close(handle);
  return 0;
}
