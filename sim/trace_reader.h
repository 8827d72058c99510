// Reading a trace of driver calls (the tracing driver's, or the simulator's
// own) back, for the simulated meter to replay. A trace comes from outside
// (a user's machine, a mail), so nothing in it is trusted: the file is
// bounded, every number and hex byte is checked, and the first line that
// does not parse ends the reading with its line number.
#ifndef SQ71_SIM_TRACE_READER_H
#define SQ71_SIM_TRACE_READER_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <string>
#include <vector>

#include "usb/d2xx.h"

namespace sq71::sim {

// A larger file is refused: a session of a whole download traces to about
// 1 MiB.
constexpr std::size_t kTraceFileLimit = std::size_t{16} << 20;

// Reading a trace holds at most this many times the file's size, plus
// kTraceMemorySlack: the text once, each call in a fixed record, its named
// values in vectors of their own exact size (the time-stamped text of each
// key or call is never shorter than a quarter of what it takes).
constexpr std::size_t kTraceMemoryFactor = 16;
constexpr std::size_t kTraceMemorySlack = std::size_t{1} << 20;

// Named values on one line, at most; a line with more is refused.
constexpr std::size_t kMaxTraceKeys = 48;

// One driver call as the trace recorded it.
struct TracedCall {
  int line = 0;             // in the file, from 1
  int64_t micros = -1;      // when the call returned; -1: the line had no time
  std::string name;         // "FT_Open", "FT_Write", ..., "Where"
  bool has_status = false;  // false only for Where
  FT_STATUS status = FT_OK;
  // The named numbers on either side of the arrow ("index", "handle",
  // "count", "written", "read", "pnp", ...); bare numbers before the arrow
  // are "1", "2", ... in order.
  std::vector<std::pair<std::string, uint32_t>> numbers;
  // Quoted or bare words ("description", "serial_number", "error"); a Where
  // call's answer is "where".
  std::vector<std::pair<std::string, std::string>> texts;
  std::vector<uint8_t> bytes;  // a write's request, a read's reply
  bool has_bytes = false;      // a WRITE or READ line came with it

  bool Has(const std::string& key) const;
  bool HasText(const std::string& key) const;
  uint32_t Number(const std::string& key, uint32_t otherwise = 0) const;
  std::string Text(const std::string& key) const;
};

// Parses a whole trace. On the first bad line returns false with
// "line N: ..." in *error.
// `backend`, when given, gets the backend the tracer's first line names
// ("TRACE driver=tty"), or stays empty.
bool ParseTrace(const std::string& text, std::vector<TracedCall>* calls, std::string* error,
                std::string* backend = nullptr);

// Reads and parses a trace file; errors name the file.
bool LoadTraceFile(const std::string& path, std::vector<TracedCall>* calls, std::string* error,
                   std::string* backend = nullptr);

}  // namespace sq71::sim

#endif
