// The POSIX side of ReplacingFile: the name walked on folder descriptors
// (path_walk.h), openat(2) with O_EXCL (or O_TMPFILE), renameat(2) in the
// folder the walk found, flock(2) for the in-place case.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "log/path_walk.h"
#include "log/replacing_file.h"

namespace sq71 {
namespace {

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

// A temporary file of a killed run is left alone this long, so that another
// writer's file still in use is never taken.
constexpr time_t kLeftoverAge = 10 * 60;

// Whether name is one of our temporary names for the file called base,
// base.tmpXXXXXXXX. The short sq71.tmpXXXXXXXX form may be any target's, so
// it is never taken for this one's.
bool IsTemporaryOf(const std::string& name, const std::string& base) {
  const std::string stem = base + ".tmp";
  if (name.size() != stem.size() + 8 || name.compare(0, stem.size(), stem) != 0) return false;
  for (std::size_t i = stem.size(); i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

FileResult Refused(int error, const WalkedName& walked) {
  FileResult result;
  result.status = FileStatus::kCannotCreate;
  result.error = error;
  result.refusal = walked.refusal;
  result.refused_link = walked.link;
  return result;
}

// What a named pipe or a device reached through the walk may be: written
// directly when the user named it, refused otherwise.
int CheckStreamTarget(const struct stat& opened, WalkedName* walked) {
  if (!S_ISFIFO(opened.st_mode) && !S_ISCHR(opened.st_mode)) {
    walked->refusal = WriteRefusal::kNotWritable;
    return EACCES;
  }
  if (walked->foreign) {
    walked->refusal = WriteRefusal::kForeignPath;
    return EACCES;
  }
  return 0;
}

// Back to blocking writes once a pipe has a reader.
void Blocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK); }

}  // namespace

void ReplacingFile::RemoveLeftovers() const {
  const int listing = openat(folder_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  DIR* dir = fdopendir(listing);
  if (dir == nullptr) {
    close(listing);
    return;
  }
  const time_t now = time(nullptr);
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (!IsTemporaryOf(name, name_)) continue;
    struct stat info;
    if (fstatat(folder_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(info.st_mode) && info.st_uid == geteuid() && now - info.st_mtime > kLeftoverAge) {
      unlinkat(folder_, name.c_str(), 0);
    }
  }
  closedir(dir);
}

FileResult ReplacingFile::Open(const char* path) {
  Abandon();
  error_ = 0;
  written_ = 0;
  target_ = path;
  WalkedName walked;
  if (const int error = WalkToName(path, &walked); error != 0) return Refused(error, walked);
  target_existed_ = walked.exists;
  mode_bits_ = 0666;  // and the umask
  keep_bits_ = false;
  struct stat opened = {};
  int existing = -1;
  if (walked.exists) {
    // Opened without truncating or blocking, and checked before a byte is
    // written: a file we may not write stays as it is, even where the folder
    // would let us replace it.
    existing = OpenWalkedForWriting(&walked, &opened);
    if (existing < 0) return Refused(errno, walked);
    if (!S_ISREG(opened.st_mode)) {
      // A device or a pipe cannot be replaced by a file, only written to (and
      // renaming over /dev/null would be a disaster).
      if (const int error = CheckStreamTarget(opened, &walked); error != 0) {
        close(existing);
        return Refused(error, walked);
      }
      Blocking(existing);
      fd_ = existing;
      mode_ = Mode::kStream;
      return FileResult();
    }
    if (walked.kernel_link) {
      // A file the process already has open (/dev/stdout): written after
      // what it holds, as the shell's ">" or ">>" left it.
      fcntl(existing, F_SETFL, (fcntl(existing, F_GETFL) & ~O_NONBLOCK) | O_APPEND);
      fd_ = existing;
      mode_ = Mode::kStream;
      return FileResult();
    }
    // The new file takes the old one's permissions when it was ours, so a
    // private log stays private; set-ID and sticky bits never carry over.
    if (opened.st_uid == geteuid()) {
      mode_bits_ = opened.st_mode & 0777;
      keep_bits_ = true;
    }
  }
  folder_ = walked.folder;
  walked.folder = -1;
  name_ = walked.name;
  const int error = CreateTemporary();
  if (error == 0) {
    if (existing >= 0) close(existing);
    mode_ = Mode::kReplace;
    // A run killed between naming its file and the rename left one behind.
    RemoveLeftovers();
    return FileResult();
  }
  if (existing < 0 || (error != EACCES && error != EPERM)) {
    if (existing >= 0) close(existing);
    return Failure(FileStatus::kCannotCreate, error);
  }
  // The folder takes no new file but the file itself may be written.
  fd_ = existing;
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
    fd_ = openat(folder_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode_bits_);
    if (fd_ >= 0) {
      unnamed_ = true;
      if (keep_bits_) fchmod(fd_, mode_bits_);
      return 0;
    }
  }
#endif
  bool short_form = false;
  int error = EEXIST;
  for (int i = 0; i < kNameTries; ++i) {
    const std::string name = TemporaryName(name_, short_form);
    fd_ = openat(folder_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 mode_bits_);
    if (fd_ >= 0) {
      temp_ = name;
      if (keep_bits_) fchmod(fd_, mode_bits_);
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

void ReplacingFile::CloseFolder() {
  if (folder_ >= 0) close(folder_);
  folder_ = -1;
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
      const std::string name = TemporaryName(name_, short_form);
      if (linkat(AT_FDCWD, self.c_str(), folder_, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
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
  if (error == 0 && mode_ == Mode::kReplace &&
      renameat(folder_, temp_.c_str(), folder_, name_.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    Abandon();
    return Failure(FileStatus::kWriteFailed, error);
  }
  temp_.clear();
  CloseFolder();
  mode_ = Mode::kClosed;
  return FileResult();
}

void ReplacingFile::Abandon() {
  Close();
  if (!temp_.empty()) unlinkat(folder_, temp_.c_str(), 0);
  temp_.clear();
  CloseFolder();
  unnamed_ = false;
  buffer_.clear();
  mode_ = Mode::kClosed;
}

int OpenForStreaming(const char* path, FileResult* result) {
  WalkedName walked;
  if (const int error = WalkToName(path, &walked); error != 0) {
    *result = Refused(error, walked);
    return -1;
  }
  if (!walked.exists) {
    const int fd = openat(walked.folder, walked.name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      // Something came to the name since the walk looked.
      if (errno == EEXIST) walked.refusal = WriteRefusal::kChanged;
      *result = Refused(errno, walked);
    }
    return fd;
  }
  struct stat opened;
  const int fd = OpenWalkedForWriting(&walked, &opened);
  int error = fd < 0 ? errno : 0;
  if (error == 0 && S_ISREG(opened.st_mode)) {
    if (!walked.kernel_link && ftruncate(fd, 0) != 0) error = errno;
  } else if (error == 0) {
    error = CheckStreamTarget(opened, &walked);
  }
  if (error != 0) {
    if (fd >= 0) close(fd);
    *result = Refused(error, walked);
    return -1;
  }
  Blocking(fd);
  if (walked.kernel_link) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_APPEND);
  return fd;
}

}  // namespace sq71
