#include "report/html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace sq71 {
namespace {

using Rows = std::vector<const ReportEntry*>;

struct Counts {
  int entries = 0, locked = 0, good = 0, marginal = 0, poor = 0, no_reference = 0;
  void Add(const ReportEntry& e) {
    ++entries;
    switch (e.margin.verdict) {
      case Verdict::kGood:
        ++good;
        break;
      case Verdict::kMarginal:
        ++marginal;
        break;
      case Verdict::kPoor:
        ++poor;
        break;
      case Verdict::kNoReference:
        ++no_reference;
        break;
      case Verdict::kNoLock:
        break;
    }
    if (e.margin.verdict != Verdict::kNoLock) ++locked;
  }
};

// Print keeps the colours (verdicts are also told apart by lightness and
// hatching, so a greyscale print reads the same).
constexpr char kStyle[] = R"(
:root{--ink:#1b1f24;--muted:#5b6470;--rule:#c9d0d8;--soft:#f3f5f8;--rf:#3d6ea8;
--good:#1e7b3c;--marginal:#e8b43a;--poor:#b3261e}
*{box-sizing:border-box;-webkit-print-color-adjust:exact;print-color-adjust:exact}
@page{margin:14mm 12mm}
html{font:10pt/1.4 "Segoe UI","DejaVu Sans","Liberation Sans",Arial,sans-serif;color:var(--ink)}
body{margin:0 auto;max-width:190mm;padding:10mm 6mm}
@media print{body{padding:0;max-width:none}}
h1{font-size:22pt;margin:0 0 2mm;font-weight:600;letter-spacing:-.01em}
h2{font-size:14pt;margin:0 0 3mm;padding-bottom:1.5mm;border-bottom:2px solid var(--ink)}
.brand{font-size:9pt;text-transform:uppercase;letter-spacing:.12em;color:var(--muted)}
header{border-bottom:4px solid var(--ink);padding-bottom:4mm;margin-bottom:6mm}
.meta{display:grid;grid-template-columns:repeat(4,auto);gap:1mm 6mm;margin:3mm 0 0}
.meta div{min-width:0}.meta span{display:block;font-size:8pt;color:var(--muted);text-transform:uppercase;letter-spacing:.06em}
.meta b{overflow-wrap:anywhere}
section{margin-bottom:8mm}
section.page{break-before:page}
.cards{display:grid;grid-template-columns:repeat(7,1fr);gap:2.5mm;margin-bottom:5mm}
.card{border:1px solid var(--rule);border-radius:2mm;padding:2mm 2.5mm;border-top-width:5px}
.card b{display:block;font-size:18pt;line-height:1.1}
.card span{font-size:8pt;color:var(--muted)}
.card.good{border-top-color:var(--good)}.card.marginal{border-top-color:var(--marginal)}
.card.poor{border-top-color:transparent;background:repeating-linear-gradient(45deg,var(--poor) 0 3px,#fff 3px 5px) top/100% 5px no-repeat border-box}
.card.noref{border-top-style:dashed;border-top-color:var(--muted)}
table{border-collapse:collapse;width:100%}
th,td{padding:.8mm 1.2mm;text-align:right;border-bottom:1px solid var(--rule);vertical-align:top}
th{font-weight:600;background:var(--soft);border-bottom:1.5px solid var(--ink)}
th:first-child,td:first-child{text-align:left}
tr{break-inside:avoid}
table.positions{font-size:9pt;margin-bottom:3mm}
table.entries{font-size:6.4pt;line-height:1.25}
table.entries td.t,table.entries th.t{text-align:left}
table.entries td{white-space:nowrap}
table.entries th{padding:.8mm .8mm}
table.entries td.n{font-family:"DejaVu Sans Mono","Liberation Mono",Consolas,monospace;white-space:pre}
table.entries tbody tr:nth-child(even){background:var(--soft)}
.v{font-weight:600;white-space:nowrap;border-radius:1mm;padding:0 1mm}
.v.good{color:var(--good)}
.v.marginal{background:#f9e3a6;color:#5a4300}
.v.poor{background:var(--poor);color:#fff}
.v.nolock,.v.noref{color:var(--muted);font-weight:400;font-style:italic}
p.note{font-size:8pt;color:var(--muted);margin:2mm 0}
figure{margin:0 0 5mm;break-inside:avoid}
figcaption{font-size:8.5pt;color:var(--muted);margin-bottom:1mm}
h3{font-size:11.5pt;margin:0 0 1mm}
svg{display:block;width:100%;height:auto}
svg text{font-family:"DejaVu Sans","Liberation Sans",Arial,sans-serif;fill:var(--ink)}
svg .mono{font-family:"DejaVu Sans Mono","Liberation Mono",Consolas,monospace}
svg .muted{fill:var(--muted);font-style:italic}
)";

std::string Num(double value, int decimals = 1) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Count(int n) { return std::to_string(n); }

std::string PositionName(const ReportEntry& e) { return e.texts.longitude + "\u00B0E"; }

struct Scale {
  double lo, hi, x0, x1;
  double X(double v) const { return x0 + (std::clamp(v, lo, hi) - lo) * (x1 - x0) / (hi - lo); }
  double Step() const {
    const double span = hi - lo;
    return span <= 40 ? 5 : span <= 100 ? 10 : span <= 200 ? 20 : 50;
  }
};

// A scale that holds every value and at least [lo, hi], on round numbers.
Scale Fit(const std::vector<double>& values, double lo, double hi, double x0, double x1) {
  for (double v : values) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  const double unit = hi - lo > 100 ? 20 : 10;
  return {std::floor(lo / unit) * unit, std::ceil(hi / unit) * unit, x0, x1};
}

constexpr double kWidth = 720, kRow = 16, kTop = 46;
constexpr double kRfLeft = 156, kRfRight = 392, kMerLeft = 410, kMerRight = 640;

std::string FillOf(Verdict verdict, const std::string& id) {
  switch (verdict) {
    case Verdict::kGood:
      return "var(--good)";
    case Verdict::kMarginal:
      return "var(--marginal)";
    case Verdict::kPoor:
      return "url(#" + id + "-poor)";
    default:
      return "#fff";
  }
}

void Axis(const Scale& s, double bottom, double top, std::string* out) {
  const double step = s.Step();
  for (double t = std::ceil(s.lo / step) * step; t <= s.hi + 1e-9; t += step) {
    const std::string x = Num(s.X(t));
    const bool zero = std::fabs(t) < 1e-9 && s.lo < 0;
    *out += "<line x1=\"" + x + "\" y1=\"" + Num(top) + "\" x2=\"" + x + "\" y2=\"" + Num(bottom) +
            "\" stroke=\"" + (zero ? "#5b6470" : "#d5dbe2") + "\" stroke-width=\"" +
            (zero ? "1" : "0.6") + "\"/>";
    *out += "<text x=\"" + x + "\" y=\"" + Num(bottom + 11) +
            "\" font-size=\"8\" text-anchor=\"middle\">" + Num(t, 0) + "</text>";
  }
  *out += "<line x1=\"" + Num(s.x0) + "\" y1=\"" + Num(bottom) + "\" x2=\"" + Num(s.x1) +
          "\" y2=\"" + Num(bottom) + "\" stroke=\"#1b1f24\" stroke-width=\"1\"/>";
}

void LegendItem(double x, const std::string& swatch, const std::string& label, std::string* out) {
  *out += swatch;
  *out += "<text x=\"" + Num(x + 14) + "\" y=\"13\" font-size=\"8.5\">" + label + "</text>";
}

std::string Box(double x, const std::string& fill, const std::string& extra = "") {
  return "<rect x=\"" + Num(x) + "\" y=\"5\" width=\"11\" height=\"10\" fill=\"" + fill +
         "\" stroke=\"#1b1f24\" stroke-width=\"0.5\"" + extra + "/>";
}

// One chart: for each entry its RF level as a bar, and its MER as a bar
// against the Es/N0 its code rate needs (a black rule), with the margin.
std::string Chart(const Rows& rows, const Scale& rf, const Scale& mer, const std::string& id) {
  const double bottom = kTop + kRow * static_cast<double>(rows.size());
  std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + Num(kWidth, 0) +
                  " " + Num(bottom + 18, 0) + "\" role=\"img\">";
  s += "<defs><pattern id=\"" + id +
       "-poor\" width=\"4\" height=\"4\" patternUnits=\"userSpaceOnUse\" "
       "patternTransform=\"rotate(45)\"><rect width=\"4\" height=\"4\" fill=\"#f6d4d1\"/>"
       "<rect width=\"2\" height=\"4\" fill=\"#b3261e\"/></pattern></defs>";
  LegendItem(4, Box(4, "var(--rf)"), "RF level", &s);
  LegendItem(64, Box(64, "#fff", " stroke-dasharray=\"2 1.5\""), "not locked", &s);
  LegendItem(140, Box(140, "var(--good)"), "good", &s);
  LegendItem(184, Box(184, "var(--marginal)"), "marginal", &s);
  LegendItem(246, Box(246, "url(#" + id + "-poor)"), "poor", &s);
  LegendItem(286, Box(286, "#fff"), "no reference", &s);
  LegendItem(360,
             "<line x1=\"365\" y1=\"4\" x2=\"365\" y2=\"16\" stroke=\"#1b1f24\" "
             "stroke-width=\"2.2\"/>",
             "required Es/N0 (margin = MER \u2212 required)", &s);
  s += "<text x=\"4\" y=\"38\" font-size=\"8.5\" font-weight=\"600\">Entry</text>";
  s += "<text x=\"" + Num(kRfLeft) +
       "\" y=\"38\" font-size=\"8.5\" font-weight=\"600\">RF level (dB\u00B5V)</text>";
  s += "<text x=\"" + Num(kMerLeft) +
       "\" y=\"38\" font-size=\"8.5\" font-weight=\"600\">MER and required Es/N0 (dB)</text>";
  s += "<text x=\"716\" y=\"38\" font-size=\"8.5\" font-weight=\"600\" "
       "text-anchor=\"end\">Margin (dB)</text>";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i % 2 == 1) {
      s += "<rect x=\"0\" y=\"" + Num(kTop + kRow * i) + "\" width=\"" + Num(kWidth, 0) +
           "\" height=\"" + Num(kRow, 0) + "\" fill=\"#f3f5f8\"/>";
    }
  }
  Axis(rf, bottom, kTop, &s);
  Axis(mer, bottom, kTop, &s);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ReportEntry& e = *rows[i];
    const double y = kTop + kRow * i;
    const std::string text_y = Num(y + 11.5);
    const bool locked = e.margin.verdict != Verdict::kNoLock;
    s += "<text class=\"mono\" x=\"4\" y=\"" + text_y + "\" font-size=\"8\">" + e.texts.id +
         "</text><text class=\"mono\" x=\"56\" y=\"" + text_y + "\" font-size=\"8\">" +
         HtmlEscape(e.name) + "</text>";
    // RF level.
    if (e.rf.has_value) {
      const double end = rf.X(e.rf.tenths / 10.0);
      s += "<rect x=\"" + Num(kRfLeft) + "\" y=\"" + Num(y + 3) + "\" width=\"" +
           Num(std::max(end - kRfLeft, 0.5)) + "\" height=\"10\" fill=\"" +
           (locked ? "var(--rf)" : "#fff") + "\"" +
           (locked ? "" : " stroke=\"#1b1f24\" stroke-width=\"0.8\" stroke-dasharray=\"2 1.5\"") +
           "/>";
      const bool inside = end > kRfRight - 34;
      s += "<text x=\"" + Num(inside ? end - 3 : end + 3) + "\" y=\"" + text_y +
           "\" font-size=\"8\"" + (inside ? " text-anchor=\"end\"" : "") +
           (inside && locked ? " style=\"fill:#fff\"" : "") + ">" + HtmlEscape(e.texts.rf_dbuv) +
           "</text>";
    } else {
      s += "<text class=\"muted\" x=\"" + Num(kRfLeft + 4) + "\" y=\"" + text_y +
           "\" font-size=\"8\">no value</text>";
    }
    // MER against the required Es/N0.
    std::string margin_text;
    if (!locked) {
      s += "<text class=\"muted\" x=\"" + Num(kMerLeft + 4) + "\" y=\"" + text_y +
           "\" font-size=\"8\">not locked</text>";
    } else if (!e.mer.has_value) {
      s += "<text class=\"muted\" x=\"" + Num(kMerLeft + 4) + "\" y=\"" + text_y +
           "\" font-size=\"8\">no MER value</text>";
    } else {
      const double zero = mer.X(std::max(0.0, mer.lo));
      const double end = mer.X(e.mer.tenths / 10.0);
      s += "<rect x=\"" + Num(std::min(zero, end)) + "\" y=\"" + Num(y + 3) + "\" width=\"" +
           Num(std::max(std::fabs(end - zero), 0.5)) + "\" height=\"10\" fill=\"" +
           FillOf(e.margin.verdict, id) + "\" stroke=\"#1b1f24\" stroke-width=\"0.5\"/>";
      s += "<text x=\"" + Num(std::max(zero, end) + 3) + "\" y=\"" + text_y +
           "\" font-size=\"8\">" + HtmlEscape(e.texts.mer) + "</text>";
    }
    if (e.margin.has_required) {
      const std::string x = Num(mer.X(e.margin.required / 100.0));
      s += "<line x1=\"" + x + "\" y1=\"" + Num(y + 1) + "\" x2=\"" + x + "\" y2=\"" +
           Num(y + kRow - 1) + "\" stroke=\"#1b1f24\" stroke-width=\"2.2\"/>";
    }
    if (e.margin.has_margin) {
      margin_text = (e.margin.marker == ' ' ? "" : std::string(1, e.margin.marker)) +
                    SignedHundredths(e.margin.margin);
      s += "<text x=\"716\" y=\"" + text_y + "\" font-size=\"8\" text-anchor=\"end\">" +
           HtmlEscape(margin_text) + "</text>";
    } else if (locked && e.mer.has_value) {
      s += "<text class=\"muted\" x=\"716\" y=\"" + text_y +
           "\" font-size=\"8\" text-anchor=\"end\">no reference</text>";
    }
  }
  s += "</svg>";
  return s;
}

std::string VerdictCell(const LinkMargin& m) {
  static const char* const kClasses[] = {"good", "marginal", "poor", "nolock", "noref"};
  return std::string("<span class=\"v ") + kClasses[static_cast<int>(m.verdict)] + "\">" +
         VerdictWord(m.verdict) + "</span>";
}

std::string Cell(const std::string& text, const char* cls = nullptr) {
  std::string s = cls ? std::string("<td class=\"") + cls + "\">" : std::string("<td>");
  return s + HtmlEscape(text) + "</td>";
}

void Header(const std::vector<ReportEntry>& entries, const ReportInfo& info, std::string* out) {
  *out += "<header><div class=\"brand\">SQ-71 Meter - Log</div><h1>" +
          HtmlEscape(ValidUtf8(info.title)) + "</h1><div class=\"meta\">";
  const std::pair<const char*, std::string> items[] = {
      {"Log file", ValidUtf8(info.log_name)},
      {"Made", info.made},
      {"Program version", info.version},
      {"Entries", Count(static_cast<int>(entries.size()))}};
  for (const auto& [label, value] : items) {
    *out += std::string("<div><span>") + label + "</span><b>" + HtmlEscape(value) + "</b></div>";
  }
  *out += "</div></header>";
}

void Summary(const std::vector<ReportEntry>& entries, const std::map<uint32_t, Rows>& positions,
             const ReportInfo& info, std::string* out) {
  Counts all;
  for (const ReportEntry& e : entries) all.Add(e);
  *out += "<section><h2>Summary</h2><div class=\"cards\">";
  const std::tuple<const char*, int, const char*> cards[] = {
      {"", all.entries, "entries"},
      {"", all.locked, "locked"},
      {"", all.entries - all.locked, "not locked"},
      {"good", all.good, "good"},
      {"marginal", all.marginal, "marginal"},
      {"poor", all.poor, "poor"},
      {"noref", all.no_reference, "no reference"}};
  for (const auto& [cls, n, label] : cards) {
    *out += std::string("<div class=\"card ") + cls + "\"><b>" + Count(n) + "</b><span>" + label +
            "</span></div>";
  }
  *out +=
      "</div><table class=\"positions\"><thead><tr><th>Satellite position</th><th>Entries</th>"
      "<th>Locked</th><th>Not locked</th><th>Good</th><th>Marginal</th><th>Poor</th>"
      "<th>No reference</th></tr></thead><tbody>";
  for (const auto& [longitude, rows] : positions) {
    Counts c;
    for (const ReportEntry* e : rows) c.Add(*e);
    *out += "<tr><td>" + HtmlEscape(PositionName(*rows.front())) + "</td><td>" + Count(c.entries) +
            "</td><td>" + Count(c.locked) + "</td><td>" + Count(c.entries - c.locked) +
            "</td><td>" + Count(c.good) + "</td><td>" + Count(c.marginal) + "</td><td>" +
            Count(c.poor) + "</td><td>" + Count(c.no_reference) + "</td></tr>";
  }
  *out +=
      "</tbody></table><p class=\"note\">Margin = MER \u2212 the Es/N0 the code rate needs: "
      "DVB-S2 per EN 302 307-1 (ideal, normal frame, AWGN), DVB-S per EN 300 421 "
      "(quasi-error-free). Good: a margin of " +
      Num(info.thresholds.good / 100.0, 2) + " dB or more; marginal: from " +
      Num(info.thresholds.marginal / 100.0, 2) +
      " dB; poor: below. DSS and code rates without a published value have no "
      "reference. A MER shown with \u201C&lt;\u201D or \u201C&gt;\u201D (beyond the "
      "meter's range) gives a margin with the same marker.</p></section>";
}

// The positions follow one another on the pages; a position's heading is
// part of its first chart's figure so the two never part at a page break.
void PositionSections(const std::map<uint32_t, Rows>& positions, std::string* out) {
  *out += "<section class=\"page\"><h2>Levels and margins by satellite position</h2>";
  int chart = 0;
  for (const auto& [longitude, rows] : positions) {
    std::vector<double> rf_values, mer_values;
    Counts c;
    for (const ReportEntry* e : rows) {
      c.Add(*e);
      if (e->rf.has_value) rf_values.push_back(e->rf.tenths / 10.0);
      if (e->mer.has_value) mer_values.push_back(e->mer.tenths / 10.0);
      if (e->margin.has_required) mer_values.push_back(e->margin.required / 100.0);
    }
    const Scale rf = Fit(rf_values, 30, 90, kRfLeft, kRfRight);
    const Scale mer = Fit(mer_values, 0, 20, kMerLeft, kMerRight);
    for (std::size_t first = 0; first < rows.size(); first += kChartRows) {
      const std::size_t last = std::min(rows.size(), first + kChartRows);
      *out += "<figure>";
      if (first == 0) {
        *out += "<h3>Satellite at " + HtmlEscape(PositionName(*rows.front())) +
                "</h3><p class=\"note\">" + Count(c.entries) + " entries, " + Count(c.locked) +
                " locked: " + Count(c.good) + " good, " + Count(c.marginal) + " marginal, " +
                Count(c.poor) + " poor, " + Count(c.no_reference) + " without reference.</p>";
      }
      *out += "<figcaption>Entries " + Count(static_cast<int>(first + 1)) + "\u2013" +
              Count(static_cast<int>(last)) + " of " + Count(static_cast<int>(rows.size())) +
              " at " + HtmlEscape(PositionName(*rows.front())) + "</figcaption>";
      std::string id(1, 'c');
      id += std::to_string(++chart);
      *out += Chart(Rows(rows.begin() + first, rows.begin() + last), rf, mer, id);
      *out += "</figure>";
    }
  }
  *out += "</section>";
}

void EntryTable(const std::vector<ReportEntry>& entries, std::string* out) {
  *out +=
      "<section class=\"page\"><h2>All entries</h2><table class=\"entries\"><thead><tr>"
      "<th class=\"t\">ID</th><th class=\"t\">Transponder</th><th>Position</th>"
      "<th>RF dBm</th><th>RF dB\u00B5V</th><th>RF dBmV</th><th>Lock</th><th>Pilots</th>"
      "<th>IQ</th><th>MER dB</th><th>QBER</th><th>Freq. kHz</th><th>Meas. kHz</th>"
      "<th>SR kBd</th><th>Meas. kBd</th><th class=\"t\">Standard</th><th class=\"t\">Code "
      "rate</th><th>Req. Es/N0 dB</th><th>Margin dB</th><th class=\"t\">Verdict</th></tr>"
      "</thead><tbody>";
  for (const ReportEntry& e : entries) {
    const ViewTexts& t = e.texts;
    const LinkMargin& m = e.margin;
    std::string margin;
    if (m.has_margin) {
      margin = (m.marker == ' ' ? "" : std::string(1, m.marker)) + SignedHundredths(m.margin);
    }
    *out += "<tr>" + Cell(t.id, "t") + Cell(e.name, "t n") + Cell(t.longitude + "E") +
            Cell(t.rf_dbm) + Cell(t.rf_dbuv) + Cell(t.rf_dbmv) + Cell(t.locked) + Cell(t.pilots) +
            Cell(t.iq_swap) + Cell(t.mer) + Cell(t.qber) + Cell(t.nominal_frequency) +
            Cell(t.measured_frequency) + Cell(t.nominal_symbol_rate) +
            Cell(t.measured_symbol_rate) + Cell(t.standard, "t") + Cell(t.code_rate, "t") +
            Cell(m.has_required ? Num(m.required / 100.0, 2) : "") + Cell(margin) +
            "<td class=\"t\">" + VerdictCell(m) + "</td></tr>";
  }
  *out += "</tbody></table></section>";
}

}  // namespace

std::string HtmlEscape(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          out += "\uFFFD";
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string HtmlReport(const std::vector<ReportEntry>& entries, const ReportInfo& info) {
  std::map<uint32_t, Rows> positions;
  for (const ReportEntry& e : entries) positions[e.decoded.longitude].push_back(&e);
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" "
      "content=\"width=device-width,initial-scale=1\"><title>";
  out += HtmlEscape(ValidUtf8(info.title)) + " \u2013 " + HtmlEscape(ValidUtf8(info.log_name));
  out += "</title><style>";
  out += kStyle;
  out += "</style></head><body>";
  Header(entries, info, &out);
  Summary(entries, positions, info, &out);
  PositionSections(positions, &out);
  EntryTable(entries, &out);
  out += "</body></html>\n";
  return out;
}

}  // namespace sq71
