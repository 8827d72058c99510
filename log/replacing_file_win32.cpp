// The Win32 side of ReplacingFile: CreateFileW with CREATE_NEW, ReplaceFileW
// (or MoveFileExW for a new name), a file opened without sharing for the
// in-place case. Paths come in as UTF-8 and go to Windows as UTF-16.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "log/replacing_file.h"
#include "ui/wide_text_win32.h"

namespace sq71 {
namespace {

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
}  // namespace

FileResult ReplacingFile::Open(const char* path) {
  Abandon();
  error_ = 0;
  written_ = 0;
  target_ = path;
  // Opening for writing neither creates nor truncates, so this only asks
  // whether the target may be written (not read-only, not locked by another
  // program) and what it is.
  HANDLE probe =
      CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
  HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
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
    HANDLE file = CreateFileW(WidePath(name.c_str()).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
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
    const DWORD attributes = GetFileAttributesW(WidePath(target_.c_str()).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kCarried) != 0) {
      SetFileAttributesW(WidePath(temp_.c_str()).c_str(), attributes & kCarried);
    }
  }
  if (error == 0 && mode_ == Mode::kReplace) {
    // ReplaceFile keeps the old file's attributes and security and never
    // leaves the name empty. Another writer replacing the same file at this
    // moment holds it briefly: a few more tries ride that out.
    const std::wstring target = WidePath(target_.c_str());
    const std::wstring temp = WidePath(temp_.c_str());
    BOOL done = FALSE;
    DWORD last = ERROR_FILE_NOT_FOUND;
    for (int i = 0; i < 5 && !done; ++i) {
      if (i > 0) Sleep(20);
      const bool exists =
          GetFileAttributesW(WidePath(target_.c_str()).c_str()) != INVALID_FILE_ATTRIBUTES;
      done = exists ? ReplaceFileW(target.c_str(), temp.c_str(), nullptr,
                                   REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                    : MoveFileExW(temp.c_str(), target.c_str(),
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
  if (!temp_.empty()) DeleteFileW(WidePath(temp_.c_str()).c_str());
  temp_.clear();
  buffer_.clear();
  mode_ = Mode::kClosed;
}

int OpenForStreaming(const char* path, FileResult* result) {
  // Shared for reading, so the trace can be watched while it grows.
  HANDLE handle = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  result->status = FileStatus::kCannotCreate;
  if (handle == INVALID_HANDLE_VALUE) {
    result->error = ErrnoOf(GetLastError());
    return -1;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    result->error = EMFILE;
    return -1;
  }
  result->status = FileStatus::kOk;
  return fd;
}

}  // namespace sq71
