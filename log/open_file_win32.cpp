#include <cstdio>

#include "log/open_file.h"
#include "ui/wide_text_win32.h"

namespace sq71 {

std::FILE* OpenForReading(const char* path) { return _wfopen(WidePath(path).c_str(), L"rb"); }

}  // namespace sq71
