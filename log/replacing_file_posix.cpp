// The POSIX side of ReplacingFile: open(2) with O_EXCL (or O_TMPFILE),
// rename(2), flock(2) for the in-place case.
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

// How many links a name may lead through, as the kernel allows.
constexpr int kMaxLinks = 40;

// A temporary file of a killed run is left alone this long, so that another
// writer's file still in use is never taken.
constexpr time_t kLeftoverAge = 10 * 60;

// The kernel's rule for links in shared folders (fs.protected_symlinks): in
// a world-writable folder with the sticky bit, a link is followed only by
// its owner or when the folder's owner made it. Another user could
// otherwise point a name we are about to write at any file of ours.
bool FollowForbidden(const std::string& link, const struct stat& info) {
  const std::size_t slash = link.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : link.substr(0, slash);
  struct stat shared;
  if (stat(folder.c_str(), &shared) != 0) return false;
  const bool sticky = (shared.st_mode & S_ISVTX) != 0 && (shared.st_mode & S_IWOTH) != 0;
  return sticky && info.st_uid != geteuid() && info.st_uid != shared.st_uid;
}

// Follows the links at path one by one (we resolve them, so the kernel's own
// rule never sees them) to the file they name; false, with *refused set to
// the link, when one is not to be followed. A link that leads nowhere stays
// the target itself.
bool ResolveLinks(const std::string& path, std::string* resolved, std::string* refused) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat info;
    if (lstat(current.c_str(), &info) != 0) {
      if (hop > 0) current = path;
      break;
    }
    if (!S_ISLNK(info.st_mode)) break;
    if (FollowForbidden(current, info)) {
      *refused = current;
      return false;
    }
    std::string to(PATH_MAX, '\0');
    const ssize_t length = readlink(current.c_str(), to.data(), to.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= to.size()) break;
    to.resize(static_cast<std::size_t>(length));
    const std::size_t slash = current.rfind('/');
    current = to[0] == '/' || slash == std::string::npos ? to : current.substr(0, slash + 1) + to;
  }
  *resolved = current;
  return true;
}

// Whether name is one of our temporary names for the file called base:
// base.tmpXXXXXXXX, or the short sq71.tmpXXXXXXXX.
bool IsTemporaryOf(const std::string& name, const std::string& base) {
  for (const std::string& stem : {base + ".tmp", std::string("sq71.tmp")}) {
    if (name.size() != stem.size() + 8 || name.compare(0, stem.size(), stem) != 0) continue;
    bool hex = true;
    for (std::size_t i = stem.size(); i < name.size(); ++i) {
      const char c = name[i];
      hex = hex && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
    }
    if (hex) return true;
  }
  return false;
}

}  // namespace

void ReplacingFile::RemoveLeftovers() const {
  const std::string folder = FolderOf(target_);
  const std::string base = target_.substr(folder.size());
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return;
  const time_t now = time(nullptr);
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (!IsTemporaryOf(name, base)) continue;
    struct stat info;
    if (fstatat(dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(info.st_mode) && info.st_uid == geteuid() && now - info.st_mtime > kLeftoverAge) {
      unlinkat(dirfd(dir), name.c_str(), 0);
    }
  }
  closedir(dir);
}

FileResult ReplacingFile::Open(const char* path) {
  Abandon();
  error_ = 0;
  written_ = 0;
  target_ = path;
  // Through a symbolic link the file it names is replaced; the link stays.
  FileResult refusal = Failure(FileStatus::kCannotCreate, EACCES);
  if (!ResolveLinks(path, &target_, &refusal.refused_link)) return refusal;
  struct stat info;
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
    // A run killed between naming its file and the rename left one behind.
    RemoveLeftovers();
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

}  // namespace sq71
