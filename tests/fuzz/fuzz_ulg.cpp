// The two .ulg loaders, the program's and the simulator's, over files of any
// size and content: each takes the file only when it is exactly one log
// image, byte for byte, and leaves the image alone otherwise.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "log/log_files.h"
#include "log/log_image.h"
#include "sim/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace sq71;
  static const std::string path = [] {
    const char* folder = std::getenv("TMPDIR");
    return std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/sq71-fuzz-ulg-" +
           std::to_string(getpid()) + ".ulg";
  }();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) std::abort();

  const bool whole = size == kLogImageSize;
  LogImage before;
  before.fill(0xA5);

  LogImage image = before;
  const FileResult result = ReadUlgFile(path.c_str(), &image);
  if (result.ok() != whole || result.size != static_cast<int64_t>(size)) std::abort();
  if (whole ? !std::equal(image.begin(), image.end(), data) : image != before) std::abort();

  LogImage sim_image = before;
  std::string error;
  const bool loaded = sim::LoadLogFile(path, &sim_image, &error);
  if (loaded != whole || (!loaded && error.empty())) std::abort();
  if (loaded ? sim_image != image : sim_image != before) std::abort();

  std::remove(path.c_str());
  return 0;
}
