#include "log/trace_output.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>

#include "log/log_files.h"
#include "log/replacing_file.h"

namespace sq71 {

std::FILE* OpenTraceStream(const std::string& path, std::string* error) {
  FileResult result;
  const int fd = OpenForStreaming(path.c_str(), &result);
#ifdef _WIN32
  std::FILE* file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
  if (fd >= 0 && file == nullptr) _close(fd);
#else
  std::FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (fd >= 0 && file == nullptr) close(fd);
#endif
  if (file == nullptr) {
    if (fd >= 0) result.error = EMFILE;
    // "cannot write 'PATH': REASON" in the trace's own words.
    *error = "cannot create the trace file" + WriteFailureText(path, result).substr(12);
  }
  return file;
}

std::unique_ptr<TraceFile> CreateTraceFile(const std::string& path, std::string* error) {
  if (path == "-") return TraceFile::Over(stderr, false);
  std::FILE* file = OpenTraceStream(path, error);
  return file != nullptr ? TraceFile::Over(file, true) : nullptr;
}

std::unique_ptr<Driver> TraceInto(const std::string& path, std::unique_ptr<Driver> driver,
                                  std::string* error) {
  if (path.empty() || driver == nullptr) return driver;
  std::unique_ptr<TraceFile> file = CreateTraceFile(path, error);
  if (file == nullptr) return nullptr;
  return std::make_unique<TracingDriver>(std::move(driver), std::move(file));
}

}  // namespace sq71
