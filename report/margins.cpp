#include "report/margins.h"

#include <cstring>

namespace sq71 {
namespace {

struct Requirement {
  uint32_t standard;
  const char* code_rate;  // the decoder's name
  int hundredths;
};

// DVB-S2: EN 302 307-1 Table 13, normal FECFRAME. DVB-S: EN 300 421's
// quasi-error-free Eb/N0 as Es/N0 = Eb/N0 + 10 log10(2 r 188/204).
constexpr Requirement kRequirements[] = {
    {4, "QPSK 1/4", -235},    {4, "QPSK 1/3", -124},    {4, "QPSK 2/5", -30},
    {4, "QPSK 1/2", 100},     {4, "QPSK 3/5", 223},     {4, "QPSK 2/3", 310},
    {4, "QPSK 3/4", 403},     {4, "QPSK 4/5", 468},     {4, "QPSK 5/6", 518},
    {4, "QPSK 8/9", 620},     {4, "QPSK 9/10", 642},    {4, "8PSK 3/5", 550},
    {4, "8PSK 2/3", 662},     {4, "8PSK 3/4", 791},     {4, "8PSK 5/6", 935},
    {4, "8PSK 8/9", 1069},    {4, "8PSK 9/10", 1098},   {4, "16APSK 2/3", 897},
    {4, "16APSK 3/4", 1021},  {4, "16APSK 4/5", 1103},  {4, "16APSK 5/6", 1161},
    {4, "16APSK 8/9", 1289},  {4, "16APSK 9/10", 1313}, {4, "32APSK 3/4", 1273},
    {4, "32APSK 4/5", 1364},  {4, "32APSK 5/6", 1428},  {4, "32APSK 8/9", 1569},
    {4, "32APSK 9/10", 1605}, {0, "QPSK 1/2", 415},     {0, "QPSK 2/3", 589},
    {0, "QPSK 3/4", 691},     {0, "QPSK 5/6", 786},     {0, "QPSK 7/8", 848},
};

}  // namespace

LevelValue LevelValueOf(uint32_t code) {
  LevelValue value;
  const bool above = (code & 0x8000) != 0;
  const bool below = (code & 0x4000) != 0;
  if (above && below) return value;
  value.has_value = true;
  value.marker = above ? '>' : below ? '<' : ' ';
  const int v = static_cast<int>(code & 0x0FFF);
  value.tenths = (v & 0x0800) != 0 ? v - 0x1000 : v;
  return value;
}

bool RequiredEsN0(uint32_t standard, uint32_t code_rate, int* hundredths) {
  const char* name = CodeRateName(standard, code_rate);
  for (const Requirement& r : kRequirements) {
    if (r.standard == standard && std::strcmp(r.code_rate, name) == 0) {
      *hundredths = r.hundredths;
      return true;
    }
  }
  return false;
}

const char* VerdictWord(Verdict verdict) {
  switch (verdict) {
    case Verdict::kGood:
      return "good";
    case Verdict::kMarginal:
      return "marginal";
    case Verdict::kPoor:
      return "poor";
    case Verdict::kNoLock:
      return "no lock";
    case Verdict::kUncertain:
      return "uncertain";
    case Verdict::kNoReference:
      break;
  }
  return "no reference";
}

LinkMargin MarginOf(const DecodedEntry& entry, const Thresholds& thresholds) {
  LinkMargin margin;
  if ((entry.flags & kFlagLocked) == 0) {
    margin.verdict = Verdict::kNoLock;
    return margin;
  }
  margin.has_required = RequiredEsN0(entry.standard, entry.code_rate, &margin.required);
  const LevelValue mer = LevelValueOf(entry.mer);
  if (!margin.has_required || !mer.has_value) return margin;
  margin.has_margin = true;
  margin.margin = mer.tenths * 10 - margin.required;
  margin.marker = mer.marker;
  const Verdict at_bound = margin.margin >= thresholds.good       ? Verdict::kGood
                           : margin.margin >= thresholds.marginal ? Verdict::kMarginal
                                                                  : Verdict::kPoor;
  // Below the range the MER may be anything less, above it anything more.
  const bool settled = margin.marker == ' ' ||
                       (margin.marker == '<' && margin.margin <= thresholds.marginal) ||
                       (margin.marker == '>' && margin.margin >= thresholds.good);
  margin.verdict = settled ? (margin.marker == '<' ? Verdict::kPoor : at_bound)
                           : Verdict::kUncertain;
  return margin;
}

bool ParseThresholdDb(const std::string& text, int* hundredths) {
  const std::size_t dot = text.find('.');
  const std::string whole = text.substr(0, dot);
  const std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
  const auto digits = [](const std::string& s) {
    return s.find_first_not_of("0123456789") == std::string::npos;
  };
  if (whole.empty() || whole.size() > 2 || !digits(whole) || !digits(fraction) ||
      fraction.size() > 2 || (dot != std::string::npos && fraction.empty())) {
    return false;
  }
  const int value = std::stoi(whole) * 100 + (fraction.empty() ? 0 : std::stoi(fraction) *
                                                                          (fraction.size() == 1 ? 10 : 1));
  if (value > 2000) return false;
  *hundredths = value;
  return true;
}

}  // namespace sq71
