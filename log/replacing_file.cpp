#include "log/replacing_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace sq71 {
namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

int ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(getpid());
#endif
}

// Eight hex digits no other writer is likely to pick: the exclusive create
// settles the rare clash, so a stale file of an interrupted run never blocks.
std::string UniqueSuffix() {
  static std::atomic<uint64_t> counter{0};
  static const uint64_t seed = std::random_device{}();
  uint64_t x = seed ^ (static_cast<uint64_t>(ProcessId()) << 32) ^
               static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  // splitmix64's finaliser spreads every input bit over the digits kept.
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(x));
  return text;
}

}  // namespace

FileResult ReplacingFile::Failure(FileStatus status, int error) {
  FileResult result;
  result.status = status;
  result.error = error;
  return result;
}

std::string ReplacingFile::FolderOf(const std::string& path) {
#ifdef _WIN32
  const std::size_t end = path.find_last_of("\\/:");
#else
  const std::size_t end = path.rfind('/');
#endif
  return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

std::string ReplacingFile::TemporaryName(const std::string& target, bool short_form) {
  return (short_form ? FolderOf(target) + "sq71" : target) + ".tmp" + UniqueSuffix();
}

bool ReplacingFile::Write(const void* data, std::size_t size) {
  if (mode_ == Mode::kClosed) {
    if (error_ == 0) error_ = EBADF;
    return false;
  }
  if (error_ != 0) return false;
  const char* bytes = static_cast<const char*>(data);
  if (buffer_.size() + size > kBufferSize && !Flush()) return false;
  if (size >= kBufferSize) {
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return Flush();
  }
  buffer_.insert(buffer_.end(), bytes, bytes + size);
  return true;
}

}  // namespace sq71
