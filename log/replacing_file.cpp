#include "log/replacing_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace sq71 {
namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
// Tries at a fresh temporary name before giving up; each name is random, so
// a second try is already rare.
constexpr int kNameTries = 16;

FileResult Failure(FileStatus status, int error) {
  FileResult result;
  result.status = status;
  result.error = error;
  return result;
}

int ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(getpid());
#endif
}

// Eight hex digits no other writer is likely to pick: the exclusive create
// settles the rare clash, so a stale file of an interrupted run never blocks.
std::string UniqueSuffix() {
  static std::atomic<uint64_t> counter{0};
  static const uint64_t seed = std::random_device{}();
  uint64_t x = seed ^ (static_cast<uint64_t>(ProcessId()) << 32) ^
               static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  // splitmix64's finaliser spreads every input bit over the digits kept.
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(x));
  return text;
}

// The folder part of a path, separator included ("" for a bare name).
std::string FolderOf(const std::string& path) {
#ifdef _WIN32
  const std::size_t end = path.find_last_of("\\/:");
#else
  const std::size_t end = path.rfind('/');
#endif
  return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

// The temporary file's name: the target's with ".tmp" and a random suffix, or
// a short one in the same folder when the target's name is already as long as
// the system allows.
std::string TemporaryName(const std::string& target, bool short_form) {
  return (short_form ? FolderOf(target) + "sq71" : target) + ".tmp" + UniqueSuffix();
}

#ifdef _WIN32
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
      return EINVAL;
    default:
      return EIO;
  }
}

HANDLE AsHandle(void* handle) { return static_cast<HANDLE>(handle); }
#else
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}
#endif

}  // namespace

bool ReplacingFile::Write(const void* data, std::size_t size) {
  if (mode_ == Mode::kClosed) {
    if (error_ == 0) error_ = EBADF;
    return false;
  }
  if (error_ != 0) return false;
  const char* bytes = static_cast<const char*>(data);
  if (buffer_.size() + size > kBufferSize && !Flush()) return false;
  if (size >= kBufferSize) {
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return Flush();
  }
  buffer_.insert(buffer_.end(), bytes, bytes + size);
  return true;
}

#ifndef _WIN32

FileResult ReplacingFile::Open(const char* path) {
  Abandon();
  error_ = 0;
  written_ = 0;
  target_ = path;
  // Through a symbolic link the file it names is replaced; the link stays.
  struct stat info;
  if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
    if (char* resolved = realpath(path, nullptr)) {
      target_ = resolved;
      std::free(resolved);
    }
  }
  target_existed_ = stat(target_.c_str(), &info) == 0;
  if (target_existed_ && !S_ISREG(info.st_mode)) {
    // A device or a pipe cannot be replaced by a file, only written to (and
    // renaming over /dev/null would be a disaster); a folder fails here.
    fd_ = open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd_ < 0) return Failure(FileStatus::kCannotCreate, errno);
    mode_ = Mode::kStream;
    return FileResult();
  }
  if (target_existed_) {
    // A file we may not write stays as it is, even where the folder would
    // let us replace it. Opening without O_TRUNC only asks.
    const int probe = open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (probe < 0) return Failure(FileStatus::kCannotCreate, errno);
    close(probe);
    // The new file takes the old one's permissions, so a private log stays private.
    mode_bits_ = info.st_mode & 07777;
  }
  const int error = CreateTemporary();
  if (error == 0) {
    mode_ = Mode::kReplace;
    return FileResult();
  }
  if (!target_existed_ || (error != EACCES && error != EPERM)) {
    return Failure(FileStatus::kCannotCreate, error);
  }
  // The folder takes no new file but the file itself may be written.
  fd_ = open(target_.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd_ < 0) return Failure(FileStatus::kCannotCreate, errno);
  // Two writers in the one file take turns rather than interleave.
  while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
  mode_ = Mode::kInPlace;
  return FileResult();
}

int ReplacingFile::CreateTemporary() {
#ifdef O_TMPFILE
  // A file with no name until Commit: a run killed half-way leaves nothing
  // behind. It is named through /proc, so only where that is mounted.
  if (access("/proc/self/fd", X_OK) == 0) {
    const std::string folder = FolderOf(target_);
    fd_ = open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      unnamed_ = true;
      if (target_existed_) fchmod(fd_, mode_bits_);
      return 0;
    }
  }
#endif
  bool short_form = false;
  int error = EEXIST;
  for (int i = 0; i < kNameTries; ++i) {
    const std::string name = TemporaryName(target_, short_form);
    fd_ = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      temp_ = name;
      if (target_existed_) fchmod(fd_, mode_bits_);
      return 0;
    }
    error = errno;
    if (error == ENAMETOOLONG && !short_form) {
      short_form = true;
    } else if (error != EEXIST) {
      break;
    }
  }
  return error;
}

bool ReplacingFile::Flush() {
  if (buffer_.empty()) return true;
  if (!WriteAll(fd_, buffer_.data(), buffer_.size())) {
    if (error_ == 0) error_ = errno != 0 ? errno : EIO;
    return false;
  }
  written_ += buffer_.size();
  buffer_.clear();
  return true;
}

void ReplacingFile::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

FileResult ReplacingFile::Commit() {
  if (mode_ == Mode::kClosed) return Failure(FileStatus::kWriteFailed, error_ ? error_ : EBADF);
  int error = 0;
  if (!Flush()) error = error_;
  if (error == 0 && mode_ == Mode::kInPlace && ftruncate(fd_, static_cast<off_t>(written_)) != 0) {
    error = errno;
  }
  // On the disk before its name is, or a power cut could leave an empty file.
  if (error == 0 && mode_ != Mode::kStream && fsync(fd_) != 0) error = errno;
  if (error == 0 && unnamed_) {
    // Named beside the target so that the rename below stays in one folder.
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    bool short_form = false;
    error = EEXIST;
    for (int i = 0; i < kNameTries && error == EEXIST; ++i) {
      const std::string name = TemporaryName(target_, short_form);
      if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        temp_ = name;
        error = 0;
      } else {
        error = errno;
        if (error == ENAMETOOLONG && !short_form) {
          short_form = true;
          error = EEXIST;
        }
      }
    }
  }
  const int closed = close(fd_);
  fd_ = -1;
  if (error == 0 && closed != 0 && errno != EINTR) error = errno;
  if (error == 0 && mode_ == Mode::kReplace && std::rename(temp_.c_str(), target_.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    Abandon();
    return Failure(FileStatus::kWriteFailed, error);
  }
  temp_.clear();
  mode_ = Mode::kClosed;
  return FileResult();
}

void ReplacingFile::Abandon() {
  Close();
  if (!temp_.empty()) std::remove(temp_.c_str());
  temp_.clear();
  unnamed_ = false;
  buffer_.clear();
  mode_ = Mode::kClosed;
}

#else  // _WIN32

FileResult ReplacingFile::Open(const char* path) {
  Abandon();
  error_ = 0;
  written_ = 0;
  target_ = path;
  // Opening for writing neither creates nor truncates, so this only asks
  // whether the target may be written (not read-only, not locked by another
  // program) and what it is.
  HANDLE probe = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  target_existed_ = probe != INVALID_HANDLE_VALUE;
  if (!target_existed_) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return Failure(FileStatus::kCannotCreate, ErrnoOf(error));
  } else if (GetFileType(probe) != FILE_TYPE_DISK) {
    // A device such as NUL cannot be replaced by a file, only written to.
    handle_ = probe;
    mode_ = Mode::kStream;
    return FileResult();
  } else {
    CloseHandle(probe);
  }
  const int error = CreateTemporary();
  if (error == 0) {
    mode_ = Mode::kReplace;
    return FileResult();
  }
  if (!target_existed_ || error != EACCES) return Failure(FileStatus::kCannotCreate, error);
  // The folder takes no new file but the file itself may be written. No
  // sharing: a second writer is refused rather than interleaved.
  HANDLE file =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return Failure(FileStatus::kCannotCreate, ErrnoOf(GetLastError()));
  }
  handle_ = file;
  mode_ = Mode::kInPlace;
  return FileResult();
}

int ReplacingFile::CreateTemporary() {
  bool short_form = false;
  int error = EEXIST;
  for (int i = 0; i < kNameTries; ++i) {
    const std::string name = TemporaryName(target_, short_form);
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = file;
      temp_ = name;
      return 0;
    }
    error = ErrnoOf(GetLastError());
    if (error == ENAMETOOLONG && !short_form) {
      short_form = true;
    } else if (error != EEXIST) {
      break;
    }
  }
  return error;
}

bool ReplacingFile::Flush() {
  std::size_t done = 0;
  while (done < buffer_.size()) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(buffer_.size() - done);
    if (!WriteFile(AsHandle(handle_), buffer_.data() + done, chunk, &n, nullptr) || n == 0) {
      if (error_ == 0) error_ = ErrnoOf(GetLastError());
      if (error_ == 0) error_ = EIO;
      return false;
    }
    done += n;
  }
  written_ += buffer_.size();
  buffer_.clear();
  return true;
}

void ReplacingFile::Close() {
  if (handle_ != nullptr) CloseHandle(AsHandle(handle_));
  handle_ = nullptr;
}

FileResult ReplacingFile::Commit() {
  if (mode_ == Mode::kClosed) return Failure(FileStatus::kWriteFailed, error_ ? error_ : EBADF);
  int error = 0;
  if (!Flush()) error = error_;
  if (error == 0 && mode_ == Mode::kInPlace) {
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(written_);
    if (!SetFilePointerEx(AsHandle(handle_), end, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(AsHandle(handle_))) {
      error = ErrnoOf(GetLastError());
    }
  }
  if (error == 0 && mode_ != Mode::kStream && !FlushFileBuffers(AsHandle(handle_))) {
    error = ErrnoOf(GetLastError());
  }
  Close();
  if (error == 0 && mode_ == Mode::kReplace && target_existed_) {
    // Hidden, system and the like go over to the new file here too, for
    // systems whose ReplaceFile does not carry them (Wine).
    constexpr DWORD kCarried = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attributes = GetFileAttributesA(target_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kCarried) != 0) {
      SetFileAttributesA(temp_.c_str(), attributes & kCarried);
    }
  }
  if (error == 0 && mode_ == Mode::kReplace) {
    // ReplaceFile keeps the old file's attributes and security and never
    // leaves the name empty. Another writer replacing the same file at this
    // moment holds it briefly: a few more tries ride that out.
    BOOL done = FALSE;
    DWORD last = ERROR_FILE_NOT_FOUND;
    for (int i = 0; i < 5 && !done; ++i) {
      if (i > 0) Sleep(20);
      const bool exists = GetFileAttributesA(target_.c_str()) != INVALID_FILE_ATTRIBUTES;
      done = exists ? ReplaceFileA(target_.c_str(), temp_.c_str(), nullptr,
                                   REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                    : MoveFileExA(temp_.c_str(), target_.c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
      if (!done) last = GetLastError();
      if (!done && last != ERROR_SHARING_VIOLATION && last != ERROR_ACCESS_DENIED &&
          last != ERROR_UNABLE_TO_REMOVE_REPLACED && last != ERROR_FILE_NOT_FOUND) {
        break;
      }
    }
    if (!done) error = ErrnoOf(last);
  }
  if (error != 0) {
    Abandon();
    return Failure(FileStatus::kWriteFailed, error);
  }
  temp_.clear();
  mode_ = Mode::kClosed;
  return FileResult();
}

void ReplacingFile::Abandon() {
  Close();
  if (!temp_.empty()) DeleteFileA(temp_.c_str());
  temp_.clear();
  buffer_.clear();
  mode_ = Mode::kClosed;
}

#endif

}  // namespace sq71
