// Link margins: how far an entry's MER stands above the Es/N0 its standard
// and code rate need, and the verdict an installer reads from it.
#ifndef SQ71_REPORT_MARGINS_H
#define SQ71_REPORT_MARGINS_H

#include <cstdint>
#include <string>

#include "log/decoder.h"

namespace sq71 {

// The number a 16-bit level code (RF level, MER) stands for, as the decoder
// shows it: a value in tenths with its marker, or no value at all.
struct LevelValue {
  bool has_value = false;
  char marker = ' ';  // '<' (below the range), '>' (above) or ' '
  int tenths = 0;     // dBuV for the RF level, dB for MER
};
LevelValue LevelValueOf(uint32_t code);

// The required Es/N0 in hundredths of a dB of a code rate (ideal, AWGN,
// quasi-error-free), by the decoder's name of it; false where the standard
// fixes none (DSS, "ANY", "???", DVB-S1 6/7).
bool RequiredEsN0(uint32_t standard, uint32_t code_rate, int* hundredths);

enum class Verdict { kGood, kMarginal, kPoor, kNoLock, kNoReference, kUncertain };

// The words the report and the JSON use.
const char* VerdictWord(Verdict verdict);

// Margins of good or more are "good", of marginal or more "marginal", below
// that "poor"; in hundredths of a dB, each from 0 to 20 dB, marginal <= good.
struct Thresholds {
  int good = 300;
  int marginal = 100;
};

struct LinkMargin {
  bool has_required = false;
  int required = 0;  // hundredths of a dB
  bool has_margin = false;
  int margin = 0;     // hundredths of a dB: MER less the required Es/N0
  char marker = ' ';  // the MER's marker: the margin is a bound as the MER is
  Verdict verdict = Verdict::kNoReference;
};

// A threshold option's value: decimal dB from 0 to 20 with at most two
// decimals ("3", "1.5"). False for anything else (a sign, hex, an exponent).
bool ParseThresholdDb(const std::string& text, int* hundredths);

// An entry without lock has neither a required value nor a margin. A MER
// bound ("<" or ">") gets the verdict every value it allows would get, and
// "uncertain" where those differ: "<X" is poor when X's margin is at or below
// the marginal threshold, ">X" good when X's margin reaches the good one. A
// locked entry whose MER has no value has nothing to measure against: "no
// reference".
LinkMargin MarginOf(const DecodedEntry& entry, const Thresholds& thresholds);

}  // namespace sq71

#endif
