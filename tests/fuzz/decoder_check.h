// The decoder check shared by the record and log-image fuzz targets: every
// entry's list row and CSV line must carry the same fields, the CSV line must
// parse back into exactly its 17 fields, and the CSV export must be the
// header and those lines.
#ifndef SQ71_TESTS_FUZZ_DECODER_CHECK_H
#define SQ71_TESTS_FUZZ_DECODER_CHECK_H

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "log/decoder.h"
#include "log/log_files.h"
#include "log/log_image.h"

namespace sq71::fuzz {

// Splits a CSV line into its quoted fields ("" inside a field is one quote);
// aborts unless the line is exactly quoted fields separated by commas and
// ended by CR LF.
inline std::vector<std::string> ParseCsvLine(const char* line) {
  std::vector<std::string> fields;
  const char* p = line;
  for (;;) {
    if (*p++ != '"') std::abort();
    std::string field;
    for (;;) {
      if (*p == '\0') std::abort();
      if (*p == '"') {
        if (p[1] != '"') break;
        ++p;
      }
      field += *p++;
    }
    ++p;  // the closing quote
    fields.push_back(field);
    if (*p == ',') {
      ++p;
      continue;
    }
    if (std::strcmp(p, "\r\n") != 0) std::abort();
    return fields;
  }
}

// The list row the CSV fields stand for: a marker and its value share one
// CSV field but have a column each in the list.
inline std::string RowOfCsv(const std::vector<std::string>& csv) {
  if (csv.size() != 17) std::abort();
  std::string row;
  auto column = [&row](const std::string& text) {
    if (!row.empty()) row += '\t';
    row += text;
  };
  auto marked = [&](const std::string& text) {
    if (text.empty()) std::abort();
    column(text.substr(0, 1));
    column(text.substr(1));
  };
  for (int i = 0; i < 3; ++i) column(csv[i]);
  for (int i = 3; i < 6; ++i) marked(csv[i]);
  for (int i = 6; i < 9; ++i) column(csv[i]);
  for (int i = 9; i < 11; ++i) marked(csv[i]);
  for (int i = 11; i < 17; ++i) column(csv[i]);
  return row;
}

// Decodes the image from record 0 up and checks every entry and the export.
inline void CheckDecoding(const uint8_t* data, std::size_t size) {
  // Past the input every record is an end marker, so a short input is
  // decoded alone and quickly.
  LogImage image;
  image.fill(kEndMarker);
  std::memcpy(image.data(), data, std::min(size, image.size()));

  RecordDecoder decoder;
  DecodedEntry entry;
  std::string lines;
  int entries = 0;
  while (entries < kRecordCount && decoder.Decode(image, entries, &entry)) {
    const std::size_t row_length = strnlen(entry.list_row, sizeof entry.list_row);
    const std::size_t line_length = strnlen(entry.csv_line, sizeof entry.csv_line);
    // Never cut short by its buffer.
    if (row_length + 1 >= sizeof entry.list_row || line_length + 1 >= sizeof entry.csv_line) {
      std::abort();
    }
    if (RowOfCsv(ParseCsvLine(entry.csv_line)) != entry.list_row) std::abort();
    lines += entry.csv_line;
    ++entries;
  }

  std::string csv;
  RecordDecoder export_decoder;
  AppendCsv(image, kRecordCount, &export_decoder, &csv);
  if (csv != kCsvHeader + lines) std::abort();

  const int count = EntryCount(image, nullptr);
  if (count < 0 || count > kRecordCount) std::abort();
}

}  // namespace sq71::fuzz

#endif
