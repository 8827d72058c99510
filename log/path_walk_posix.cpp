#include "log/path_walk.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>

#ifdef __linux__
#include <sys/vfs.h>
#endif

namespace sq71 {
namespace {

// How many links a name may lead through, as the kernel allows.
constexpr int kMaxLinks = 40;

// A folder descriptor good for lookups only where the system has one (it
// needs no read permission on the folder).
#if defined(O_PATH)
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#elif defined(O_SEARCH)
constexpr int kFolderFlags = O_SEARCH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether uid's entry in the shared folder is one this user may trust: its
// own, or the folder owner's.
bool Foreign(const struct stat& entry, const struct stat& folder) {
  return IsSharedFolder(folder) && entry.st_uid != geteuid() && entry.st_uid != folder.st_uid;
}

// The links of /proc (/proc/self/fd/N behind /dev/stdout and /dev/fd/N)
// name open files, not paths: only the kernel can follow them.
bool IsProcFolder(int folder) {
#ifdef __linux__
  struct statfs info;
  return fstatfs(folder, &info) == 0 && info.f_type == 0x9fa0;  // PROC_SUPER_MAGIC
#else
  (void)folder;
  return false;
#endif
}

// The components of text in order; "a//b/" gives a, b and a final "" (a
// trailing slash means the name must be a folder).
void PushComponents(const std::string& text, std::deque<std::string>* rest) {
  std::deque<std::string> parts;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find('/', at);
    if (end == std::string::npos) end = text.size();
    if (end > at || end == text.size()) parts.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  if (!parts.empty() && parts.front().empty() && parts.size() > 1) parts.pop_front();
  rest->insert(rest->begin(), parts.begin(), parts.end());
}

int Fail(int error, WalkedName* walked, WriteRefusal refusal = WriteRefusal::kNone) {
  walked->refusal = refusal;
  return error;
}

}  // namespace

WalkedName::~WalkedName() {
  if (folder >= 0) close(folder);
}

bool IsSharedFolder(const struct stat& folder) {
  return (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & (S_IWOTH | S_IWGRP)) != 0;
}

int WalkToName(const std::string& path, WalkedName* walked) {
  if (path.empty()) return ENOENT;
  auto enter = [walked](int next) {
    if (walked->folder >= 0) close(walked->folder);
    walked->folder = next;
    return next >= 0 && fstat(next, &walked->folder_info) == 0;
  };
  if (!enter(open(path[0] == '/' ? "/" : ".", kFolderFlags))) return errno;
  std::string shown = path[0] == '/' ? "/" : "";  // the folder as the walk reached it
  std::deque<std::string> rest;
  PushComponents(path[0] == '/' ? path.substr(1) : path, &rest);
  int hops = 0;
  while (!rest.empty()) {
    const std::string part = rest.front();
    rest.pop_front();
    const bool last = rest.empty();
    if (part.empty() || part == ".") {
      if (last) return EISDIR;
      continue;
    }
    if (part == "..") {
      if (last) return EISDIR;
      if (!enter(openat(walked->folder, "..", kFolderFlags))) return errno;
      shown += "../";
      continue;
    }
    struct stat info;
    if (fstatat(walked->folder, part.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT || !last) return errno;
      walked->name = part;
      walked->exists = false;
      return 0;
    }
    const bool foreign = Foreign(info, walked->folder_info);
    if (S_ISLNK(info.st_mode)) {
      if (++hops > kMaxLinks) return ELOOP;
      if (foreign) {
        walked->link = shown + part;
        return Fail(EACCES, walked, WriteRefusal::kForeignLink);
      }
      if (last && IsProcFolder(walked->folder)) {
        walked->name = part;
        walked->exists = true;
        walked->info = info;
        walked->kernel_link = true;
        return 0;
      }
      char target[PATH_MAX];
      const ssize_t length = readlinkat(walked->folder, part.c_str(), target, sizeof target);
      if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) {
        return length < 0 ? errno : ENAMETOOLONG;
      }
      // The link read must be the one looked at (its owner was checked).
      struct stat again;
      if (fstatat(walked->folder, part.c_str(), &again, AT_SYMLINK_NOFOLLOW) != 0 ||
          !SameFile(info, again) || again.st_uid != info.st_uid) {
        return Fail(EAGAIN, walked, WriteRefusal::kChanged);
      }
      if (IsSharedFolder(walked->folder_info) && info.st_uid != geteuid()) walked->foreign = true;
      const std::string to(target, static_cast<std::size_t>(length));
      if (to[0] == '/') {
        if (!enter(open("/", kFolderFlags))) return errno;
        shown.assign(1, '/');
        PushComponents(to.substr(1), &rest);
      } else {
        PushComponents(to, &rest);
      }
      continue;
    }
    if (foreign) walked->foreign = true;
    if (S_ISDIR(info.st_mode)) {
      if (last) return EISDIR;
      const int next = openat(walked->folder, part.c_str(), kFolderFlags);
      if (next < 0) {
        return errno == ELOOP || errno == ENOTDIR ? Fail(EAGAIN, walked, WriteRefusal::kChanged)
                                                  : errno;
      }
      if (!enter(next)) return errno;
      if (!SameFile(info, walked->folder_info)) return Fail(EAGAIN, walked, WriteRefusal::kChanged);
      shown += part + "/";
      continue;
    }
    if (!last) return ENOTDIR;
    walked->name = part;
    walked->exists = true;
    walked->info = info;
    return 0;
  }
  return EISDIR;
}

int OpenWalkedForWriting(WalkedName* walked, struct stat* opened) {
  if (walked->kernel_link) {
    // Our own descriptors and the process's own files: the kernel follows it.
    const int fd = openat(walked->folder, walked->name.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (fstat(fd, opened) != 0) {
      const int error = errno;
      close(fd);
      errno = error;
      return -1;
    }
    return fd;
  }
  const int fd =
      openat(walked->folder, walked->name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP) errno = Fail(EAGAIN, walked, WriteRefusal::kChanged);
    return -1;
  }
  int error = 0;
  if (fstat(fd, opened) != 0) {
    error = errno;
  } else if (!SameFile(*opened, walked->info)) {
    error = Fail(EAGAIN, walked, WriteRefusal::kChanged);
  } else if ((S_ISREG(opened->st_mode) || S_ISFIFO(opened->st_mode)) &&
             Foreign(*opened, walked->folder_info)) {
    error = Fail(EACCES, walked, WriteRefusal::kForeignFile);
  }
  if (error != 0) {
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace sq71
