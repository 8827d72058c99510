#include "log/log_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <vector>

#include "log/open_file.h"
#include "log/replacing_file.h"
#include "ui/message_catalogue.h"

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

FileResult Failure(FileStatus status, int error) {
  FileResult result;
  result.status = status;
  result.error = error;
  return result;
}

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
  std::FILE* file = OpenForReading(path);
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
