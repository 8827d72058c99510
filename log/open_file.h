// Opening a file by its UTF-8 name for reading, on every system.
#ifndef SQ71_LOG_OPEN_FILE_H
#define SQ71_LOG_OPEN_FILE_H

#include <cstdio>

namespace sq71 {

// std::fopen(path, "rb"), with the UTF-8 name honoured on Windows too (where
// fopen would take it in the ANSI code page). Sets errno on failure.
std::FILE* OpenForReading(const char* path);

}  // namespace sq71

#endif
