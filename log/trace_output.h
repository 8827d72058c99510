// Trace files opened through the one writer (replacing_file.h): a trace is
// written line by line as the session goes, so it is opened for writing
// straight into, with the same walk and checks as every other file.
#ifndef SQ71_LOG_TRACE_OUTPUT_H
#define SQ71_LOG_TRACE_OUTPUT_H

#include <cstdio>
#include <memory>
#include <string>

#include "usb/driver.h"
#include "usb/tracing_driver.h"

namespace sq71 {

// The file at path opened for binary writing ("\n" line ends everywhere), or
// null with one line in *error naming it: "cannot create the trace file
// 'PATH': REASON".
std::FILE* OpenTraceStream(const std::string& path, std::string* error);

// A trace file at path ("-": standard error), or null with one line in *error.
std::unique_ptr<TraceFile> CreateTraceFile(const std::string& path, std::string* error);

// The driver traced into the file at `path` (a TracingDriver owning both),
// or the driver itself when `path` is empty. Null, with one line in *error,
// when the file cannot be created.
std::unique_ptr<Driver> TraceInto(const std::string& path, std::unique_ptr<Driver> driver,
                                  std::string* error);

}  // namespace sq71

#endif
