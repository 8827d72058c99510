#include "log/open_file.h"

namespace sq71 {

std::FILE* OpenForReading(const char* path) { return std::fopen(path, "rb"); }

}  // namespace sq71
