#include "log/log_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "log/regular_file.h"
#include "log/replacing_file.h"
#include "ui/message_catalogue.h"
#include "ui/message_quote.h"

namespace sq71 {
namespace {

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
  std::string bytes;
  const RegularFileResult read = ReadRegularFile(path, kLogImageSize, &bytes);
  FileResult result;
  result.size = read.size;
  result.error = read.error;
  switch (read.status) {
    case RegularRead::kOk:
      break;
    case RegularRead::kCannotOpen:
      result.status = FileStatus::kCannotOpen;
      return result;
    case RegularRead::kDirectory:
    case RegularRead::kNotRegular:
      result.status = FileStatus::kNotRegular;
      return result;
    case RegularRead::kTooLarge:
      // A size within the limit means the file grew while it was read.
      result.status = read.size > static_cast<int64_t>(kLogImageSize) ? FileStatus::kWrongSize
                                                                      : FileStatus::kReadFailed;
      return result;
    default:
      result.status = FileStatus::kReadFailed;
      if (result.error == 0) result.error = EIO;
      return result;
  }
  result.got = static_cast<int64_t>(bytes.size());
  if (result.size != static_cast<int64_t>(kLogImageSize)) {
    result.status = FileStatus::kWrongSize;
    return result;
  }
  if (bytes.size() != kLogImageSize) {
    // The size was right but the bytes were not all there: it changed under us.
    result.status = FileStatus::kReadFailed;
    return result;
  }
  std::copy_n(bytes.begin(), kLogImageSize, image->begin());
  return result;
}

std::string WriteFailureText(const std::string& path, const FileResult& result) {
  std::string text = "cannot write " + QuoteForMessage(path) + ": ";
  switch (result.refusal) {
    case WriteRefusal::kForeignFile:
      return text + "another user's file in a shared folder; not written";
    case WriteRefusal::kForeignPath:
      return text + "a pipe or device reached through another user's entry in a shared folder; "
                    "not written";
    case WriteRefusal::kChanged:
      return text + "the name changed while it was opened; not written";
    case WriteRefusal::kNotWritable:
      return text + "a block device or a socket; not written";
    default:
      break;
  }
  if (!result.refused_link.empty()) {
    // The link may be one further along than the name given.
    return text +
           (result.refused_link == path ? "" : QuoteForMessage(result.refused_link) + " is ") +
           "another user's link in a shared folder; not followed";
  }
  // Opening a named pipe does not wait for a reader.
  if (result.error == ENXIO) return text + "a named pipe that nobody reads; not written";
  return text + (result.error != 0 ? std::strerror(result.error)
                                   : "the file changed while it was written");
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
#ifdef _WIN32
  // Windows opens no folder as a file: the program has always called it one
  // it cannot open.
  const bool folder = result.status == FileStatus::kNotRegular && result.error == EISDIR;
#else
  const bool folder = false;
#endif
  if (result.status == FileStatus::kCannotOpen || folder) {
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
