// Finding the file a name to be written stands for, without a window between
// looking and opening (POSIX).
//
// The path is resolved from its first component on folder descriptors, one
// component at a time, each link followed here rather than by the kernel, so
// that the rules for shared folders apply to every link and every folder on
// the way and nothing that changes a name after it was looked at can move
// the write elsewhere. In a folder with the sticky bit that others may write
// (such as /tmp), an entry of a user who is neither this user nor the
// folder's owner is "foreign": such a link is not followed, and such a file
// or FIFO is not opened for writing.
#ifndef SQ71_LOG_PATH_WALK_H
#define SQ71_LOG_PATH_WALK_H

#ifndef _WIN32

#include <sys/stat.h>

#include <string>

#include "log/log_files.h"

namespace sq71 {

struct WalkedName {
  WalkedName() = default;
  WalkedName(const WalkedName&) = delete;
  WalkedName& operator=(const WalkedName&) = delete;
  ~WalkedName();

  int folder = -1;       // the folder the name is in (a search-only descriptor)
  std::string name;      // the last component, never "." or ".."
  bool exists = false;   // something is there; info says what (not followed)
  struct stat info = {};
  struct stat folder_info = {};
  bool foreign = false;  // another user's entry in a shared folder on the way
  bool kernel_link = false;  // a link of /proc (/dev/stdout, /dev/fd/N): the kernel follows it
  WriteRefusal refusal = WriteRefusal::kNone;
  std::string link;      // the refused link, as the walk reached it
};

// Resolves path; 0, or the errno that stops it (EACCES with a refusal).
int WalkToName(const std::string& path, WalkedName* walked);

// Whether folder is shared: sticky and writable by others.
bool IsSharedFolder(const struct stat& folder);

// Opens the existing walked name for writing without following a link, not
// blocking (a FIFO without a reader fails with ENXIO), and checks that what
// opened is what the walk found and may be written: -1 with errno (and
// walked->refusal) when not. *opened is the open file's status.
int OpenWalkedForWriting(WalkedName* walked, struct stat* opened);

}  // namespace sq71

#endif
#endif
