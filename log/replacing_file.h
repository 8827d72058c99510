// A file written under a unique temporary name beside its target and put in
// the target's place in one step once every byte is down, so that a reader, a
// second writer or a crash sees the old file or the new one, never a mix and
// never a missing name.
//
// Targets that cannot be replaced are written directly: a device or a named
// pipe, and an existing file in a folder that takes no new files (the user
// may write the file but not create one beside it). Writers that meet in such
// a file take turns.
#ifndef SQ71_LOG_REPLACING_FILE_H
#define SQ71_LOG_REPLACING_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "log/log_files.h"

namespace sq71 {

class ReplacingFile {
 public:
  ReplacingFile() = default;
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;
  ~ReplacingFile() { Abandon(); }

  // Fails with kCannotCreate when the target could not be written at all: a
  // read-only or locked file, a folder, a missing folder, a folder that takes
  // no new file when there is no file to write in place, or (POSIX) a name
  // that leads through another user's link in a shared sticky folder
  // (refused_link names it).
  FileResult Open(const char* path);

  // Writes size bytes; false (and the error kept for Commit) on failure.
  bool Write(const void* data, std::size_t size);

  // Puts the written bytes in the target's place. On failure the target is as
  // it was (unless it was written in place) and no temporary file is left.
  FileResult Commit();

  // Drops what was written; the target is left alone.
  void Abandon();

 private:
  enum class Mode {
    kClosed,
    kReplace,  // a temporary file that takes the target's place on Commit
    kInPlace,  // the existing file itself, cut to the new length on Commit
    kStream,   // a device or a pipe: bytes go straight in
  };

  // Tries at a fresh temporary name before giving up; each name is random,
  // so a second try is already rare.
  static constexpr int kNameTries = 16;
  static FileResult Failure(FileStatus status, int error);
  // The folder part of a path, separator included ("" for a bare name).
  static std::string FolderOf(const std::string& path);
  // The temporary file's name: the target's with ".tmp" and a random suffix,
  // or a short one in the same folder when the target's name is already as
  // long as the system allows.
  static std::string TemporaryName(const std::string& target, bool short_form);

  int CreateTemporary();
#ifndef _WIN32
  // Removes the target's temporary files that killed runs of this user left,
  // once they are old enough to be no other writer's.
  void RemoveLeftovers() const;
  void CloseFolder();
#endif
  bool Flush();
  void Close();

  Mode mode_ = Mode::kClosed;
  std::string target_;
  std::string temp_;  // the temporary file's name once it has one
  bool target_existed_ = false;
#ifdef _WIN32
  void* handle_ = nullptr;  // HANDLE
#else
  int fd_ = -1;
  int folder_ = -1;   // the folder the walk found the target's name in
  std::string name_;  // the target's name there
  bool unnamed_ = false;  // an O_TMPFILE file, named only on Commit
  unsigned mode_bits_ = 0666;
  bool keep_bits_ = false;  // the replaced file's own permission bits
#endif
  std::vector<char> buffer_;
  uint64_t written_ = 0;
  int error_ = 0;  // errno of the first failed write
};

// Opens path for writing straight into it, for a file that must keep every
// line written before the program stops (a trace): the same walk and checks
// as ReplacingFile::Open, then a regular file is cut to nothing and written
// in place, a new one is made exclusively, a pipe or device is written
// directly. The descriptor (the caller closes it), or -1 and *result says why.
int OpenForStreaming(const char* path, FileResult* result);

}  // namespace sq71

#endif
