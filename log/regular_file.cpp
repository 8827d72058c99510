#include "log/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ui/message_quote.h"

#ifdef _WIN32
#include <io.h>

#include "ui/wide_text_win32.h"
#else
#include <unistd.h>
#endif

namespace sq71 {
namespace {

#ifdef _WIN32
using Stat = struct _stat64;
// Names are UTF-8: the wide calls keep those outside the ANSI code page.
int OpenForReading(const char* path) {
  return _wopen(WidePath(path).c_str(), _O_RDONLY | _O_BINARY);
}
int StatOf(int fd, Stat* info) { return _fstat64(fd, info); }
int StatOfName(const char* path, Stat* info) { return _wstat64(WideFromUtf8(path).c_str(), info); }
bool IsDirectory(const Stat& info) { return (info.st_mode & _S_IFMT) == _S_IFDIR; }
bool IsRegular(const Stat& info) { return (info.st_mode & _S_IFMT) == _S_IFREG; }
long ReadSome(int fd, char* buffer, std::size_t size) {
  return _read(fd, buffer, static_cast<unsigned>(size));
}
void CloseFile(int fd) { _close(fd); }
#else
using Stat = struct stat;
// O_NONBLOCK: a named pipe with no writer would otherwise hold the open.
int OpenForReading(const char* path) { return open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC); }
int StatOf(int fd, Stat* info) { return fstat(fd, info); }
int StatOfName(const char* path, Stat* info) { return stat(path, info); }
bool IsDirectory(const Stat& info) { return S_ISDIR(info.st_mode); }
bool IsRegular(const Stat& info) { return S_ISREG(info.st_mode); }
long ReadSome(int fd, char* buffer, std::size_t size) { return read(fd, buffer, size); }
void CloseFile(int fd) { close(fd); }
#endif

RegularFileResult Fails(RegularRead status, int error, int64_t size = -1) {
  RegularFileResult result;
  result.status = status;
  result.error = error;
  result.size = size;
  return result;
}

}  // namespace

RegularFileResult ReadRegularFile(const std::string& path, std::size_t max_bytes,
                                  std::string* bytes) {
  // Asked first, so that a device is never opened (opening a serial port
  // alone changes its lines) and a folder is named as one where it cannot
  // be opened (Windows); asked again once open, as the name may have changed.
  Stat named;
  if (StatOfName(path.c_str(), &named) == 0 && !IsRegular(named)) {
    return IsDirectory(named) ? Fails(RegularRead::kDirectory, EISDIR)
                              : Fails(RegularRead::kNotRegular, 0);
  }
  const int fd = OpenForReading(path.c_str());
  if (fd < 0) {
    return errno == EISDIR ? Fails(RegularRead::kDirectory, EISDIR)
                           : Fails(RegularRead::kCannotOpen, errno);
  }
  Stat info;
  if (StatOf(fd, &info) != 0) {
    const int error = errno;
    CloseFile(fd);
    return Fails(RegularRead::kReadFailed, error);
  }
  if (!IsRegular(info)) {
    CloseFile(fd);
    return IsDirectory(info) ? Fails(RegularRead::kDirectory, EISDIR)
                             : Fails(RegularRead::kNotRegular, 0);
  }
  const int64_t size = static_cast<int64_t>(info.st_size);
  if (size > static_cast<int64_t>(max_bytes)) {
    CloseFile(fd);
    return Fails(RegularRead::kTooLarge, 0, size);
  }
  // One byte past the limit shows a file that grew since it was asked.
  std::string read(static_cast<std::size_t>(size) + 1, '\0');
  std::size_t got = 0;
  for (;;) {
    if (got == read.size()) {
      if (got > max_bytes) break;
      read.resize(std::min(read.size() * 2, max_bytes + 1));
    }
    const long n = ReadSome(fd, read.data() + got, read.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      CloseFile(fd);
      return Fails(RegularRead::kReadFailed, error, size);
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  CloseFile(fd);
  if (got > max_bytes) return Fails(RegularRead::kTooLarge, 0, size);
  read.resize(got);
  *bytes = std::move(read);
  RegularFileResult result;
  result.size = size;
  return result;
}

bool ReadRegularFile(const std::string& path, std::size_t max_bytes, std::string* bytes,
                     std::string* error, std::string_view what) {
  const RegularFileResult result = ReadRegularFile(path, max_bytes, bytes);
  if (result.ok()) return true;
  if (error != nullptr) *error = RegularFileError(path, result, max_bytes, what);
  return false;
}

std::string RegularFileError(const std::string& path, const RegularFileResult& result,
                             std::size_t max_bytes, std::string_view what) {
  const std::string named = std::string(what) + " " + QuoteForMessage(path);
  switch (result.status) {
    case RegularRead::kOk:
      return "";
    case RegularRead::kCannotOpen:
      return "cannot open " + named + ": " + std::strerror(result.error);
    case RegularRead::kDirectory:
      return named + " is a directory";
    case RegularRead::kNotRegular:
      return named + " is not a regular file";
    case RegularRead::kTooLarge:
      return named + " is larger than " + ByteLimitText(max_bytes);
    default:
      return "cannot read " + named + ": " +
             (result.error != 0 ? std::strerror(result.error) : "it changed while it was read");
  }
}

std::string ByteLimitText(std::size_t bytes) {
  constexpr std::size_t kKiB = 1024;
  if (bytes >= kKiB * kKiB && bytes % (kKiB * kKiB) == 0) {
    return std::to_string(bytes / (kKiB * kKiB)) + " MiB";
  }
  if (bytes >= kKiB && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace sq71
