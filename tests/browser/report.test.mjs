// sq71 report in a real browser: the picture each chart draws measured
// against `sq71 view --json`, the page at phone, laptop and wide widths, and
// its print on A4 and Letter.
//
//   node tests/browser/report.test.mjs SQ71 DATA_DIR WORK_DIR
import { execFileSync } from "node:child_process";
import { mkdirSync, readFileSync, rmSync, statSync, writeFileSync } from "node:fs";
import { join, resolve } from "node:path";
import { Checks, launch, pdfPages, pdfText, printPdf, scrollWidthAt } from "./harness.mjs";

const [sq71, data, work] = process.argv.slice(2).map((p) => resolve(p));
rmSync(work, { recursive: true, force: true });
mkdirSync(work, { recursive: true });
const t = new Checks();
const sq = (...args) => execFileSync(sq71, args, { cwd: work, encoding: "utf8" });

// Logs made from the sample's records: one entry alone, and a full log of
// 1024 with an ID of five digits each side and a 16-character name, MER
// bounds either side of the thresholds, and a position past 360 degrees.
const sample = readFileSync(join(data, "sample.ulg"));
const record = (n) => Buffer.from(sample.subarray(n * 64, n * 64 + 64));
const image = (records) => Buffer.concat([...records, Buffer.alloc(65536 - records.length * 64, 0xff)]);
const full = Array.from({ length: 1024 }, (_, n) => record(n % 36));
full.forEach((r, n) => r.writeUInt32LE(((3000 + Math.floor(n / 1000)) << 16) | ((n % 1000) + 1), 1));
full[0].writeUInt32LE(0xffffffff, 1);
full[0].write("WWWWWWWWWWWWWWWW", 5, "latin1");
full[1].writeUInt16LE(0x8000 | 90, 26); // DVB-S QPSK 5/6 at ">9.0"
full[2].writeUInt16LE(0x4000 | 100, 26); // DVB-S2 8PSK 2/3 at "<10.0"
full[3].writeUInt16LE(40000, 21);
writeFileSync(join(work, "full.ulg"), image(full));
writeFileSync(join(work, "one.ulg"), image([record(0)]));
writeFileSync(join(work, "sample.ulg"), sample);

const job = { customer: "Jane <Doe> & Sons", site: "12 Hill Road, Northby", installer: "Bob Fixit",
              company: "Dishes 'R' Us" };
sq("report", "sample.ulg", "--logo", join(data, "..", "resources", "sq71_icon.png"),
   ...Object.entries(job).flatMap(([k, v]) => [`--${k}`, v]));
sq("report", "full.ulg");
sq("report", "one.ulg");
sq("report", "sample.ulg", "--summary-only", "-o", "summary.html");
const entries = JSON.parse(sq("view", "--json", "full.ulg"));
const byId = new Map(entries.map((e) => [e.id, e]));

const size = statSync(join(work, "full.html")).size;
t.check(size < 1e6, `a 1024-entry report is ${size} bytes`);

// A position as an installer reads it, worked out here from the JSON.
const position = (east) =>
  east > 360 ? `${east.toFixed(2)}\u00B0E (out of range)`
  : east > 180 ? `${(360 - east).toFixed(1)}\u00B0W` : `${east.toFixed(1)}\u00B0E`;

const browser = await launch();
const page = await browser.newPage();
const open = (name) => page.goto("file://" + join(work, name));

for (const name of ["sample.html", "full.html"]) {
  await open(name);
  for (const s of await scrollWidthAt(page, [360, 1024, 1920])) {
    t.check(s.scrollWidth === s.innerWidth, `${name} at ${s.width} px is ${s.scrollWidth} px wide`);
  }
}

// Each chart's geometry in its own units, with the browser's measure of the
// texts that must stand clear of each other.
await open("full.html");
const charts = await page.evaluate(() => {
  const box = (e) => e && (({ x, width }) => ({ x, right: x + width }))(e.getBBox());
  const num = (e, a) => Number(e.getAttribute(a));
  const legend = Object.fromEntries([...document.querySelectorAll("svg.legend g")].map((g) =>
    [g.querySelector("text").textContent, getComputedStyle(g.querySelector("rect")).fill]));
  const axis = (svg, cls) => ({
    origin: num(svg.querySelector(`g.${cls} line.ax`), "x1"),
    ticks: [...svg.querySelectorAll(`g.${cls} text`)].map((e) => [Number(e.textContent), num(e, "x")]),
  });
  const bar = (r) => r && { x: num(r, "x"), right: num(r, "x") + num(r, "width"),
                            fill: getComputedStyle(r).fill };
  const texts = [...document.querySelectorAll("svg text")].map((e) => e.textContent);
  return { legend, texts, charts: [...document.querySelectorAll("svg.chart")].map((svg) => ({
    rf: axis(svg, "xr"), mer: axis(svg, "xm"), rows: [...svg.querySelectorAll(":scope > g:not([class])")].map((g) => {
      const [id, name] = g.querySelectorAll("text");
      const merBar = g.querySelector("rect:not(.fr):not(.fn)");
      const line = g.querySelector("line.rq");
      return { id: id.textContent, idBox: box(id), nameBox: box(name),
               rf: bar(g.querySelector("rect.fr, rect.fn")), mer: bar(merBar),
               label: merBar && box(merBar.nextElementSibling), line: line && num(line, "x1") };
    }),
  })) };
});

const fills = ["good", "marginal", "poor", "uncertain"].map((v) => charts.legend[v]);
t.check(new Set(fills).size === 4, `verdict fills are not told apart: ${fills}`);
t.check(!charts.texts.some((s) => /^[-\u2212]0$/.test(s)), "an axis reads -0");
const near = (a, b) => Math.abs(a - b) < 0.15;
for (const [n, chart] of charts.charts.entries()) {
  // The axis as its tick labels place it: a straight line through them all.
  const mapOf = ({ ticks }) => {
    const [[v0, x0], [v1, x1]] = [ticks[0], ticks[ticks.length - 1]];
    const x = (v) => x0 + ((v - v0) * (x1 - x0)) / (v1 - v0);
    t.check(ticks.every(([v, tx]) => near(x(v), tx)), `chart ${n}: ticks off their axis`);
    return { x, lo: v0, hi: v1 };
  };
  const [rf, mer] = [mapOf(chart.rf), mapOf(chart.mer)];
  t.check(near(chart.rf.origin, rf.x(rf.lo)) && near(chart.mer.origin, mer.x(mer.lo)),
          `chart ${n}: an axis does not start at its first tick`);
  for (const row of chart.rows) {
    const e = byId.get(row.id);
    const where = `chart ${n}, ${row.id}`;
    if (!t.check(e, `${where}: not an entry of the log`)) continue;
    t.check(row.idBox.right < row.nameBox.x, `${where}: the ID runs into the name`);
    if (e.rf_level_dbuv !== null && e.rf_level_dbuv <= rf.hi) {
      // A bar at the axis's start keeps a sliver to be seen by.
      const end = Math.max(rf.x(e.rf_level_dbuv), chart.rf.origin + 0.5);
      t.check(near(row.rf.x, chart.rf.origin) && near(row.rf.right, end),
              `${where}: RF bar ${row.rf.x}..${row.rf.right} for ${e.rf_level_dbuv} dBuV`);
    }
    if (e.required_esn0_db !== null) {
      t.check(near(row.line, mer.x(e.required_esn0_db)),
              `${where}: required line at ${row.line} for ${e.required_esn0_db} dB`);
    }
    if (e.mer_db === null) continue;
    const ends = [mer.x(Math.max(0, mer.lo)), mer.x(e.mer_db)].sort((a, b) => a - b);
    t.check(near(row.mer.x, ends[0]) && near(row.mer.right, ends[1]),
            `${where}: MER bar ${row.mer.x}..${row.mer.right} for ${e.mer_db} dB`);
    t.check(e.margin_db === null || row.mer.fill === charts.legend[e.verdict],
            `${where}: a ${e.verdict} bar filled ${row.mer.fill}`);
    if (row.line !== null) {
      t.check(row.label.right < row.line - 1 || row.label.x > row.line + 1,
              `${where}: the required line at ${row.line} crosses the MER label`);
    }
  }
}

// Chart text at the charts' narrowest: 10 CSS px on a phone, 7 pt on A4
// (188 mm of paper inside the page margins: 710 CSS px).
for (const [media, width, least, unit] of [["screen", 360, 10, "px"], ["print", 710, 7, "pt"]]) {
  await page.emulateMedia({ media });
  await page.setViewportSize({ width, height: 900 });
  const smallest = await page.evaluate(() => Math.min(...[...document.querySelectorAll("svg.chart")]
    .map((svg) => (svg.getBoundingClientRect().width / svg.viewBox.baseVal.width) *
      Math.min(...[...svg.querySelectorAll("text")].map((e) => parseFloat(getComputedStyle(e).fontSize))))));
  const shown = unit === "pt" ? smallest * 0.75 : smallest;
  t.check(shown >= least - 0.01, `chart text ${shown.toFixed(2)} ${unit} at ${width} px (${media})`);
}
await page.emulateMedia({ media: null });

// The table's units, from the JSON's own numbers.
const [heads, ...cells] = await page.evaluate(() => [...document.querySelectorAll("table.entries tr")]
  .map((tr) => [...tr.cells].map((c) => c.textContent)));
t.check(cells.every((row, i) => row[heads.indexOf("Freq. MHz")] ===
                                (entries[i].nominal_frequency_khz / 1000).toFixed(3) &&
                                row[heads.indexOf("Position")] === position(entries[i].longitude_deg_east)),
        "the table's MHz or positions are not the JSON's values");

// Print: the first page holds the job and every position's verdict; what
// follows starts on a page of its own unless all of it fits on one.
const pages = {};
for (const format of ["A4", "Letter"]) {
  for (const name of ["sample", "full", "one", "summary"]) {
    await open(name + ".html");
    const pdf = await printPdf(page, join(work, `${name}-${format}.pdf`), format);
    pages[`${name} ${format}`] = pdfPages(pdf);
  }
  const first = pdfText(join(work, `sample-${format}.pdf`)).replace(/\s+/g, " ");
  const missing = [...Object.values(job), "Acceptance", ...JSON.parse(sq("view", "--json", "sample.ulg"))
    .map((e) => position(e.longitude_deg_east))].filter((w) => !first.includes(w));
  t.check(!missing.length && !first.includes("Levels and margins"),
          `${format}: page one lacks ${missing} or holds the charts`);
  t.check(pages[`one ${format}`] === 1 && pages[`summary ${format}`] === 1 && pages[`full ${format}`] < 30,
          `${format}: one entry, the summary and the full log on ${pages[`one ${format}`]}, ` +
          `${pages[`summary ${format}`]} and ${pages[`full ${format}`]} pages`);
}
t.check(/1 entry at 1 satellite position:/.test(pdfText(join(work, "one-A4.pdf")).replace(/\s+/g, " ")),
        "one entry, said in the plural");
console.log(`report of 1024 entries: ${size} bytes; PDF pages: ` +
            Object.entries(pages).map(([k, v]) => `${k} ${v}`).join(", "));

// The first page of the sample's report, for the README.
await open("sample.html");
await page.setViewportSize({ width: 1000, height: 900 });
const bottom = await page.evaluate(() => document.querySelector("section").getBoundingClientRect().bottom);
await page.screenshot({ path: join(work, "report-first-page.png"), fullPage: true,
                        clip: { x: 0, y: 0, width: 1000, height: Math.ceil(bottom + 16) } });

await browser.close();
t.finish();
