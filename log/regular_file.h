// Reading a whole file from outside, within a bound: only a regular file is
// read (a folder, a device or a named pipe is refused at once, and opening a
// pipe does not wait for a writer), and never more than the caller allows.
#ifndef SQ71_LOG_REGULAR_FILE_H
#define SQ71_LOG_REGULAR_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sq71 {

enum class RegularRead {
  kOk,
  kCannotOpen,  // error says why
  kDirectory,
  kNotRegular,  // a device, a named pipe, a socket
  kTooLarge,    // more than max_bytes
  kReadFailed,  // error says why
};

struct RegularFileResult {
  RegularRead status = RegularRead::kOk;
  int error = 0;      // errno of the call that failed, 0 when none applies
  int64_t size = -1;  // the file's size when it was opened; -1 when not a regular file
  bool ok() const { return status == RegularRead::kOk; }
};

// Reads the file at path into *bytes (left alone on failure).
RegularFileResult ReadRegularFile(const std::string& path, std::size_t max_bytes,
                                  std::string* bytes);

// The same, with one line in *error on failure naming the file as `what`:
// "cannot open scenario file 'x': No such file or directory", "scenario file
// 'x' is a directory", "... is not a regular file", "... is larger than 1 MiB".
bool ReadRegularFile(const std::string& path, std::size_t max_bytes, std::string* bytes,
                     std::string* error, std::string_view what = "file");

// The one line the form above gives for a failed read.
std::string RegularFileError(const std::string& path, const RegularFileResult& result,
                             std::size_t max_bytes, std::string_view what = "file");

// "1 MiB", "64 KiB", "65536 bytes": a limit as a message names it.
std::string ByteLimitText(std::size_t bytes);

}  // namespace sq71

#endif
