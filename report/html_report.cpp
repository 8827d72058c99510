#include "report/html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>

namespace sq71 {
namespace {

using Rows = std::vector<const ReportEntry*>;

// Verdicts from the worst down, as a position's overall verdict takes them.
constexpr Verdict kWorstFirst[] = {Verdict::kPoor, Verdict::kUncertain, Verdict::kMarginal,
                                   Verdict::kGood};

bool Judged(Verdict v) {
  return std::find(std::begin(kWorstFirst), std::end(kWorstFirst), v) != std::end(kWorstFirst);
}

struct Counts {
  int entries = 0;
  std::map<Verdict, int> of;
  void Add(const ReportEntry& e) {
    ++entries;
    ++of[e.margin.verdict];
  }
  int operator[](Verdict v) const {
    const auto found = of.find(v);
    return found == of.end() ? 0 : found->second;
  }
  // The worst verdict among the locked entries that have one; kNoReference
  // when there is none.
  Verdict Overall() const {
    for (const Verdict v : kWorstFirst) {
      if ((*this)[v] > 0) return v;
    }
    return Verdict::kNoReference;
  }
};

// Screen first: the page follows the window from 360 px up; the entries
// table and the charts keep a width they can be read at and scroll inside
// their own boxes. Print keeps the colours (verdicts are also told apart by
// lightness and hatching, so a greyscale print reads the same).
constexpr char kStyle[] = R"(
:root{--ink:#1b1f24;--muted:#5b6470;--rule:#c9d0d8;--soft:#f3f5f8;--rf:#3d6ea8;
--good:#1e7b3c;--marginal:#e8b43a;--poor:#b3261e;--unc:#6b5ca5}
*{box-sizing:border-box;-webkit-print-color-adjust:exact;print-color-adjust:exact}
@page{margin:10mm 11mm}
html{font:15px/1.45 "Segoe UI","DejaVu Sans","Liberation Sans",Arial,sans-serif;color:var(--ink)}
body{margin:0 auto;max-width:1100px;padding:16px}
h1{font-size:1.7em;margin:0 0 .2em;font-weight:600;overflow-wrap:anywhere}
h2{font-size:1.2em;margin:1.2em 0 .5em;padding-bottom:.15em;border-bottom:2px solid var(--ink)}
h3{font-size:1.05em;margin:.8em 0 .1em}
header{border-bottom:4px solid var(--ink);padding-bottom:.5em;display:flex;gap:1em;align-items:flex-start}
header div{flex:1;min-width:0}
.brand,.lab{font-size:.75em;text-transform:uppercase;letter-spacing:.08em;color:var(--muted)}
.logo{max-height:22mm;max-width:40%;object-fit:contain}
.job{display:grid;grid-template-columns:repeat(auto-fill,minmax(12em,1fr));gap:.3em 1.2em;margin:.6em 0}
.job div{min-width:0}.job span{display:block}.job b{overflow-wrap:anywhere}
.made{font-size:.8em;color:var(--muted);overflow-wrap:anywhere}
.scroll{overflow-x:auto;max-width:100%}
table{border-collapse:collapse;width:100%}
th,td{padding:.15em .4em;text-align:right;border-bottom:1px solid var(--rule);vertical-align:top}
th{font-weight:600;background:var(--soft);border-bottom:1.5px solid var(--ink)}
.l{text-align:left}
tr{break-inside:avoid}
td.n{font-family:"DejaVu Sans Mono","Liberation Mono",Consolas,monospace;white-space:pre}
table.entries{font-size:12px;min-width:1060px}
table.entries td{white-space:nowrap}
table.entries td:nth-child(-n+2),table.entries td:nth-child(n+16):nth-child(-n+17),table.entries td:nth-child(20){text-align:left}
table.entries tbody tr:nth-child(even){background:var(--soft)}
.v{font-weight:600;white-space:nowrap;border-radius:3px;padding:0 .25em}
.v.good{color:var(--good)}
.v.marginal{background:#f9e3a6;color:#5a4300}
.v.poor{background:var(--poor);color:#fff}
.v.uncertain{color:var(--unc);border:1px dashed var(--unc)}
.v.nolock,.v.noreference{color:var(--muted);font-weight:400;font-style:italic}
p.note{font-size:.8em;color:var(--muted);margin:.4em 0}
.accept{border:1.5px solid var(--ink);border-radius:4px;padding:.5em .8em;margin-top:1em;break-inside:avoid}
.accept div.sign{display:grid;grid-template-columns:repeat(auto-fit,minmax(12em,1fr));gap:1.5em}
.accept p{margin:0 0 .4em}
.line{border-bottom:1px solid var(--ink);height:2.6em;margin-bottom:.1em;font-weight:600;display:flex;align-items:flex-end}
.first{break-after:page}
figure{margin:0 0 .8em;break-inside:avoid}
figcaption{font-size:.8em;color:var(--muted)}
svg{display:block;width:100%;height:auto}
svg.chart{min-width:720px}
svg.legend{max-width:432px;margin-bottom:.5em}
td:first-child{white-space:nowrap}
svg text{font-family:"DejaVu Sans","Liberation Sans",Arial,sans-serif;font-size:10px;fill:var(--ink)}
svg .m{font-family:"DejaVu Sans Mono","Liberation Mono",Consolas,monospace}
svg .i{fill:var(--muted);font-style:italic}
svg .h{font-weight:600}svg .e{text-anchor:end}svg .w{fill:#fff}
svg .zb{fill:var(--soft)}svg .g{stroke:#d5dbe2;stroke-width:.6}svg .z{stroke:var(--muted)}
svg .ax{stroke:var(--ink)}svg .rq{stroke:var(--ink);stroke-width:2}
svg .fr{fill:var(--rf)}svg .fn{fill:#fff;stroke:var(--ink);stroke-width:.8;stroke-dasharray:2 1.5}
svg .fg{fill:var(--good)}svg .fm{fill:var(--marginal)}svg .fp{fill:url(#hp)}
svg .fu{fill:url(#hu)}svg .fo{fill:#fff}
svg .b{stroke:var(--ink);stroke-width:.5}
@media print{html{font-size:9pt}body{padding:0;max-width:none}.scroll{overflow:visible}
svg.chart{min-width:0;max-width:180mm}table.entries{min-width:0;font-size:6.4pt;line-height:1.15}
table.entries td,table.entries th{padding:.1mm .6mm}}
)";

std::string Num(double value, int decimals = 1) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// A chart coordinate to a tenth, without a fraction of nothing: "184", "27.5".
std::string Coord(double value) {
  std::string text = Num(value);
  if (text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0) text.resize(text.size() - 2);
  return text == "-0" ? "0" : text;
}

// A whole number of the axis: never "-0".
std::string Whole(double value) { return std::to_string(std::lround(value) + 0L); }

std::string Count(int n) { return std::to_string(n); }

std::string Plural(int n, const char* one, const char* many) {
  return Count(n) + " " + (n == 1 ? one : many);
}

std::string PositionOf(const ReportEntry& e) { return PositionText(e.decoded.longitude); }

// The margin as the table and the first page show it: a bound's margin says
// which way the real one lies.
std::string MarginText(const LinkMargin& m) {
  if (!m.has_margin) return "";
  const std::string value = SignedHundredths(m.margin);
  return m.marker == '<' ? "at most " + value : m.marker == '>' ? "at least " + value : value;
}

// The verdict's word as a class name: "good", "nolock", "noreference".
std::string VerdictClass(Verdict v) {
  std::string word = VerdictWord(v);
  word.erase(std::remove(word.begin(), word.end(), ' '), word.end());
  return word;
}

std::string VerdictSpan(Verdict v, const char* word = nullptr) {
  return "<span class=\"v " + VerdictClass(v) + "\">" +
         (word != nullptr ? word : VerdictWord(v)) + "</span>";
}

std::string Cell(const std::string& text, const char* cls = nullptr) {
  std::string s = cls ? std::string("<td class=\"") + cls + "\">" : std::string("<td>");
  return s + HtmlEscape(text) + "</td>";
}

// ---- Charts.

constexpr double kWidth = 720, kRow = 12, kTop = 18;
constexpr double kRfLeft = 184, kRfRight = 380, kMerLeft = 396, kMerRight = 612;
constexpr double kMonoAdvance = 6.03;  // DejaVu Sans Mono at the charts' 10 units

// The width of a label of digits, sign and marker at the charts' 10 units
// (DejaVu Sans advances, a little generous).
double LabelWidth(const std::string& text) {
  double width = 0;
  for (const char c : text) {
    width += c == '.' ? 3.3 : c == '-' ? 3.7 : c == '<' || c == '>' ? 8.4 : 6.4;
  }
  return width;
}

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

const char* FillClass(Verdict verdict) {
  switch (verdict) {
    case Verdict::kGood:
      return "fg";
    case Verdict::kMarginal:
      return "fm";
    case Verdict::kPoor:
      return "fp";
    case Verdict::kUncertain:
      return "fu";
    default:
      return "fo";
  }
}

std::string Text(double x, double y, const std::string& text, const char* cls = nullptr) {
  return std::string("<text") + (cls ? std::string(" class=\"") + cls + "\"" : "") + " x=\"" +
         Coord(x) + "\" y=\"" + Coord(y) + "\">" + text + "</text>";
}

std::string Rect(const char* cls, double x, double y, double w, double h) {
  return std::string("<rect class=\"") + cls + "\" x=\"" + Coord(x) + "\" y=\"" + Coord(y) +
         "\" width=\"" + Coord(w) + "\" height=\"" + Coord(h) + "\"/>";
}

std::string VLine(const char* cls, double x, double y1, double y2) {
  const std::string xs = Coord(x);
  return std::string("<line class=\"") + cls + "\" x1=\"" + xs + "\" y1=\"" + Coord(y1) +
         "\" x2=\"" + xs + "\" y2=\"" + Coord(y2) + "\"/>";
}

void Axis(const Scale& s, double bottom, const char* cls, std::string* out) {
  *out += std::string("<g class=\"") + cls + "\">";
  const double step = s.Step();
  for (double t = std::ceil(s.lo / step) * step; t <= s.hi + 1e-9; t += step) {
    const bool zero = std::fabs(t) < 1e-9 && s.lo < 0;
    *out += VLine(zero ? "z" : "g", s.X(t), kTop, bottom);
    *out += "<text class=\"t\" x=\"" + Coord(s.X(t)) + "\" y=\"" + Coord(bottom + 11) +
            "\" text-anchor=\"middle\">" + Whole(t) + "</text>";
  }
  *out += "<line class=\"ax\" x1=\"" + Coord(s.x0) + "\" y1=\"" + Coord(bottom) + "\" x2=\"" +
          Coord(s.x1) + "\" y2=\"" + Coord(bottom) + "\"/></g>";
}

// The swatches once for all charts; the hatchings are defined here and used
// by every chart of the page.
std::string Legend() {
  constexpr double kLegendWidth = 330;
  std::string items;
  const std::pair<const char*, const char*> swatches[] = {
      {"fr", "RF level"}, {"fn", "not locked"}, {"fg", "good"},          {"fm", "marginal"},
      {"fp", "poor"},     {"fu", "uncertain"},  {"fo", "no reference"}};
  double x = 4, y = 3;
  for (const auto& [cls, label] : swatches) {
    const double width = 22 + LabelWidth(label) * 1.05;
    if (x + width > kLegendWidth) {
      x = 4;
      y += 16;
    }
    items += "<g><rect class=\"" + std::string(cls) + " b\" x=\"" + Coord(x) + "\" y=\"" +
             Coord(y) + "\" width=\"12\" height=\"10\"/>" + Text(x + 16, y + 9, label) + "</g>";
    x += width;
  }
  y += 16;
  items += VLine("rq", 8, y, y + 12) + Text(16, y + 9, "required Es/N0") +
           Text(4, y + 25, "margin = MER \u2212 required; \u2264 at most, \u2265 at least");
  return "<svg class=\"legend\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " +
         Coord(kLegendWidth) + " " + Coord(y + 31) +
         "\" role=\"img\"><defs><pattern id=\"hp\" width=\"4\" height=\"4\" "
         "patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\"><rect width=\"4\" "
         "height=\"4\" fill=\"#f6d4d1\"/><rect width=\"2\" height=\"4\" fill=\"#b3261e\"/>"
         "</pattern><pattern id=\"hu\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\">"
         "<rect width=\"6\" height=\"6\" fill=\"#e4e0f2\"/><circle cx=\"3\" cy=\"3\" r=\"1.4\" "
         "fill=\"#6b5ca5\"/></pattern></defs>" +
         items + "</svg>";
}

// One chart: for each entry its RF level as a bar, and its MER as a bar
// against the Es/N0 its code rate needs (a black rule), with the margin.
std::string Chart(const Rows& rows, const Scale& rf, const Scale& mer) {
  std::size_t id_length = 0;
  for (const ReportEntry* e : rows) id_length = std::max(id_length, e->texts.id.size());
  const double name_x = 4 + kMonoAdvance * static_cast<double>(id_length) + 8;
  const double bottom = kTop + kRow * static_cast<double>(rows.size());
  std::string s = "<svg class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " +
                  Whole(kWidth) + " " + Whole(bottom + 14) + "\" role=\"img\">";
  s += Text(4, 12, "Entry", "h") + Text(kRfLeft, 12, "RF level (dB\u00B5V)", "h") +
       Text(kMerLeft, 12, "MER and required Es/N0 (dB)", "h") +
       Text(kWidth - 4, 12, "Margin (dB)", "h e");
  for (std::size_t i = 1; i < rows.size(); i += 2) {
    s += Rect("zb", 0, kTop + kRow * static_cast<double>(i), kWidth, kRow);
  }
  Axis(rf, bottom, "xr", &s);
  Axis(mer, bottom, "xm", &s);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ReportEntry& e = *rows[i];
    const double y = kTop + kRow * static_cast<double>(i);
    const double base = y + 9.5;
    const bool locked = e.margin.verdict != Verdict::kNoLock;
    s += "<g>" + Text(4, base, HtmlEscape(e.texts.id), "m") +
         Text(name_x, base, HtmlEscape(e.name), "m");
    if (e.rf.has_value) {
      const double end = rf.X(e.rf.tenths / 10.0);
      s += Rect(locked ? "fr" : "fn", kRfLeft, y + 2, std::max(end - kRfLeft, 0.5), 8);
      const std::string label = HtmlEscape(e.texts.rf_dbuv);
      const bool inside = end + 3 + LabelWidth(e.texts.rf_dbuv) > kRfRight + 10;
      s += inside ? Text(end - 3, base, label, locked ? "e w" : "e") : Text(end + 3, base, label);
    } else {
      s += Text(kRfLeft + 4, base, "no value", "i");
    }
    const double line_x = e.margin.has_required ? mer.X(e.margin.required / 100.0) : -100;
    if (!locked) {
      s += Text(kMerLeft + 4, base, "not locked", "i");
    } else if (!e.mer.has_value) {
      s += Text(kMerLeft + 4, base, "no MER value", "i");
    } else {
      const double zero = mer.X(std::max(0.0, mer.lo));
      const double end = mer.X(e.mer.tenths / 10.0);
      s += "<rect class=\"" + std::string(FillClass(e.margin.verdict)) + " b\" x=\"" +
           Coord(std::min(zero, end)) + "\" y=\"" + Coord(y + 2) + "\" width=\"" +
           Coord(std::max(std::fabs(end - zero), 0.5)) + "\" height=\"8\"/>";
      // The label goes past the bar, or past the required line where the
      // line would strike through it.
      double label_x = std::max(zero, end) + 3;
      const double width = LabelWidth(e.texts.mer);
      if (line_x > label_x - 3 && line_x < label_x + width + 3) label_x = line_x + 4;
      s += Text(label_x, base, HtmlEscape(e.texts.mer));
    }
    if (e.margin.has_required) s += VLine("rq", line_x, y, y + kRow);
    if (e.margin.has_margin) {
      const std::string bound =
          e.margin.marker == '<' ? "\u2264" : e.margin.marker == '>' ? "\u2265" : "";
      s += Text(kWidth - 4, base, bound + SignedHundredths(e.margin.margin), "e");
    } else if (locked && e.mer.has_value) {
      s += Text(kWidth - 4, base, "no reference", "i e");
    }
    s += "</g>";
  }
  s += "</svg>";
  return s;
}

// ---- The first page.

void Header(const std::vector<ReportEntry>& entries, const ReportInfo& info, std::string* out) {
  const ReportJob& job = info.job;
  *out += "<header><div><div class=\"brand\">SQ-71 Meter - Log</div><h1>" +
          HtmlEscape(ValidUtf8(info.title)) + "</h1><div class=\"job\">";
  const std::pair<const char*, const std::string*> items[] = {
      {"Customer", &job.customer}, {"Site", &job.site},
      {"Installer", &job.installer}, {"Company", &job.company},
      {"Date of installation", &job.date}};
  for (const auto& [label, value] : items) {
    if (value->empty()) continue;
    *out += std::string("<div><span class=\"lab\">") + label + "</span><b>" +
            HtmlEscape(ValidUtf8(*value)) + "</b></div>";
  }
  *out += "</div>";
  if (!job.notes.empty()) {
    *out += "<p><span class=\"lab\">Notes</span><br>";
    std::size_t start = 0;
    for (std::size_t end; (end = job.notes.find('\n', start)) != std::string::npos;
         start = end + 1) {
      *out += HtmlEscape(ValidUtf8(job.notes.substr(start, end - start))) + "<br>";
    }
    *out += HtmlEscape(ValidUtf8(job.notes.substr(start))) + "</p>";
  }
  *out += "<p class=\"made\">Log file " + HtmlEscape(ValidUtf8(info.log_name)) + " \u00B7 " +
          Plural(static_cast<int>(entries.size()), "entry", "entries") + " \u00B7 made " +
          HtmlEscape(info.made) + " with version " + HtmlEscape(info.version) + "</p></div>";
  if (!job.logo_type.empty()) {
    *out += "<img class=\"logo\" alt=\"\" src=\"data:" + job.logo_type + ";base64," +
            Base64(job.logo_bytes) + "\">";
  }
  *out += "</header>";
}

// The name most of a position's entries carry (the first of equals).
std::string MostCommonName(const Rows& rows) {
  std::map<std::string, int> seen;
  std::string best;
  int most = 0;
  for (const ReportEntry* e : rows) {
    const std::size_t first = e->name.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    const std::string name = e->name.substr(first);
    if (++seen[name] > most) {
      most = seen[name];
      best = name;
    }
  }
  return best;
}

void Positions(const std::vector<ReportEntry>& entries, const std::map<uint32_t, Rows>& positions,
               std::string* out) {
  Counts all;
  for (const ReportEntry& e : entries) all.Add(e);
  *out += "<h2>Verdict by satellite position</h2><p>" +
          Plural(all.entries, "entry", "entries") + " at " +
          Plural(static_cast<int>(positions.size()), "satellite position", "satellite positions") +
          ": ";
  std::string parts;
  for (const Verdict v : {Verdict::kGood, Verdict::kMarginal, Verdict::kPoor, Verdict::kUncertain,
                          Verdict::kNoLock, Verdict::kNoReference}) {
    if (all[v] == 0) continue;
    parts += (parts.empty() ? "" : ", ") + Count(all[v]) + " " + VerdictWord(v);
  }
  *out += parts +
          ".</p><div class=\"scroll\"><table class=\"positions\"><thead><tr><th "
          "class=\"l\">Position</th><th class=\"l\">Satellite</th><th>Entries</th><th "
          "class=\"l\">Verdict</th><th>Not locked</th><th>No reference</th></tr></thead><tbody>";
  for (const auto& [longitude, rows] : positions) {
    Counts c;
    for (const ReportEntry* e : rows) c.Add(*e);
    const Verdict overall = c.Overall();
    *out += "<tr>" + Cell(PositionOf(*rows.front()), "l") + Cell(MostCommonName(rows), "l") +
            "<td>" + Count(c.entries) + "</td><td class=\"l\">" +
            (Judged(overall) ? VerdictSpan(overall) : VerdictSpan(overall, "none")) +
            "</td><td>" + Count(c[Verdict::kNoLock]) + "</td><td>" +
            Count(c[Verdict::kNoReference]) + "</td></tr>";
  }
  *out += "</tbody></table></div>";
}

void LowestMargins(const std::vector<ReportEntry>& entries, std::string* out) {
  Rows judged;
  for (const ReportEntry& e : entries) {
    if (e.margin.has_margin) judged.push_back(&e);
  }
  std::stable_sort(judged.begin(), judged.end(), [](const ReportEntry* a, const ReportEntry* b) {
    return a->margin.margin < b->margin.margin;
  });
  judged.resize(std::min<std::size_t>(judged.size(), 5));
  *out += "<h2>Lowest margins</h2>";
  if (judged.empty()) {
    *out += "<p>No entry has a margin: none is locked with a known required Es/N0.</p>";
    return;
  }
  *out +=
      "<div class=\"scroll\"><table><thead><tr><th class=\"l\">ID</th><th "
      "class=\"l\">Transponder</th><th>Position</th><th>Frequency MHz</th><th>MER dB</th>"
      "<th>Required dB</th><th>Margin dB</th><th class=\"l\">Verdict</th></tr></thead><tbody>";
  for (const ReportEntry* e : judged) {
    *out += "<tr>" + Cell(e->texts.id, "l") + Cell(e->name, "l n") + Cell(PositionOf(*e)) +
            Cell(MegahertzText(e->decoded.nominal_frequency)) + Cell(e->texts.mer) +
            Cell(Num(e->margin.required / 100.0, 2)) + Cell(MarginText(e->margin)) +
            "<td class=\"l\">" + VerdictSpan(e->margin.verdict) + "</td></tr>";
  }
  *out += "</tbody></table></div>";
}

// A date line (the installation's date written in when known) and a line to
// sign for each party, the name printed under it.
void Acceptance(const ReportInfo& info, std::string* out) {
  const ReportJob& job = info.job;
  *out +=
      "<div class=\"accept\"><h2>Acceptance</h2><p>The installation above was handed over "
      "with the measurements of this report.</p><div class=\"sign\">";
  const std::tuple<const char*, std::string, std::string> lines[] = {
      {"Date", job.date, ""},
      {"Customer's signature", "", job.customer},
      {"Installer's signature", "", job.installer}};
  for (const auto& [label, written, name] : lines) {
    *out += "<div><div class=\"line\">" + HtmlEscape(ValidUtf8(written)) +
            "</div><span class=\"lab\">" + label + "</span>" +
            (name.empty() ? "" : " " + HtmlEscape(ValidUtf8(name))) + "</div>";
  }
  *out += "</div></div>";
}

std::string ThresholdNote(const Thresholds& t) {
  return "<p class=\"note\">Margin = MER \u2212 the Es/N0 the code rate needs: DVB-S2 per "
         "EN 302 307-1 (ideal, normal frame, AWGN), DVB-S per EN 300 421 (quasi-error-free). "
         "Good: a margin of " +
         Num(t.good / 100.0, 2) + " dB or more; marginal: from " + Num(t.marginal / 100.0, 2) +
         " dB; poor: below. A MER beyond the meter's range (\u201C&lt;\u201D or "
         "\u201C&gt;\u201D) gives a margin of at most or at least its value, and a verdict only "
         "where every value it allows gets the same one: otherwise \u201Cuncertain\u201D. DSS "
         "and code rates without a published value have no reference.</p>";
}

// ---- The rest: charts and the table of every entry.

void PositionSections(const std::map<uint32_t, Rows>& positions, std::string* out) {
  *out += "<section><h2>Levels and margins by satellite position</h2>" + Legend();
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
    const std::string where = HtmlEscape(PositionOf(*rows.front()));
    for (std::size_t first = 0; first < rows.size(); first += kChartRows) {
      const std::size_t last = std::min(rows.size(), first + kChartRows);
      *out += "<figure>";
      if (first == 0) {
        *out += "<h3>Satellite at " + where + "</h3>";
      }
      *out += "<figcaption>" +
              (rows.size() == 1 ? std::string("The one entry")
                                : "Entries " + Count(static_cast<int>(first + 1)) + "\u2013" +
                                      Count(static_cast<int>(last)) + " of " +
                                      Count(static_cast<int>(rows.size()))) +
              " at " + where + "</figcaption><div class=\"scroll\">" +
              Chart(Rows(rows.begin() + first, rows.begin() + last), rf, mer) +
              "</div></figure>";
    }
  }
  *out += "</section>";
}

void EntryTable(const std::vector<ReportEntry>& entries, std::string* out) {
  *out +=
      "<section><h2>All entries</h2><div class=\"scroll\"><table class=\"entries\"><thead><tr>"
      "<th class=\"l\">ID</th><th class=\"l\">Transponder</th><th>Position</th>"
      "<th>RF dBm</th><th>RF dB\u00B5V</th><th>RF dBmV</th><th>Lock</th><th>Pilots</th>"
      "<th>IQ</th><th>MER dB</th><th>QBER</th><th>Freq. MHz</th><th>Meas. MHz</th>"
      "<th>SR kS/s</th><th>Meas. kS/s</th><th class=\"l\">Standard</th><th class=\"l\">Code "
      "rate</th><th>Req. Es/N0 dB</th><th>Margin dB</th><th class=\"l\">Verdict</th></tr>"
      "</thead><tbody>";
  for (const ReportEntry& e : entries) {
    const ViewTexts& t = e.texts;
    const DecodedEntry& d = e.decoded;
    const LinkMargin& m = e.margin;
    // Not locked, the meter measured nothing (its 0 is not a reading).
    const bool locked = m.verdict != Verdict::kNoLock;
    *out += "<tr>" + Cell(t.id) + Cell(e.name, "n") + Cell(PositionOf(e)) +
            Cell(t.rf_dbm) + Cell(t.rf_dbuv) + Cell(t.rf_dbmv) + Cell(t.locked) + Cell(t.pilots) +
            Cell(t.iq_swap) + Cell(t.mer) + Cell(t.qber) +
            Cell(MegahertzText(d.nominal_frequency)) +
            Cell(locked ? MegahertzText(d.measured_frequency) : "") +
            Cell(Count(static_cast<int>(d.nominal_symbol_rate))) +
            Cell(locked ? Count(static_cast<int>(d.measured_symbol_rate)) : "") +
            Cell(t.standard) + Cell(t.code_rate) +
            Cell(m.has_required ? Num(m.required / 100.0, 2) : "") + Cell(MarginText(m)) +
            "<td>" + VerdictSpan(m.verdict) + "</td></tr>";
  }
  *out += "</tbody></table></div></section>";
}

// Whether the whole report fits the first sheet (Letter, the shorter paper),
// judged from the heights its parts print at, in millimetres.
bool FitsOnePage(const std::vector<ReportEntry>& entries,
                 const std::map<uint32_t, Rows>& positions, const ReportInfo& info) {
  const double rows = static_cast<double>(entries.size());
  const double lowest = std::min(rows, 5.0);
  const double first_page = 150 + (info.job.logo_type.empty() ? 0 : 10) +
                            5.5 * static_cast<double>(positions.size()) + 5.5 * lowest;
  const double charts = 16 + 16 * static_cast<double>(positions.size()) + 3.3 * rows;
  const double table = 18 + 3.2 * rows;
  return first_page + charts + table < 250;
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string Base64(const std::string& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
    out += kBase64[(n >> 18) & 63];
    out += kBase64[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kBase64[(n >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kBase64[n & 63] : '=';
  }
  return out;
}

std::string PositionText(uint32_t hundredths_east) {
  const auto degrees = [](uint32_t h) {
    char text[24];
    if (h % 10 == 0) {
      std::snprintf(text, sizeof text, "%u.%u", h / 100, h / 10 % 10);
    } else {
      std::snprintf(text, sizeof text, "%u.%02u", h / 100, h % 100);
    }
    return std::string(text);
  };
  if (hundredths_east <= 18000) return degrees(hundredths_east) + "\u00B0E";
  if (hundredths_east <= 36000) return degrees(36000 - hundredths_east) + "\u00B0W";
  char text[32];
  std::snprintf(text, sizeof text, "%u.%02u\u00B0E (out of range)", hundredths_east / 100,
                hundredths_east % 100);
  return text;
}

std::string MegahertzText(uint32_t khz) {
  char text[24];
  std::snprintf(text, sizeof text, "%u.%03u", khz / 1000, khz % 1000);
  return text;
}

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
  const bool alone = info.summary_only || FitsOnePage(entries, positions, info);
  out += alone ? "<section>" : "<section class=\"first\">";
  Header(entries, info, &out);
  Positions(entries, positions, &out);
  LowestMargins(entries, &out);
  Acceptance(info, &out);
  out += ThresholdNote(info.thresholds) + "</section>";
  if (!info.summary_only) {
    PositionSections(positions, &out);
    EntryTable(entries, &out);
  }
  out += "</body></html>\n";
  return out;
}

}  // namespace sq71
