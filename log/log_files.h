// The log's files: the .ulg file (the raw 65,536-byte log image) and the CSV
// export of the decoded entries.
//
// Writes never leave a half-written file behind: the bytes go to a temporary
// file of their own in the target's folder, which replaces the target in one
// step only once every write and the close have succeeded (see
// replacing_file.h for the targets written directly). Reads replace the log
// image only when the whole file came in.
#ifndef SQ71_LOG_LOG_FILES_H
#define SQ71_LOG_LOG_FILES_H

#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <string>

#include "log/decoder.h"
#include "log/log_image.h"
#include "ui/ui.h"

namespace sq71 {

enum class FileStatus {
  kOk,
  kCannotOpen,    // the file to read cannot be opened
  kNotRegular,    // the file to read is a folder (error EISDIR), a device or a pipe
  kWrongSize,     // the file to read is not 65,536 bytes
  kReadFailed,    // reading failed after the file was opened
  kCannotCreate,  // the target cannot be written (read-only, locked, no folder)
  kWriteFailed,   // a write, the close or the final replace failed
};

// Why a write refused its target beyond what errno says (POSIX; see
// log/path_walk.h).
enum class WriteRefusal {
  kNone,
  kForeignLink,  // another user's link in a shared folder: refused_link
  kForeignFile,  // another user's file or FIFO in a shared folder
  kForeignPath,  // a pipe or device reached through another user's entry
  kChanged,      // the name changed between the look and the open
  kNotWritable,  // a block device or a socket
};

struct FileResult {
  FileStatus status = FileStatus::kOk;
  int error = 0;      // errno of the call that failed, 0 when none applies
  int64_t size = -1;  // reads: the file's size in bytes
  int64_t got = -1;   // reads: the bytes read
  // Writes refused because the name is another user's symbolic link in a
  // shared folder (the kernel's rule for links in sticky folders): that link.
  std::string refused_link;
  WriteRefusal refusal = WriteRefusal::kNone;
  bool ok() const { return status == FileStatus::kOk; }
};

// Reads a .ulg file into *image; *image is changed only when all 65,536 bytes
// came in. Only a regular file is read.
FileResult ReadUlgFile(const char* path, LogImage* image);

// Why a write failed, for a one-line message: "cannot write 'OUT.csv': ...",
// the name quoted for a terminal.
std::string WriteFailureText(const std::string& path, const FileResult& result);

// Writes the image to path, replacing any file there.
FileResult WriteUlgFile(const char* path, const LogImage& image);

// Writes the CSV file of the first count records (stopping at the first that
// is not an entry) to path, replacing any file there.
FileResult WriteCsvFile(const char* path, const LogImage& image, int count, RecordDecoder* decoder);

// The CSV bytes (header, then one line per entry, CR LF line ends) to other
// sinks. The FILE* and stream forms return false when a write failed.
void AppendCsv(const LogImage& image, int count, RecordDecoder* decoder, std::string* out);
bool WriteCsv(std::FILE* file, const LogImage& image, int count, RecordDecoder* decoder);
bool WriteCsv(std::ostream& out, const LogImage& image, int count, RecordDecoder* decoder);

// The File menu's operations, reporting through the message catalogue in the
// error style. Quiet mode silences only the messages for a file that cannot be
// opened or created.

// 0 loaded (View enabled, menu bar redrawn); 1 the file cannot be opened
// (message 4); -1 wrong size or a failed read (message 19), image and View
// unchanged.
int LoadUlg(const char* path, LogImage* image, ViewItem* view, Messages* messages, bool quiet);

// 0 written; -1 not written (message 20), any old file left as it was.
int SaveUlg(const char* path, const LogImage& image, Messages* messages, bool quiet);

// 0 written; -1 not written (message 20), any old file left as it was.
int ExportCsv(const char* path, const LogImage& image, int count, RecordDecoder* decoder,
              Messages* messages, bool quiet);

}  // namespace sq71

#endif
