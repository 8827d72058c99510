// The record decoder over whole log images, seeded with the sample log.
#include <cstddef>
#include <cstdint>

#include "decoder_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  sq71::fuzz::CheckDecoding(data, size);
  return 0;
}
