// The report and the JSON form over any log: no element or attribute comes
// from a transponder name (the report's tags and attribute names are those
// of the same log with every name "A"), and the JSON parses with every name
// the name's bytes read as Windows-1252.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "log/decoder.h"
#include "log/log_image.h"
#include "report/entries_json.h"
#include "report/html_report.h"
#include "report/report_entries.h"

namespace {

// Each tag's name and its attributes' names, in order; quoted values skipped.
std::vector<std::string> Markup(const std::string& html) {
  std::vector<std::string> names;
  for (std::size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at)) {
    ++at;
    std::string word;
    while (at < html.size() && html[at] != '>') {
      const char c = html[at];
      if (c == '"' || c == '\'') {
        at = html.find(c, at + 1);
        if (at == std::string::npos) std::abort();  // an attribute value left open
        ++at;
      } else if (c == ' ' || c == '=' || c == '/' || c == '\n') {
        if (!word.empty()) names.push_back(word + (c == '=' ? "=" : ""));
        word.clear();
        ++at;
      } else {
        word += c;
        ++at;
      }
    }
    if (!word.empty()) names.push_back(word);
  }
  return names;
}

sq71::ReportInfo Info() {
  sq71::ReportInfo info;
  info.log_name = "log.ulg";
  info.made = "2026-01-01 00:00";
  return info;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // A few records are enough to reach every part of the report; more only
  // slow each run down.
  constexpr int kRecords = 12;
  sq71::LogImage image{};
  std::memcpy(image.data(), data, std::min<std::size_t>(size, kRecords * sq71::kRecordSize));
  const int count = std::min(sq71::EntryCount(image, nullptr), kRecords);
  sq71::RecordDecoder decoder;
  const auto entries = sq71::CollectEntries(image, count, &decoder, sq71::Thresholds());
  sq71::LogImage plain = image;
  for (int i = 0; i < count; ++i) {
    uint8_t* name = sq71::RecordAt(plain, i) + sq71::rec::kName;
    std::memset(name, 0, sq71::rec::kNameLength);
    name[0] = 'A';
  }
  sq71::RecordDecoder plain_decoder;
  const auto plain_entries =
      sq71::CollectEntries(plain, count, &plain_decoder, sq71::Thresholds());
  if (plain_entries.size() != entries.size()) return 0;  // a name byte ended a pass
  if (Markup(sq71::HtmlReport(entries, Info())) != Markup(sq71::HtmlReport(plain_entries, Info()))) {
    std::abort();
  }
  const nlohmann::json json = nlohmann::json::parse(sq71::EntriesJson(entries));
  if (json.size() != entries.size()) std::abort();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (json[i]["name"].get<std::string>() != sq71::Cp1252ToUtf8(entries[i].decoded.name)) {
      std::abort();
    }
  }
  return 0;
}
