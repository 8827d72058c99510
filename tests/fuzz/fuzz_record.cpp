// The record decoder over single records: the input fills the first records
// (up to four), every record after them is an end marker.
#include <cstddef>
#include <cstdint>

#include "decoder_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  sq71::fuzz::CheckDecoding(data, size);
  return 0;
}
