#include "log/log_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <vector>

#include "log/replacing_file.h"
#include "ui/message_catalogue.h"

namespace sq71 {
namespace {

int64_t FileSize(std::FILE* file) {
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
  const int64_t size = _ftelli64(file);
  _fseeki64(file, 0, SEEK_SET);
#else
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  const int64_t size = ftello(file);
  fseeko(file, 0, SEEK_SET);
#endif
  return size;
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
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return Failure(FileStatus::kCannotOpen, errno);
  FileResult result;
  result.size = FileSize(file);
  // One byte more than a log holds, so a longer file shows itself even when
  // its size cannot be asked for (a pipe).
  std::vector<uint8_t> buffer(kLogImageSize + 1);
  errno = 0;
  const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
  const bool read_error = std::ferror(file) != 0;
  const int read_errno = errno;
  std::fclose(file);
  if (read_error) return Failure(FileStatus::kReadFailed, read_errno != 0 ? read_errno : EIO);
  if (result.size < 0) result.size = static_cast<int64_t>(got);
  if (result.size != static_cast<int64_t>(kLogImageSize)) {
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
