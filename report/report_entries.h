// The decoded entries as the report and the JSON form take them: the texts the
// Log Entries view shows, the numbers behind them and the link margin.
#ifndef SQ71_REPORT_REPORT_ENTRIES_H
#define SQ71_REPORT_REPORT_ENTRIES_H

#include <string>
#include <string_view>
#include <vector>

#include "log/decoder.h"
#include "log/log_image.h"
#include "report/margins.h"

namespace sq71 {

// The view's texts, blanks trimmed, each marker put before its value; the
// longitude without its "E".
struct ViewTexts {
  std::string id, longitude, rf_dbm, rf_dbuv, rf_dbmv, locked, pilots, iq_swap, mer, qber;
  std::string nominal_frequency, measured_frequency, nominal_symbol_rate, measured_symbol_rate;
  std::string standard, code_rate;
};

struct ReportEntry {
  int record = 0;
  DecodedEntry decoded{};
  std::string name;  // the name's bytes read as Windows-1252, in UTF-8
  ViewTexts texts;
  LevelValue rf;
  LevelValue mer;  // no value without lock
  LinkMargin margin;
};

// Decodes the first count records in order, stopping at the first that is not
// an entry, as the view and the CSV export do.
std::vector<ReportEntry> CollectEntries(const LogImage& image, int count, RecordDecoder* decoder,
                                        const Thresholds& thresholds);

// 8-bit text (a transponder name) read as Windows-1252, the code page the
// Windows program shows it in, written as UTF-8. Bytes that code page leaves
// undefined become U+FFFD.
std::string Cp1252ToUtf8(const std::string& bytes);

// The same for a terminal or a tab-separated row: C0 controls, DEL and the
// five undefined bytes as \xNN, a backslash as \\, so no byte of a name acts
// on a terminal and no tab or newline in it splits a row.
std::string Cp1252ForTerminal(std::string_view bytes);

// Text that should be UTF-8 (a file name, a title) made sure to be: valid
// sequences are kept, other bytes are read as Windows-1252.
std::string ValidUtf8(const std::string& text);

// A value in hundredths as a signed decimal with two fraction digits: "+2.47",
// "-0.30", "0.00".
std::string SignedHundredths(int hundredths);

}  // namespace sq71

#endif
