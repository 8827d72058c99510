#include "log/log_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <vector>

#include "ui/message_catalogue.h"

#ifndef _WIN32
#include <cstdlib>
#endif

namespace sq71 {
namespace {

// The size of a regular file; -1 for anything else (a device, a pipe), whose
// size tells nothing of what reading it gives: /dev/zero "holds" 0 bytes.
int64_t RegularFileSize(std::FILE* file) {
#ifdef _WIN32
  struct _stat64 info;
  if (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return -1;
#else
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
#endif
  return static_cast<int64_t>(info.st_size);
}

// True when something answers to path (a file we may not even be allowed to read).
bool Exists(const std::string& path) {
#ifndef _WIN32
  // Asked without opening: opening a named pipe would wait for a writer.
  struct stat info;
  errno = 0;
  if (lstat(path.c_str(), &info) == 0) return true;
  return errno != ENOENT;
#else
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file != nullptr) {
    std::fclose(file);
    return true;
  }
  return errno != ENOENT;
#endif
}

// A name beside path that nothing answers to yet, or "" when none is found.
std::string FreeName(const std::string& path, const char* suffix) {
  for (int i = 0; i < 100; ++i) {
    std::string name = path + suffix;
    if (i > 0) name += std::to_string(i);
    if (!Exists(name)) return name;
  }
  return "";
}

FileResult Failure(FileStatus status, int error) {
  FileResult result;
  result.status = status;
  result.error = error;
  return result;
}

// Puts target in place of an existing file. rename() replaces atomically on
// POSIX; the Windows C runtime refuses when the target exists, so there the
// old file steps aside first and comes back if the new one cannot take its
// place. Either way the old content survives every failure.
int ReplaceWith(const std::string& temp, const std::string& target) {
  if (std::rename(temp.c_str(), target.c_str()) == 0) return 0;
  int error = errno;
  if (!Exists(target)) return error;
  const std::string backup = FreeName(target, ".old");
  if (backup.empty()) return EEXIST;
  if (std::rename(target.c_str(), backup.c_str()) != 0) return errno;
  if (std::rename(temp.c_str(), target.c_str()) != 0) {
    error = errno;
    std::rename(backup.c_str(), target.c_str());
    return error;
  }
  std::remove(backup.c_str());
  return 0;
}

// A file written under a temporary name and moved over the target on Commit.
class ReplacingFile {
 public:
  ReplacingFile() = default;
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;
  ~ReplacingFile() { Abandon(); }

  // Fails with kCannotCreate when the target could not be written directly
  // either: a read-only or locked file, a missing or read-only folder.
  FileResult Open(const char* path) {
    target_ = path;
#ifndef _WIN32
    // Through a symbolic link the file it names is replaced; the link stays.
    struct stat info;
    if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
      if (char* resolved = realpath(path, nullptr)) {
        target_ = resolved;
        std::free(resolved);
      }
    }
    const bool exists = stat(target_.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) {
      // A device or a pipe cannot be replaced by a file, only written to
      // (and renaming over /dev/null would be a disaster); a folder fails here.
      errno = 0;
      file_ = std::fopen(target_.c_str(), "wb");
      if (file_ == nullptr) return Failure(FileStatus::kCannotCreate, errno);
      return FileResult();
    }
#endif
    if (Exists(target_)) {
      // Opening for update neither creates nor truncates, so this only asks.
      errno = 0;
      std::FILE* probe = std::fopen(target_.c_str(), "r+b");
      if (probe == nullptr) return Failure(FileStatus::kCannotCreate, errno);
#ifdef _WIN32
      // A device such as NUL cannot be replaced by a file, only written to.
      struct _stat64 info;
      const bool device =
          _fstat64(_fileno(probe), &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFCHR;
      std::fclose(probe);
      if (device) {
        errno = 0;
        file_ = std::fopen(target_.c_str(), "wb");
        if (file_ == nullptr) return Failure(FileStatus::kCannotCreate, errno);
        return FileResult();
      }
#else
      std::fclose(probe);
#endif
    }
    temp_ = FreeName(target_, ".tmp");
    if (temp_.empty()) return Failure(FileStatus::kCannotCreate, EEXIST);
    errno = 0;
    file_ = std::fopen(temp_.c_str(), "wb");
    if (file_ == nullptr) {
      const int error = errno;
      temp_.clear();
      return Failure(FileStatus::kCannotCreate, error);
    }
#ifndef _WIN32
    // The new file takes the old one's permissions, so a private log stays private.
    if (exists) fchmod(fileno(file_), info.st_mode & 07777);
#endif
    return FileResult();
  }

  std::FILE* file() const { return file_; }

  FileResult Commit() {
    const bool write_error = std::ferror(file_) != 0;
    int error = write_error ? write_errno_ : 0;
    errno = 0;
    if (std::fclose(file_) != 0 && !write_error) error = errno != 0 ? errno : EIO;
    file_ = nullptr;
    if (write_error || error != 0) {
      Abandon();
      return Failure(FileStatus::kWriteFailed, error != 0 ? error : EIO);
    }
    if (temp_.empty()) return FileResult();  // written in place: nothing to move
    error = ReplaceWith(temp_, target_);
    if (error != 0) {
      Abandon();
      return Failure(FileStatus::kWriteFailed, error);
    }
    temp_.clear();
    return FileResult();
  }

  // Writes size bytes; false (and the error kept for Commit) on failure.
  bool Write(const void* data, std::size_t size) {
    errno = 0;
    if (std::fwrite(data, 1, size, file_) == size) return true;
    if (write_errno_ == 0) write_errno_ = errno != 0 ? errno : EIO;
    return false;
  }

  void Abandon() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    if (!temp_.empty()) std::remove(temp_.c_str());
    temp_.clear();
  }

 private:
  std::string target_;
  std::string temp_;
  std::FILE* file_ = nullptr;
  int write_errno_ = 0;
};

// Hands the CSV file's pieces, in order, to put(data, size); stops early when
// put returns false. Returns false then.
template <typename Put>
bool ProduceCsv(const LogImage& image, int count, RecordDecoder* decoder, Put put) {
  if (!put(kCsvHeader, sizeof kCsvHeader - 1)) return false;
  count = std::clamp(count, 0, kRecordCount);
  DecodedEntry entry;
  for (int i = 0; i < count; ++i) {
    if (!decoder->Decode(image, i, &entry)) break;
    if (!put(entry.csv_line, std::strlen(entry.csv_line))) return false;
  }
  return true;
}

void Show(Messages* messages, int number) {
  if (messages != nullptr) messages->ShowMessage(number, MessageStyle::kError);
}

// Maps a write's result onto the menu operations' contract.
int ReportWrite(const FileResult& result, Messages* messages, bool quiet) {
  if (result.ok()) return 0;
  // Quiet mode is for scripted runs that expect a file may not be creatable;
  // a write that failed half-way is news even then.
  if (result.status != FileStatus::kCannotCreate || !quiet) Show(messages, kMsgCantSaveImage);
  return -1;
}

}  // namespace

FileResult ReadUlgFile(const char* path, LogImage* image) {
  errno = 0;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return Failure(FileStatus::kCannotOpen, errno);
  FileResult result;
  result.size = RegularFileSize(file);
  // One byte more than a log holds, so a longer stream shows itself even
  // though it has no size to ask for (a pipe, a device).
  std::vector<uint8_t> buffer(kLogImageSize + 1);
  errno = 0;
  const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
  const bool read_error = std::ferror(file) != 0;
  const int read_errno = errno;
  std::fclose(file);
  if (read_error) return Failure(FileStatus::kReadFailed, read_errno != 0 ? read_errno : EIO);
  result.got = static_cast<int64_t>(got);
  const int64_t length = result.size >= 0 ? result.size : result.got;
  if (length != static_cast<int64_t>(kLogImageSize)) {
    result.status = FileStatus::kWrongSize;
    return result;
  }
  if (got != kLogImageSize) {
    // The size was right but the bytes were not all there: it changed under us.
    result.status = FileStatus::kReadFailed;
    return result;
  }
  std::copy_n(buffer.begin(), kLogImageSize, image->begin());
  return result;
}

FileResult WriteUlgFile(const char* path, const LogImage& image) {
  ReplacingFile file;
  FileResult result = file.Open(path);
  if (!result.ok()) return result;
  file.Write(image.data(), image.size());
  return file.Commit();
}

FileResult WriteCsvFile(const char* path, const LogImage& image, int count,
                        RecordDecoder* decoder) {
  ReplacingFile file;
  FileResult result = file.Open(path);
  if (!result.ok()) return result;
  ProduceCsv(image, count, decoder,
             [&file](const char* data, std::size_t size) { return file.Write(data, size); });
  return file.Commit();
}

void AppendCsv(const LogImage& image, int count, RecordDecoder* decoder, std::string* out) {
  ProduceCsv(image, count, decoder, [out](const char* data, std::size_t size) {
    out->append(data, size);
    return true;
  });
}

bool WriteCsv(std::FILE* file, const LogImage& image, int count, RecordDecoder* decoder) {
  return ProduceCsv(image, count, decoder, [file](const char* data, std::size_t size) {
    return std::fwrite(data, 1, size, file) == size;
  });
}

bool WriteCsv(std::ostream& out, const LogImage& image, int count, RecordDecoder* decoder) {
  return ProduceCsv(image, count, decoder, [&out](const char* data, std::size_t size) {
    out.write(data, static_cast<std::streamsize>(size));
    return out.good();
  });
}

int LoadUlg(const char* path, LogImage* image, ViewItem* view, Messages* messages, bool quiet) {
  const FileResult result = ReadUlgFile(path, image);
  if (result.status == FileStatus::kCannotOpen) {
    if (!quiet) Show(messages, kMsgInvalidBinaryFile);
    return 1;
  }
  if (!result.ok()) {
    Show(messages, kMsgInvalidDataFile);
    return -1;
  }
  if (view != nullptr) {
    view->SetViewEnabled(true);
    view->RedrawMenuBar();
  }
  return 0;
}

int SaveUlg(const char* path, const LogImage& image, Messages* messages, bool quiet) {
  return ReportWrite(WriteUlgFile(path, image), messages, quiet);
}

int ExportCsv(const char* path, const LogImage& image, int count, RecordDecoder* decoder,
              Messages* messages, bool quiet) {
  return ReportWrite(WriteCsvFile(path, image, count, decoder), messages, quiet);
}

}  // namespace sq71
